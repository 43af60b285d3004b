// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>

namespace Kiln {

/// How an allocated image lies in memory. Rows are contiguous and start at multiples of
/// `rowAlignment` bytes (a power of two, at least 1) from the start of the allocation, which
/// keeps rows on cache lines and lets a GPU backend use pitched copies. The image is also divided
/// into tiles of `tileWidth` x `tileHeight` pixels from its box's lower-left corner, numbered
/// row-major; tiles only number pixels, they do not change where pixels lie.
struct LayoutSpec {
    std::size_t rowAlignment = 64;
    int tileWidth = 64;
    int tileHeight = 64;
};

}  // namespace Kiln
