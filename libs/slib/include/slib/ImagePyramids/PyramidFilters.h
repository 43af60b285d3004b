// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "kiln/Device.h"

namespace Korvane {
namespace SLIB {
namespace ImagePyramids {

// The filters of the image pyramids, shared by the pyramid kernels and by kernels that expand a
// level inside a larger computation (the stitcher's fused band and collapse loops), so that
// both interpolate exactly alike. Indices are local to each image (x minus the box's x0). Level
// k + 1 halves level k: coarse pixel i covers fine pixels 2i and 2i + 1, so its centre lies at
// fine coordinate 2i + 1 (pixel centres at +0.5).
//
// Border rule: plain pyramids repeat the edge pixel. Spherical pyramids treat every level as an
// equirectangular image: x wraps around, and a row beyond a pole is the row mirrored across
// the pole on the opposite meridian (x + width / 2), which is where the sphere continues.

/// The four channels of a pixel in one vector register (GCC and Clang vector extension).
typedef float Pixel4 __attribute__((vector_size(16)));

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

using ExpandTapTable = std::array<std::array<float, 4>, 2>;

/// Expand taps of the two phases. An even fine pixel 2m reads coarse m-2 .. m+1 (fine
/// distances -3.5, -1.5, 0.5, 2.5), an odd one 2m+1 reads m-1 .. m+2 (-2.5, -0.5, 1.5, 3.5).
inline ExpandTapTable ExpandTaps(float sigma) {
    ExpandTapTable w{};
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

/// Adds weight * row `y` of `image` into `line`: line[i] += weight * pixel(first + i) for i in
/// [0, count). Indices are local; rows and columns outside the image go through the border
/// rule.
template <int C>
void AddRowSpan(const Kiln::Compute::KernelImage& image,
                int y,
                bool spherical,
                float weight,
                float* line,
                int first,
                int count) {
    const int width = image.box.width();
    const BorderRow r = ResolveRow(y, image.box.height(), spherical);
    const float* row =
        reinterpret_cast<const float*>(image.origin + std::ptrdiff_t(r.row) * image.rowBytes);
    const int shift = r.acrossPole ? width / 2 : 0;
    // Inside the image the columns run straight, or wrap once across a pole: contiguous spans
    // of floats, which the compiler vectorises.
    auto span = [&](int i, int column, int n) {
        const float* __restrict p = row + std::ptrdiff_t(column) * C;
        float* __restrict o = line + std::ptrdiff_t(i) * C;
        for (std::ptrdiff_t k = 0; k < std::ptrdiff_t(n) * C; ++k) o[k] += weight * p[k];
    };
    for (int i = 0; i < count;) {
        const int x = first + i;
        if (x < 0 || x >= width) {
            span(i, ResolveColumn(x + shift, width, spherical), 1);
            ++i;
            continue;
        }
        const int column = x + shift < width ? x + shift : x + shift - width;
        const int n = std::min({count - i, width - x, width - column});
        span(i, column, n);
        i += n;
    }
}

/// The whole row with `pad` border pixels on both sides: line entry x + pad is column x.
template <int C>
void AddRow(const Kiln::Compute::KernelImage& image,
            int y,
            bool spherical,
            float weight,
            float* line,
            int pad) {
    AddRowSpan<C>(image, y, spherical, weight, line, -pad, image.box.width() + 2 * pad);
}

/// One row of a coarse level expanded to the finer level: the coarse rows filtered vertically
/// once per fine row, then any fine column interpolated horizontally from them. Reused across
/// rows by one thread (its buffer grows once).
class ExpandedRow {
public:
    static constexpr int kPad = 2;

    /// Prepares fine row `fineY`, local to the fine level (coarse row m covers fine 2m, 2m+1).
    template <int C>
    void prepare(const Kiln::Compute::KernelImage& coarse,
                 const ExpandTapTable& taps,
                 int fineY,
                 bool spherical) {
        m_line.assign(std::size_t(coarse.box.width() + 2 * kPad) * C, 0.0f);
        const int phase = fineY & 1;
        const int first = (fineY >> 1) - 2 + phase;
        for (int t = 0; t < 4; ++t)
            AddRow<C>(coarse, first + t, spherical, taps[phase][t], m_line.data(), kPad);
    }

    /// Fine column `fineX` (local to the fine level) of a 4-channel level, after prepare<4>.
    Pixel4 at4(const ExpandTapTable& taps, int fineX) const {
        const int q = fineX & 1;
        Pixel4 v[4];
        std::memcpy(v, m_line.data() + std::ptrdiff_t((fineX >> 1) + q) * 4, sizeof v);
        return ((taps[q][0] * v[0] + taps[q][1] * v[1]) + taps[q][2] * v[2]) + taps[q][3] * v[3];
    }

    /// The vertically filtered line: `kPad` pixels of border on each side of the coarse width.
    const float* line() const { return m_line.data(); }

private:
    std::vector<float> m_line;
};

}  // namespace ImagePyramids
}  // namespace SLIB
}  // namespace Korvane
