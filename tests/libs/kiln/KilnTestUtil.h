// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <cstring>
#include <random>

#include "kiln/Image.h"

namespace KilnTest {

/// Component c of pixel (x, y), widened to double.
inline double get(const Kiln::Image& image, int x, int y, int c) {
    const std::size_t size = Kiln::Pixel::DataSize(image.type());
    const unsigned char* p = image.row(y) + ((x - image.box().x0) * image.channels() + c) * size;
    switch (image.type()) {
        case Kiln::Pixel::ComponentType::Float: {
            float v;
            std::memcpy(&v, p, 4);
            return v;
        }
        case Kiln::Pixel::ComponentType::UnsignedInt: {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        case Kiln::Pixel::ComponentType::UnsignedByte:
            return *p;
    }
    return 0;
}

inline void set(const Kiln::Image& image, int x, int y, int c, double value) {
    const std::size_t size = Kiln::Pixel::DataSize(image.type());
    unsigned char* p = image.row(y) + ((x - image.box().x0) * image.channels() + c) * size;
    if (image.type() == Kiln::Pixel::ComponentType::Float) {
        const float v = float(value);
        std::memcpy(p, &v, 4);
    } else if (image.type() == Kiln::Pixel::ComponentType::UnsignedInt) {
        const std::uint32_t v = std::uint32_t(value);
        std::memcpy(p, &v, 4);
    } else {
        *p = static_cast<unsigned char>(value);
    }
}

/// An image with random components 1..1000 (never 0, so zeroed pixels show).
inline Kiln::Image randomImage(const Kiln::Info& info,
                               std::mt19937& rng,
                               Kiln::Compute::DevicePtr device = {}) {
    Kiln::Image image(info, std::move(device));
    std::uniform_int_distribution<int> value(1, 1000);
    for (int y = info.box.y0; y < info.box.y1; ++y)
        for (int x = info.box.x0; x < info.box.x1; ++x)
            for (int c = 0; c < info.channels; ++c) set(image, x, y, c, value(rng));
    return image;
}

/// Index of the first differing component, or -1 when every pixel of both images is equal.
inline long firstDifference(const Kiln::Image& a, const Kiln::Image& b) {
    long index = 0;
    for (int y = a.box().y0; y < a.box().y1; ++y)
        for (int x = a.box().x0; x < a.box().x1; ++x)
            for (int c = 0; c < a.channels(); ++c, ++index)
                if (get(a, x, y, c) != get(b, x, y, c)) return index;
    return -1;
}

}  // namespace KilnTest
