// SPDX-License-Identifier: Apache-2.0
#include "px/image/Colour.h"

#include <algorithm>
#include <cmath>

namespace PX {
namespace Image {

std::array<float, 3> HSVtoRGB(float h, float s, float v) {
    h = h - std::floor(h);
    s = std::clamp(s, 0.0f, 1.0f);
    v = std::clamp(v, 0.0f, 1.0f);
    const float sector = h * 6.0f;
    const int i = std::min(5, int(sector));
    const float f = sector - float(i);
    const float p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i) {
        case 0:
            return {v, t, p};
        case 1:
            return {q, v, p};
        case 2:
            return {p, v, t};
        case 3:
            return {p, q, v};
        case 4:
            return {t, p, v};
        default:
            return {v, p, q};
    }
}

}  // namespace Image
}  // namespace PX
