// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "kiln/CpuRows.h"
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

/// Hot row loops compiled twice, for the baseline x86-64 and for CPUs with AVX2 and FMA
/// (x86-64-v3), the version chosen once at load time; the two differ by float rounding (fused
/// multiply-adds). Clang cannot clone templates: put it on plain functions.
#if defined(__x86_64__)
#define SLIB_PYRAMID_CPU_VERSIONS __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define SLIB_PYRAMID_CPU_VERSIONS
#endif

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

/// The vertical pass of a filter of N taps: line[i] = sum over t of weights[t] x pixel(first +
/// i) of row firstRow + t, for i in [0, count), summed from zero in the order of t (the values
/// of N AddRowSpan calls into a cleared line). Where the N rows run straight (no pole) and the
/// columns lie inside the image, the rows are summed in one pass, each value stored once; the
/// columns beyond the sides, and lines that reach across a pole, take the border rule.
template <int C, int N>
inline __attribute__((always_inline)) void FilterRows(const Kiln::Compute::KernelImage& image,
                                                      int firstRow,
                                                      bool spherical,
                                                      const float* weights,
                                                      float* line,
                                                      int first,
                                                      int count) {
    const float* rows[N];
    bool straight = true;
    for (int t = 0; t < N; ++t) {
        const BorderRow r = ResolveRow(firstRow + t, image.box.height(), spherical);
        straight = straight && !r.acrossPole;
        rows[t] =
            reinterpret_cast<const float*>(image.origin + std::ptrdiff_t(r.row) * image.rowBytes);
    }
    // Line entries [a, b) read columns inside the image.
    const int a = straight ? std::clamp(-first, 0, count) : count;
    const int b = straight ? std::clamp(image.box.width() - first, a, count) : count;
    auto bordered = [&](int i0, int i1) {
        if (i1 <= i0) return;
        std::fill(line + std::ptrdiff_t(i0) * C, line + std::ptrdiff_t(i1) * C, 0.0f);
        for (int t = 0; t < N; ++t)
            AddRowSpan<C>(image,
                          firstRow + t,
                          spherical,
                          weights[t],
                          line + std::ptrdiff_t(i0) * C,
                          first + i0,
                          i1 - i0);
    };
    bordered(0, a);
    bordered(b, count);
    float w[N];
    for (int t = 0; t < N; ++t) w[t] = weights[t];
    const std::ptrdiff_t offset = std::ptrdiff_t(first + a) * C;
    const std::ptrdiff_t n = std::ptrdiff_t(b - a) * C;
    float* __restrict out = line + std::ptrdiff_t(a) * C;
    for (std::ptrdiff_t k = 0; k < n; ++k) {
        float acc = 0.0f;
        for (int t = 0; t < N; ++t) acc += w[t] * rows[t][offset + k];
        out[k] = acc;
    }
}

/// Row `y` of `coarse`, columns [x0, x1), reduced from `fine` (Gaussian blur and halve). Fine
/// pixels are indexed against the coarse box's origin doubled, so a coarse level may cover a
/// window of a larger fine image; for a pyramid's own levels (coarse origin = fine origin
/// halved, rounded down) this is the fine image's own index. `line` is the caller's scratch.
template <int C>
inline __attribute__((always_inline)) void ReduceRow(const Kiln::Compute::KernelImage& fine,
                                                     const Kiln::Compute::KernelImage& coarse,
                                                     int y,
                                                     int x0,
                                                     int x1,
                                                     const std::array<float, 8>& taps,
                                                     bool spherical,
                                                     std::vector<float>& line) {
    const int offsetX = 2 * coarse.box.x0 - 2 * (fine.box.x0 >> 1);
    const int offsetY = 2 * coarse.box.y0 - 2 * (fine.box.y0 >> 1);
    // Coarse x reads fine 2x-3 .. 2x+4 (relative to the coarse origin): only the columns the
    // row needs are filtered vertically.
    const int first = 2 * (x0 - coarse.box.x0) - 3 + offsetX;
    const int count = 2 * (x1 - x0) + 6;
    line.resize(std::size_t(count) * C);
    FilterRows<C, 8>(fine,
                     2 * (y - coarse.box.y0) - 3 + offsetY,
                     spherical,
                     taps.data(),
                     line.data(),
                     first,
                     count);
    float* out = Kiln::JIT::PixelAt<float, C>(coarse, x0, y);
    for (int x = x0; x < x1; ++x, out += C) {
        const float* in = line.data() + std::ptrdiff_t(2 * (x - x0)) * C;
        if constexpr (C == 4) {
            Pixel4 v[8];
            std::memcpy(v, in, sizeof v);
            Pixel4 acc = taps[0] * v[0];
            for (int t = 1; t < 8; ++t) acc = acc + taps[t] * v[t];
            std::memcpy(out, &acc, sizeof acc);
        } else {
            float acc[C] = {};
            for (int t = 0; t < 8; ++t)
                for (int c = 0; c < C; ++c) acc[c] += taps[t] * in[t * C + c];
            for (int c = 0; c < C; ++c) out[c] = acc[c];
        }
    }
}

/// One row of a coarse level expanded to the finer level: the coarse rows filtered vertically
/// once per fine row, then any fine column interpolated horizontally from them. Reused across
/// rows by one thread (its buffer grows once).
class ExpandedRow {
public:
    static constexpr int kPad = 2;

    /// Prepares fine row `fineY`, local to the fine level (coarse row m covers fine 2m, 2m+1).
    template <int C>
    __attribute__((always_inline)) void prepare(const Kiln::Compute::KernelImage& coarse,
                                                const ExpandTapTable& taps,
                                                int fineY,
                                                bool spherical) {
        prepareSpan<C>(coarse, taps, fineY, spherical, 0, 2 * coarse.box.width());
    }

    /// Prepares only what fine columns [fineX0, fineX1) of row `fineY` read (local indices):
    /// a row that needs a part of its columns filters that part of the coarse rows alone. The
    /// values are those of prepare; at4 of other columns is undefined until the next prepare.
    template <int C>
    __attribute__((always_inline)) void prepareSpan(const Kiln::Compute::KernelImage& coarse,
                                                    const ExpandTapTable& taps,
                                                    int fineY,
                                                    bool spherical,
                                                    int fineX0,
                                                    int fineX1) {
        const int entries = coarse.box.width() + 2 * kPad;
        if (m_line.size() < std::size_t(entries) * C) m_line.resize(std::size_t(entries) * C);
        // Fine column x reads entries (x >> 1) + (x & 1) .. that + 3.
        const int e0 = std::max(0, fineX0 >> 1);
        const int e1 = std::min(entries, ((fineX1 - 1) >> 1) + 5);
        if (e1 <= e0) return;
        const int phase = fineY & 1;
        FilterRows<C, 4>(coarse,
                         (fineY >> 1) - 2 + phase,
                         spherical,
                         taps[phase].data(),
                         m_line.data() + std::ptrdiff_t(e0) * C,
                         e0 - kPad,
                         e1 - e0);
    }

    /// Fine column `fineX` (local to the fine level) of a 4-channel level, after prepare<4>.
    __attribute__((always_inline)) Pixel4 at4(const ExpandTapTable& taps, int fineX) const {
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
