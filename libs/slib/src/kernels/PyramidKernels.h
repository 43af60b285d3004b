// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

#include "kiln/ParamName.h"

namespace Korvane {
namespace SLIB {
namespace Kernels {

// The two kernels of the image pyramids. Both work in each image's own pixel indices (x minus
// the box's x0), so a level's box may start anywhere. Level k + 1 halves level k: coarse pixel
// i covers fine pixels 2i and 2i + 1, so its centre lies at fine coordinate 2i + 1 (pixel
// centres at +0.5); an odd fine size gives ceil(size / 2) coarse pixels, the last reading past
// the edge through the border rule.
//
// Border rule: plain pyramids repeat the edge pixel. Spherical pyramids treat every level as an
// equirectangular image: x wraps around, and a row beyond a pole is the row mirrored across
// the pole on the opposite meridian (x + width / 2), which is where the sphere continues.

/// Reduce: Gaussian blur and halve. Images: fine source, coarse destination. Scalars: the
/// Gaussian parameter (sigma in fine pixels, float), spherical (bool).
constexpr const char* kPyramidReduceId =
    "9a61f5f2fd5049590ca4a3897de68cb65d092f9e00b047b00a047a5e1bf65b1f";
constexpr const char* kPyramidReduceParams = "o3973af070404ffa7 1\no51c54f02a5dd1bf3 4\n";

/// Expand: Gaussian interpolation of a coarse level to the fine size, combined with a fine
/// image: out = baseFactor * base + expandFactor * expand(coarse). Images: coarse, base (fine;
/// may be the output itself), output (fine). Scalars: Gaussian parameter (float), spherical
/// (bool), baseFactor, expandFactor (float).
constexpr const char* kPyramidExpandId =
    "718b1077c9724544d9f27973d5467fc028917462793a051cb97c59c5fb030ab0";
constexpr const char* kPyramidExpandParams =
    "o3973af070404ffa7 1\no51c54f02a5dd1bf3 4\no7ce4715256504916 1\no0366443d1943631b 1\n";

constexpr Kiln::Compute::ParamName kPyramidGaussian = 0x3973af070404ffa7;      // float
constexpr Kiln::Compute::ParamName kPyramidSpherical = 0x51c54f02a5dd1bf3;     // bool
constexpr Kiln::Compute::ParamName kPyramidBaseFactor = 0x7ce4715256504916;    // float
constexpr Kiln::Compute::ParamName kPyramidExpandFactor = 0x0366443d1943631b;  // float

void registerPyramidReduce();
void registerPyramidExpand();

/// Reduce taps at fine distances -3.5 .. 3.5 from the coarse centre, normalised.
inline std::array<float, 8> ReduceTaps(float sigma) {
    std::array<float, 8> w{};
    float sum = 0;
    for (int i = 0; i < 8; ++i) {
        const float d = float(i) - 3.5f;
        w[i] = std::exp(-d * d / (2 * sigma * sigma));
        sum += w[i];
    }
    for (float& v : w) v /= sum;
    return w;
}

/// Expand taps of the two phases. An even fine pixel 2m reads coarse m-2 .. m+1 (fine
/// distances -3.5, -1.5, 0.5, 2.5), an odd one 2m+1 reads m-1 .. m+2 (-2.5, -0.5, 1.5, 3.5).
inline std::array<std::array<float, 4>, 2> ExpandTaps(float sigma) {
    std::array<std::array<float, 4>, 2> w{};
    for (int phase = 0; phase < 2; ++phase) {
        float sum = 0;
        for (int i = 0; i < 4; ++i) {
            const float d = 2.0f * float(i) - (phase == 0 ? 3.5f : 2.5f);
            w[phase][i] = std::exp(-d * d / (2 * sigma * sigma));
            sum += w[phase][i];
        }
        for (float& v : w[phase]) v /= sum;
    }
    return w;
}

/// Where row `y` of a level of `height` rows is read from, and whether it is mirrored across a
/// pole (then x moves by half the width).
struct BorderRow {
    int row;
    bool acrossPole;
};

inline BorderRow ResolveRow(int y, int height, bool spherical) {
    if (!spherical) return {std::clamp(y, 0, height - 1), false};
    if (y < 0) return {std::min(-1 - y, height - 1), true};
    if (y >= height) return {std::max(2 * height - 1 - y, 0), true};
    return {y, false};
}

inline int ResolveColumn(int x, int width, bool spherical) {
    if (!spherical) return std::clamp(x, 0, width - 1);
    x %= width;
    return x < 0 ? x + width : x;
}

}  // namespace Kernels
}  // namespace SLIB
}  // namespace Korvane
