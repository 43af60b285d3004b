// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <ostream>

namespace PX {
namespace Image {

/// An integer pixel rectangle: x and y inclusive, r and t exclusive, y up (row y = 0 is the
/// bottom of the image). A box with r <= x or t <= y is empty.
class Box {
public:
    Box() = default;
    Box(int x, int y, int r, int t) : m_x(x), m_y(y), m_r(r), m_t(t) {}

    int x() const { return m_x; }
    int y() const { return m_y; }
    int r() const { return m_r; }
    int t() const { return m_t; }
    int w() const { return m_r - m_x; }
    int h() const { return m_t - m_y; }
    int width() const { return w(); }
    int height() const { return h(); }
    bool empty() const { return m_r <= m_x || m_t <= m_y; }
    void set(int x, int y, int r, int t) { *this = Box(x, y, r, t); }

    bool contains(int px, int py) const { return px >= m_x && px < m_r && py >= m_y && py < m_t; }
    /// The overlap of the two boxes; empty when they do not meet.
    Box intersect(const Box& o) const {
        return Box(
            std::max(m_x, o.m_x), std::max(m_y, o.m_y), std::min(m_r, o.m_r), std::min(m_t, o.m_t));
    }
    /// The smallest box holding both; an empty box adds nothing.
    Box merge(const Box& o) const {
        if (empty()) return o;
        if (o.empty()) return *this;
        return Box(
            std::min(m_x, o.m_x), std::min(m_y, o.m_y), std::max(m_r, o.m_r), std::max(m_t, o.m_t));
    }

    bool operator==(const Box& o) const {
        return m_x == o.m_x && m_y == o.m_y && m_r == o.m_r && m_t == o.m_t;
    }
    bool operator!=(const Box& o) const { return !(*this == o); }

private:
    int m_x = 0, m_y = 0, m_r = 0, m_t = 0;
};

inline std::ostream& operator<<(std::ostream& os, const Box& b) {
    return os << '(' << b.x() << ", " << b.y() << ", " << b.r() << ", " << b.t() << ')';
}

}  // namespace Image
}  // namespace PX
