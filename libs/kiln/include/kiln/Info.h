// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Box.h"
#include "kiln/Pixel.h"

namespace Kiln {

/// What an image holds: its pixel rectangle, 1 to 4 interleaved channels, and their type.
struct Info {
    Box box;
    int channels = 1;
    Pixel::ComponentType type = Pixel::ComponentType::Float;

    std::size_t pixelBytes() const { return std::size_t(channels) * Pixel::DataSize(type); }
    bool sameFormat(const Info& o) const { return channels == o.channels && type == o.type; }
};

}  // namespace Kiln
