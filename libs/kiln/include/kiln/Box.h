// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>

namespace Kiln {

/// An integer pixel rectangle, half-open: pixels x0 <= x < x1, y0 <= y < y1. Pixel (x, y)
/// covers [x, x + 1) x [y, y + 1), so its centre is at (x + 0.5, y + 0.5). Rows are stored
/// from y0 upwards; where bounds are passed as left, right, bottom, top they are x0, x1, y0, y1.
struct Box {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;

    int width() const { return x1 - x0; }
    int height() const { return y1 - y0; }
    bool empty() const { return x1 <= x0 || y1 <= y0; }
    bool contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
    /// Whether every pixel of `o` is one of this box's (an empty `o` always is).
    bool contains(const Box& o) const {
        return o.empty() || (o.x0 >= x0 && o.x1 <= x1 && o.y0 >= y0 && o.y1 <= y1);
    }

    /// The common pixels of both boxes; empty (not necessarily 0,0,0,0) when they do not meet.
    Box intersect(const Box& o) const {
        return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    }
    Box translated(int dx, int dy) const { return {x0 + dx, y0 + dy, x1 + dx, y1 + dy}; }

    friend bool operator==(const Box& a, const Box& b) {
        return a.x0 == b.x0 && a.y0 == b.y0 && a.x1 == b.x1 && a.y1 == b.y1;
    }
    friend bool operator!=(const Box& a, const Box& b) { return !(a == b); }
};

}  // namespace Kiln
