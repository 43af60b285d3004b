// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>

#include "kiln/Info.h"

namespace Kiln {

/// Caller-owned pixels in host memory: `data` points at pixel (info.box.x0, info.box.y0), and
/// the row above starts `rowBytes` further (rowBytes >= width * pixel bytes). The caller keeps
/// the memory alive for as long as any image made from the tile, or a copy of one, exists.
struct Tile {
    Info info;
    void* data = nullptr;
    std::ptrdiff_t rowBytes = 0;
};

}  // namespace Kiln
