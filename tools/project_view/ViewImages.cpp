// SPDX-License-Identifier: Apache-2.0
#include "ViewImages.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <vector>

#include <OpenImageIO/imageio.h>

Kiln::Image allocate(int width, int height) {
    Kiln::Info info;
    info.box = Kiln::Box{0, 0, width, height};
    info.channels = 4;
    return Kiln::Image(info, nullptr, {}, Kiln::Image::kClearOnAllocate);
}

float* at(const Kiln::Image& image, int x, int y) {
    return reinterpret_cast<float*>(image.row(y)) + 4 * x;
}

Kiln::Image readImage(const std::string& path) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw std::runtime_error(path + ": " + OIIO::geterror());
    const OIIO::ImageSpec& header = in->spec();
    std::vector<float> pixels(size_t(header.width) * header.height * header.nchannels);
    if (!in->read_image(0, 0, 0, header.nchannels, OIIO::TypeDesc::FLOAT, pixels.data()))
        throw std::runtime_error(path + ": " + in->geterror());
    Kiln::Image image = allocate(header.width, header.height);
    for (int y = 0; y < header.height; ++y)
        for (int x = 0; x < header.width; ++x) {
            const float* p =
                &pixels[(size_t(header.height - 1 - y) * header.width + x) * header.nchannels];
            float* o = at(image, x, y);
            for (int c = 0; c < 3; ++c) o[c] = p[std::min(c, header.nchannels - 1)];
            o[3] = 1.0f;
        }
    return image;
}

void writePng(const std::string& path, const Kiln::Image& image) {
    const int w = image.box().width(), h = image.box().height();
    std::vector<unsigned char> bytes(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const float v = std::clamp(at(image, x, h - 1 - y)[c], 0.0f, 1.0f);
                bytes[(size_t(y) * w + x) * 3 + c] =
                    (unsigned char)std::lround(255.0f * std::pow(v, 1.0f / 2.2f));
            }
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, OIIO::ImageSpec(w, h, 3, OIIO::TypeDesc::UINT8)) ||
        !out->write_image(OIIO::TypeDesc::UINT8, bytes.data()) || !out->close())
        throw std::runtime_error(path + ": cannot write");
    std::cout << "wrote " << path << "\n";
}
