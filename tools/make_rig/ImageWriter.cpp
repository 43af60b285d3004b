// SPDX-License-Identifier: Apache-2.0
#include "ImageWriter.h"

#include "Srgb.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include <OpenImageIO/imageio.h>

namespace Korvane {
namespace MakeRig {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

/// The sRGB encoding rounded to the nearest code.
std::uint8_t toSrgb8(float linear) {
    return static_cast<std::uint8_t>(std::lround(encodeSrgb(linear) * 255.0f));
}

void write(const std::string& path,
           OIIO::ImageSpec imageSpec,
           OIIO::TypeDesc dataType,
           const void* data) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) throw std::runtime_error(path + ": no image writer for this file type");
    // The writers stamp the current time unless told a time; a fixed one keeps runs identical.
    imageSpec.attribute("DateTime", "2000:01:01 00:00:00");
    if (endsWith(path, ".exr")) imageSpec.attribute("compression", "zip");
    if (endsWith(path, ".jpg")) imageSpec.attribute("Compression", "jpeg:95");
    if (!out->open(path, imageSpec) || !out->write_image(dataType, data) || !out->close())
        throw std::runtime_error(path + ": cannot write the image: " + out->geterror());
}

}  // namespace

void ImageWriter::writeColour(const std::string& path,
                              const RenderedView& view,
                              Precision precision) {
    if (endsWith(path, ".exr")) {
        const OIIO::ImageSpec imageSpec(
            view.width,
            view.height,
            3,
            precision == Precision::Half ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
        write(path, imageSpec, OIIO::TypeDesc::FLOAT, view.rgb.data());
        return;
    }
    std::vector<std::uint8_t> bytes(view.rgb.size());
    std::transform(view.rgb.begin(), view.rgb.end(), bytes.begin(), toSrgb8);
    OIIO::ImageSpec imageSpec(view.width, view.height, 3, OIIO::TypeDesc::UINT8);
    imageSpec.attribute("oiio:ColorSpace", "sRGB");
    write(path, imageSpec, OIIO::TypeDesc::UINT8, bytes.data());
}

void ImageWriter::writeDepth(const std::string& path, const RenderedView& view) {
    if (!endsWith(path, ".exr")) throw std::runtime_error(path + ": depth needs an EXR file");
    OIIO::ImageSpec imageSpec(view.width, view.height, 1, OIIO::TypeDesc::FLOAT);
    imageSpec.channelnames = {"Z"};
    write(path, imageSpec, OIIO::TypeDesc::FLOAT, view.depth.data());
}

}  // namespace MakeRig
}  // namespace Korvane
