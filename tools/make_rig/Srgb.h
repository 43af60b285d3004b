// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cmath>

namespace Korvane {
namespace MakeRig {

/// Linear light as an 8-bit file records it, before rounding to codes: clamped to 0 .. 1, then
/// the sRGB curve (IEC 61966-2-1). The footage's PNG, TIFF and JPEG files are written with it,
/// and the tools that compare with the truth encode it the same way.
inline float encodeSrgb(float linear) {
    const float x = std::clamp(linear, 0.0f, 1.0f);
    return x <= 0.0031308f ? 12.92f * x : 1.055f * std::pow(x, 1.0f / 2.4f) - 0.055f;
}

}  // namespace MakeRig
}  // namespace Korvane
