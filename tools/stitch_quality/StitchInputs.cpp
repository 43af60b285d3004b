// SPDX-License-Identifier: Apache-2.0
#include "StitchInputs.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include <OpenImageIO/imageio.h>

#include "Srgb.h"
#include "px/image/MetaData.h"
#include "render/CommonPanoramaRenderer.h"
#include "render/projection/ProjectTo.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigFile.h"

namespace StitchQuality {

using namespace Korvane::Research;

std::vector<float> ReadRgb(const std::string& path, int* width, int* height) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw std::runtime_error(path + ": " + OIIO::geterror());
    const OIIO::ImageSpec& header = in->spec();
    *width = header.width;
    *height = header.height;
    std::vector<float> file(std::size_t(header.width) * header.height * 3);
    if (!in->read_image(0, 0, 0, 3, OIIO::TypeDesc::FLOAT, file.data()))
        throw std::runtime_error(path + ": " + in->geterror());
    // Files hold the top row first; our rows go up.
    std::vector<float> rows(file.size());
    const std::size_t stride = std::size_t(header.width) * 3;
    for (int r = 0; r < header.height; ++r)
        std::copy_n(&file[r * stride], stride, &rows[(header.height - 1 - r) * stride]);
    return rows;
}

void WritePng(const std::string& path, const Kiln::Image& rgba, const Kiln::Box* crop) {
    const Kiln::Box box = crop ? crop->intersect(rgba.box()) : rgba.box();
    const int w = box.width(), h = box.height();
    std::vector<unsigned char> out(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const float* row = reinterpret_cast<const float*>(rgba.row(box.y0 + y)) +
                           std::ptrdiff_t(box.x0 - rgba.box().x0) * 4;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                out[(std::size_t(h - 1 - y) * w + x) * 3 + c] = static_cast<unsigned char>(
                    std::lround(255 * Korvane::MakeRig::encodeSrgb(row[x * 4 + c])));
    }
    auto file = OIIO::ImageOutput::create(path);
    if (!file || !file->open(path, OIIO::ImageSpec(w, h, 3, OIIO::TypeDesc::UINT8)) ||
        !file->write_image(OIIO::TypeDesc::UINT8, out.data()))
        throw std::runtime_error(path + ": cannot write");
    file->close();
}

StitchInputs::StitchInputs(const std::string& dir, int width, int height)
    : m_dir(dir), m_width(width), m_height(height) {
    PX::Image::MetaData::Bundle bundle;
    ReadRigFile(dir + "/rig.json", &bundle);
    MetaDataHandler handler;
    handler.updateMetaDataBundle(bundle);
    m_rig = handler.getRig();
    m_convergence = handler.getRigConvergence();
}

std::vector<std::pair<int, int>> StitchInputs::links() const {
    std::vector<std::pair<int, int>> pairs;
    for (int a = 0; a < cameras(); ++a)
        for (int b : m_rig.getLinks(a))
            if (a < b) pairs.push_back({a, b});
    return pairs;
}

std::array<float, 3> StitchInputs::axis(int camera) const {
    return Korvane::Research::CommonPanoramaRenderer::opticalAxis(
        Kiln::ImageProjection::cameraRecord(m_rig.getCamera(camera)));
}

Kiln::Image StitchInputs::camera(int camera, int frame) const {
    char name[64];
    std::snprintf(name, sizeof name, "/cam%d.%04d.exr", camera + 1, frame);
    int w = 0, h = 0;
    const std::vector<float> rgb = ReadRgb(m_dir + name, &w, &h);
    Kiln::Info info;
    info.box = {0, 0, w, h};
    info.channels = 4;
    Kiln::Image input(info, nullptr);
    for (int y = 0; y < h; ++y) {
        float* row = reinterpret_cast<float*>(input.row(y));
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) row[x * 4 + c] = rgb[(std::size_t(y) * w + x) * 3 + c];
            row[x * 4 + 3] = 1.0f;
        }
    }
    const CameraDefinition& def = m_rig.getCamera(camera);
    Kiln::ImageProjection::ProjectTo toPanorama(2);
    toPanorama.records().camera = Kiln::ImageProjection::cameraRecord(def);
    toPanorama.records().lens = Kiln::ImageProjection::lensRecord(def);
    toPanorama.records().parallax = {{0, 0, 0}, float(m_convergence)};
    toPanorama.setSourceSize({w, h});
    toPanorama.setFilter(Kiln::ImageProjection::Filter::Cubic);
    info.box = {0, 0, m_width, m_height};
    Kiln::Image panorama(info, nullptr, {}, Kiln::Image::kClearOnAllocate);
    if (!toPanorama.run(panorama, input, {m_width, m_height}))
        throw std::runtime_error(m_dir + name + ": camera " + std::to_string(camera + 1) +
                                 " cannot be projected");
    return panorama;
}

}  // namespace StitchQuality
