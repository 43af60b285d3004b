// SPDX-License-Identifier: Apache-2.0
// Resampling a source through a position image (see PositionImage.h), one kernel per filter.
//
// Images: source (C float channels), positions (2 float), destination (C float; the output).
// Signatures 1f_2f_1f, 2f_2f_2f, 3f_2f_3f, 4f_2f_4f. Scalars, in order: the source frame's
// width and height (int) and the wrap flag (bool).
//
// The source frame is [0, width] x [0, height] in absolute pixels; the source image may hold
// any part of it. A destination pixel shows zeros in every channel, alpha included, where its
// position is kNoSample or lies outside the frame (edges included, as for the rig library's
// projections), or where the positions image has no pixel. Filter taps that fall outside the
// source image read its nearest pixel, so a sample is never darkened by what lies beyond the
// image. With the wrap flag the source is a full panorama: x is taken modulo the frame width
// (taps included), so no column appears at the seam, and only y can fall outside.
//
// Where the positions shrink the source (one destination pixel spans more than 1.25 source
// pixels along a source axis, measured from the neighbouring positions), the filter's kernel is
// stretched along that axis so that it averages what the pixel covers (filterStretch below);
// elsewhere every tap is the filter's own. Nearest is never stretched.
//
// Filters, by the value that chooses them: 0 Bilinear (2 x 2 taps), 1 Cubic (Keys' cubic
// convolution with a = -0.5, Catmull-Rom, 4 x 4 taps: a step overshoots by at most 2/27 of its
// height), 2 Lanczos (Lanczos-3, 6 x 6 taps, weights normalised to sum 1; a step overshoots by
// at most 0.118 of its height), 3 Nearest (the pixel holding the position; for masks, vector and
// id images, where a blend of neighbours means nothing).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "kiln/CpuKernel.h"
#include "kiln/KernelRegistration.h"
#include "kiln/ParamName.h"
#include "render/kernels/PositionImage.h"

namespace Korvane {
namespace Research {
namespace Kernels {

constexpr const char* kResampleBilinearId =
    "2d79eb9a519dbcbbbcdbee7efedde99f9a92b3d64d295fd3c89e0ac8bf93b9ac";
constexpr const char* kResampleCubicId =
    "0dd1cc072ca0edf8a9857ad55f98228adc6c7ec3b9bafe083c6a312cf6bafa5f";
constexpr const char* kResampleLanczosId =
    "438fbdc020ef88c79d2882d94f1796edeea592abc1a66ebfe41a8299aadbc6b5";
constexpr const char* kResampleNearestId =
    "516c978427794946d930ec2db527d36ceb07585b43d8bcbeba85de7a839e0475";
constexpr const char* kResampleParams =
    "o604d2b56a4b19c6a 3\no282e13751dbdc886 3\no0350a78b33c79f48 4\n";

constexpr Kiln::Compute::ParamName kResampleWidth = 0x604d2b56a4b19c6a;   // int
constexpr Kiln::Compute::ParamName kResampleHeight = 0x282e13751dbdc886;  // int
constexpr Kiln::Compute::ParamName kResampleWrap = 0x0350a78b33c79f48;    // bool

/// Registers the variants of the four resampling kernels; later calls do nothing.
void registerResample();

struct NearestFilter {
    static constexpr int kTaps = 1;
};

struct BilinearFilter {
    static constexpr int kTaps = 2;
    static constexpr float kRadius = 1.0f;
    /// The filter's kernel at distance x (in taps) from the position.
    static float kernel(float x) { return std::max(0.0f, 1.0f - std::abs(x)); }
    static void weights(float t, float* w) {
        w[0] = 1.0f - t;
        w[1] = t;
    }
};

/// Keys (1981), cubic convolution with a = -0.5; taps at offsets -1 .. 2 from the pixel below
/// the position.
struct CubicFilter {
    static constexpr int kTaps = 4;
    static constexpr float kRadius = 2.0f;
    static float kernel(float x) {
        const float a = std::abs(x);
        return a < 1.0f   ? (1.5f * a - 2.5f) * a * a + 1.0f
               : a < 2.0f ? ((-0.5f * a + 2.5f) * a - 4.0f) * a + 2.0f
                          : 0.0f;
    }
    static void weights(float t, float* w) {
        w[0] = ((-0.5f * t + 1.0f) * t - 0.5f) * t;
        w[1] = (1.5f * t - 2.5f) * t * t + 1.0f;
        w[2] = ((-1.5f * t + 2.0f) * t + 0.5f) * t;
        w[3] = (0.5f * t - 0.5f) * t * t;
    }
};

/// Lanczos-3: L(x) = sinc(x) sinc(x / 3) for |x| < 3, taps at offsets -2 .. 3, normalised to
/// sum 1. The weights come from a table of 1025 sub-pixel phases (the position moves by at most
/// 1/2048 px), computed once: six sines a pixel would cost more than the 36 taps.
struct LanczosFilter {
    static constexpr int kTaps = 6;
    static constexpr float kRadius = 3.0f;
    static constexpr int kPhases = 1024;

    /// The exact weights at phase t in [0, 1].
    static void exactWeights(double t, float* w) {
        constexpr double kPiD = 3.14159265358979323846;
        double v[kTaps];
        double sum = 0.0;
        for (int i = 0; i < kTaps; ++i) {
            const double x = t - double(i - 2);
            v[i] = std::abs(x) < 1e-9 ? 1.0
                                      : 3.0 * std::sin(kPiD * x) * std::sin(kPiD * x / 3.0) /
                                            (kPiD * kPiD * x * x);
            sum += v[i];
        }
        for (int i = 0; i < kTaps; ++i) w[i] = float(v[i] / sum);
    }
    static const float* table() {
        static const std::vector<float> weights = [] {
            std::vector<float> all(std::size_t(kPhases + 1) * kTaps);
            for (int p = 0; p <= kPhases; ++p)
                exactWeights(double(p) / kPhases, &all[std::size_t(p) * kTaps]);
            return all;
        }();
        return weights.data();
    }
    /// sin(pi x) for |x| well inside the int range: x less its nearest integer k, whose sine
    /// an odd polynomial gives (to 6e-8 on [-1/2, 1/2]), negated for odd k. No branch, so that
    /// a loop over it vectorises.
    static float sinPi(float x) {
        const int k = floorToInt(x + 0.5f);
        const float r = x - float(k), r2 = r * r;
        const float s =
            r * (3.14159265f +
                 r2 * (-5.16771278f +
                       r2 * (2.55016404f +
                             r2 * (-0.599264529f + r2 * (0.0821458867f - r2 * 0.00737043094f)))));
        return k & 1 ? -s : s;
    }
    /// L(x), unnormalised, computed (not from a table: in a vectorised loop a table's lookups
    /// become gathers, slower than the sines).
    static float kernel(float x) {
        constexpr float kScale = 3.0f / (3.14159265f * 3.14159265f);
        const float x2 = x * x;
        const float l = kScale * sinPi(x) * sinPi(x * (1.0f / 3.0f)) / std::max(x2, 1e-30f);
        return x2 < 1e-12f ? 1.0f : x2 < 9.0f ? l : 0.0f;
    }
    static void weights(float t, float* w) {
        const float* row = table() + std::ptrdiff_t(int(t * float(kPhases) + 0.5f)) * kTaps;
        for (int i = 0; i < kTaps; ++i) w[i] = row[i];
    }
};

/// The source of a resampling launch: its pixels, its frame and how taps are addressed.
struct SourceView {
    const unsigned char* origin;
    std::ptrdiff_t rowBytes;
    Kiln::Box box;
    float frameWidth;
    float frameHeight;
    int period;  // frame width when wrapping, else 0

    SourceView(const Kiln::Compute::KernelImage& image, int width, int height, bool wrap)
        : origin(image.origin),
          rowBytes(image.rowBytes),
          box(image.box),
          frameWidth(float(width)),
          frameHeight(float(height)),
          period(wrap ? width : 0) {}

    /// True when (px, py) lies in the frame; a wrapping source first takes px modulo its width.
    bool contains(float& px, float py) const {
        if (!(py >= 0.0f && py <= frameHeight)) return false;
        if (period > 0 && !(px >= 0.0f && px < frameWidth) && std::abs(px) < 1e9f)
            px -= frameWidth * std::floor(px / frameWidth);
        return px >= 0.0f && px <= frameWidth;
    }
    int column(int i) const {
        if (period > 0) i = wrapIndex(i, period);
        return std::clamp(i, box.x0, box.x1 - 1) - box.x0;
    }
    int row(int j) const { return std::clamp(j, box.y0, box.y1 - 1) - box.y0; }
    const float* rowAt(int localRow) const {
        return reinterpret_cast<const float*>(origin + std::ptrdiff_t(localRow) * rowBytes);
    }
};

/// The sum of nx x ny taps (at most kMax a side) from column `left` and row `bottom` on,
/// weighted by wx across and wy down, into out[0 .. C): taps beyond the source image read its
/// nearest pixel, a wrapping source's columns wrap.
template <int C, int kMax>
inline __attribute__((always_inline)) void sumTaps(const SourceView& s,
                                                   int left,
                                                   int nx,
                                                   int bottom,
                                                   int ny,
                                                   const float* wx,
                                                   const float* wy,
                                                   float* out) {
    int columns[kMax];
    for (int i = 0; i < nx; ++i) columns[i] = s.column(left + i) * C;
    float acc[C] = {};
    for (int j = 0; j < ny; ++j) {
        const float* r = s.rowAt(s.row(bottom + j));
        float across[C] = {};
        for (int i = 0; i < nx; ++i)
            for (int c = 0; c < C; ++c) across[c] += wx[i] * r[columns[i] + c];
        for (int c = 0; c < C; ++c) acc[c] += wy[j] * across[c];
    }
    for (int c = 0; c < C; ++c) out[c] = acc[c];
}

/// The source, seen through filter F, at position (px, py), into out[0 .. C). False (out
/// untouched) where the position shows nothing.
template <class F, int C>
inline bool samplePixel(const SourceView& s, float px, float py, float* out) {
    if (!s.contains(px, py)) return false;
    if constexpr (F::kTaps == 1) {
        const float* p = s.rowAt(s.row(floorToInt(py))) + s.column(floorToInt(px)) * C;
        for (int c = 0; c < C; ++c) out[c] = p[c];
    } else {
        constexpr int kTaps = F::kTaps;
        constexpr int kFirst = 1 - kTaps / 2;
        const float u = px - 0.5f;
        const float v = py - 0.5f;
        const int iu = floorToInt(u);
        const int iv = floorToInt(v);
        float wx[kTaps];
        float wy[kTaps];
        F::weights(u - float(iu), wx);
        F::weights(v - float(iv), wy);
        sumTaps<C, kTaps>(s, iu + kFirst, kTaps, iv + kFirst, kTaps, wx, wy, out);
    }
    return true;
}

/// Four channels in one vector register, and two pixels' four channels in one wider vector
/// (GCC and Clang vector extension: one AVX register where the CPU has it, two SSE ones else).
/// A Pixel8 never crosses a call (its ABI would depend on the target).
typedef float Pixel4 __attribute__((vector_size(16)));
typedef float Pixel8 __attribute__((vector_size(32)));

/// Four channels through filter F (not Nearest) where all kTaps x kTaps taps lie inside the
/// source: `first` is the first tap (the lowest row's leftmost), the rows `rowBytes` apart,
/// `wx` and `wy` the filter's weights, `weightStep` floats apart. Two neighbouring taps of a row
/// are read and weighted as one eight-float vector. The same weights as samplePixel<F, 4>; the sums
/// are grouped differently, which changes the result by float rounding only.
template <class F>
inline __attribute__((always_inline)) void sampleInside4(const unsigned char* first,
                                                         std::ptrdiff_t rowBytes,
                                                         const float* wx,
                                                         const float* wy,
                                                         float* out,
                                                         int weightStep = 1) {
    constexpr int kTaps = F::kTaps;
    static_assert(kTaps % 2 == 0, "taps are taken in pairs");
    Pixel8 pair[kTaps / 2] = {};
    for (int t = 0; t < kTaps / 2; ++t) {
        const float a = wx[2 * t * weightStep], b = wx[(2 * t + 1) * weightStep];
        const float lanes[8] = {a, a, a, a, b, b, b, b};
        std::memcpy(&pair[t], lanes, sizeof lanes);
    }
    Pixel8 acc = {};
    for (int j = 0; j < kTaps; ++j) {
        const float* r = reinterpret_cast<const float*>(first + std::ptrdiff_t(j) * rowBytes);
        Pixel8 across = {};
        for (int t = 0; t < kTaps / 2; ++t) {
            Pixel8 taps;
            std::memcpy(&taps, r + 8 * t, sizeof taps);
            across += pair[t] * taps;
        }
        acc += wy[j * weightStep] * across;
    }
    const Pixel4 result =
        Pixel4{acc[0], acc[1], acc[2], acc[3]} + Pixel4{acc[4], acc[5], acc[6], acc[7]};
    std::memcpy(out, &result, sizeof result);
}

/// The same, `first` the first tap of the source's rows (left, bottom), counted locally.
template <class F>
inline __attribute__((always_inline)) void sampleInside4(
    const SourceView& s, int left, int bottom, const float* wx, const float* wy, float* out) {
    sampleInside4<F>(reinterpret_cast<const unsigned char*>(s.rowAt(bottom) + 4 * left),
                     s.rowBytes,
                     wx,
                     wy,
                     out);
}

/// Shrinking. Where one destination pixel spans more than one source pixel along a source axis
/// (its footprint: the position's change from one destination pixel to the next), the filter's
/// kernel is stretched along that axis, so that it averages what the pixel covers instead of
/// point-sampling it (which aliases fine texture into moire). Footprints up to kWidenFrom keep
/// the filter exactly as it is; from kWidenFrom to 2 the stretch ramps from 1 to 2 (no step in
/// sharpness where widening starts), then it equals the footprint, up to kMaxStretch.
constexpr float kWidenFrom = 1.25f;
constexpr float kMaxStretch = 4.0f;

/// The stretch of the filter for a footprint of `scale` source pixels; 1 for NaN. Selects, no
/// branches, so that a row of them vectorises.
inline __attribute__((always_inline)) float filterStretch(float scale) {
    const float ramped = scale >= 2.0f ? scale : 1.0f + (scale - kWidenFrom) / (2.0f - kWidenFrom);
    return scale > kWidenFrom ? std::min(ramped, kMaxStretch) : 1.0f;
}

/// Three rows of source positions (x, y pairs, as in a position image) around a row of
/// destination pixels, for the footprints of its pixels: a missing neighbouring row (beyond
/// the positions) is the row itself, marked absent.
struct PositionRows {
    const float* row;
    const float* below;
    const float* above;
    bool hasBelow, hasAbove;
    float period, half;  // a wrapping source's frame width and its half; else 0 and infinity

    PositionRows(const float* r, const float* b, const float* a, int wrapPeriod)
        : row(r),
          below(b),
          above(a),
          hasBelow(below != row),
          hasAbove(above != row),
          period(float(wrapPeriod)),
          half(wrapPeriod > 0 ? 0.5f * float(wrapPeriod) : std::numeric_limits<float>::infinity()) {
    }

    /// The squared footprints of pixel i (counted from `row`'s first) along the
    /// source's x and y: the squared length of the position's change per destination pixel,
    /// over both destination axes, along each source axis (the box around the image of a round
    /// destination pixel). Central differences, one-sided where a neighbour is kNoSample or
    /// beyond the image (`left`, `right`: whether pixels i - 1 and i + 1 exist); a difference
    /// across a wrapping source's seam is taken the short way round. 0 where pixel i shows
    /// nothing.
    inline __attribute__((always_inline)) void footprint(
        int i, bool left, bool right, float* sx2, float* sy2) const {
        const float* c = row + 2 * i;
        if (!isSample(c[0])) {  // most of a camera's positions over a panorama
            *sx2 = *sy2 = 0.0f;
            return;
        }
        const float* l = c - 2 * int(left);
        const float* r = c + 2 * int(right);
        const float* b = below + 2 * i;
        const float* a = above + 2 * i;
        // Absent sides fall back to the centre: one-sided differences, or none.
        left &= isSample(l[0]), right &= isSample(r[0]);
        const bool down = hasBelow & isSample(b[0]), up = hasAbove & isSample(a[0]);
        if (!left) l = c;
        if (!right) r = c;
        if (!down) b = c;
        if (!up) a = c;
        const float acrossScale = left & right ? 0.5f : 1.0f, downScale = down & up ? 0.5f : 1.0f;
        const auto unwrap = [this](float d) {
            return d > half ? d - period : d < -half ? d + period : d;
        };
        const float acrossX = unwrap(r[0] - l[0]) * acrossScale;
        const float downX = unwrap(a[0] - b[0]) * downScale;
        const float acrossY = (r[1] - l[1]) * acrossScale, downY = (a[1] - b[1]) * downScale;
        *sx2 = acrossX * acrossX + downX * downX;
        *sy2 = acrossY * acrossY + downY * downY;
    }

    /// False when no pixel in [i0, i1) (neighbours on both sides within the row) has a squared
    /// footprint above `limit`: a bound from the largest change to each neighbour, which a
    /// central or one-sided difference cannot exceed. One pass without branches, which
    /// vectorises; kNoSample beside a sample, the seam of a wrapping source and NaN make it
    /// true, and the caller then measures each pixel.
    bool anyMayShrink(int i0, int i1, float limit) const {
        int wide = 0;
        for (int i = i0; i < i1; ++i) {
            const float* c = row + 2 * i;
            const float *b = below + 2 * i, *a = above + 2 * i;
            const float ax = std::max(std::abs(c[0] - c[-2]), std::abs(c[2] - c[0]));
            const float ay = std::max(std::abs(c[1] - c[-1]), std::abs(c[3] - c[1]));
            const float dx = std::max(std::abs(c[0] - b[0]), std::abs(a[0] - c[0]));
            const float dy = std::max(std::abs(c[1] - b[1]), std::abs(a[1] - c[1]));
            wide |= !(ax * ax + dx * dx <= limit) | !(ay * ay + dy * dy <= limit);
        }
        return wide != 0;
    }
};

/// The filter's stretches along x and y at pixels [a, b): measure(x) writes pixel x's squared
/// footprints to stretchX/Y[x - a] and returns whether one exceeds kWidenFrom squared. Where
/// one does, they become filterStretch of the footprints, and the result is true.
template <class Measure>
inline __attribute__((always_inline)) bool filterStretches(
    int a, int b, const Measure& measure, float* stretchX, float* stretchY) {
    bool shrinks = false;
    for (int x = a; x < b; ++x) shrinks |= measure(x);
    if (!shrinks) return false;
    for (int i = 0; i < b - a; ++i) {
        stretchX[i] = filterStretch(std::sqrt(stretchX[i]));
        stretchY[i] = filterStretch(std::sqrt(stretchY[i]));
    }
    return true;
}

/// At most this many taps along an axis of filter F stretched by kMaxStretch.
template <class F>
constexpr int kStretchedTaps = F::kTaps* int(kMaxStretch) + 1;

/// The weights of a stretched axis are computed in groups of eight (one vector): arrays of
/// them hold kStretchedTaps rounded up to a group.
template <class F>
constexpr int kStretchedSlots = (kStretchedTaps<F> + 7) / 8 * 8;

/// The kernel of filter F at from + k step into w[k], k < kLength, and the sum of w.
template <class F, int kLength>
inline __attribute__((always_inline)) float kernelGroups(float from, float step, float* w) {
    // Kept a loop (not unrolled first), so that it vectorises despite the kernel's branches.
#pragma GCC unroll 1
    for (int k = 0; k < kLength; ++k) w[k] = F::kernel(from + float(k) * step);
    Pixel8 sum = {};
    for (int g = 0; g < kLength; g += 8) {
        Pixel8 group;
        std::memcpy(&group, w + g, sizeof group);
        sum += group;
    }
    const Pixel4 half =
        Pixel4{sum[0], sum[1], sum[2], sum[3]} + Pixel4{sum[4], sum[5], sum[6], sum[7]};
    return (half[0] + half[2]) + (half[1] + half[3]);
}

/// The taps along one axis of filter F stretched by `stretch` (>= 1) at u (the position less
/// half a pixel): every tap i with |i - u| < F::kRadius * stretch, the first into `first`, the
/// kernel's values into w[0 .. n) and zeros (or next to nothing) after them up to n rounded up
/// to eight, not normalised: their sum's reciprocal goes to `norm`. Returns n.
template <class F>
inline __attribute__((always_inline)) int stretchedWeights(
    float u, float stretch, int* first, float* w, float* norm) {
    constexpr int kMax = kStretchedTaps<F>;
    const float radius = F::kRadius * stretch;
    const int lo = floorToInt(u - radius) + 1;
    const int n = std::min(floorToInt(u + radius) - lo + 1, kMax);
    const float step = 1.0f / stretch;
    const float from = (float(lo) - u) * step;
    // Whole groups of eight, fixed in length, so that the kernel takes a few vector
    // instructions a group (it is zero from its radius on).
    const float sum = n <= 8    ? kernelGroups<F, 8>(from, step, w)
                      : n <= 16 ? kernelGroups<F, 16>(from, step, w)
                                : kernelGroups<F, kStretchedSlots<F>>(from, step, w);
    *norm = 1.0f / sum;
    *first = lo;
    return n;
}

/// A block of four-channel taps inside the source: ny rows from `first`, `rowBytes` apart,
/// weighted by wx across and wy down, their weights `weightStep` floats apart.
struct TapBlock {
    const float* first;
    std::ptrdiff_t rowBytes;
    int ny;
    const float* wx;
    const float* wy;
    int weightStep = 1;
};

/// The sum of 2 kPairs taps across block b times `scale`, into out[0 .. 4). The taps of a row
/// are read in pairs as eight-float vectors, kPairs of them, fixed, so that the loop unrolls.
template <int kPairs>
inline __attribute__((always_inline)) void pairedRows(const TapBlock& b, float scale, float* out) {
    Pixel8 pairs[kPairs];
    for (int t = 0; t < kPairs; ++t) {
        const float x = b.wx[2 * t * b.weightStep], y = b.wx[(2 * t + 1) * b.weightStep];
        const float lanes[8] = {x, x, x, x, y, y, y, y};
        std::memcpy(&pairs[t], lanes, sizeof lanes);
    }
    Pixel8 acc = {};
    for (int j = 0; j < b.ny; ++j) {
        const float* r = reinterpret_cast<const float*>(
            reinterpret_cast<const unsigned char*>(b.first) + std::ptrdiff_t(j) * b.rowBytes);
        Pixel8 across = {};
        for (int t = 0; t < kPairs; ++t) {
            Pixel8 taps;
            std::memcpy(&taps, r + 8 * t, sizeof taps);
            across += pairs[t] * taps;
        }
        acc += b.wy[j * b.weightStep] * across;
    }
    const Pixel4 result =
        (Pixel4{acc[0], acc[1], acc[2], acc[3]} + Pixel4{acc[4], acc[5], acc[6], acc[7]}) * scale;
    std::memcpy(out, &result, sizeof result);
}

/// pairedRows with its count of pairs chosen at run time, from kPairs to kMaxPairs (the
/// common few pairs first).
template <int kMaxPairs, int kPairs = 1>
inline __attribute__((always_inline)) void pairedRowsUpTo(int pairCount,
                                                          const TapBlock& b,
                                                          float scale,
                                                          float* out) {
    if constexpr (kPairs < kMaxPairs) {
        if (pairCount > kPairs)
            return pairedRowsUpTo<kMaxPairs, kPairs + 1>(pairCount, b, scale, out);
    }
    pairedRows<kPairs>(b, scale, out);
}

/// The source through filter F stretched by (stretchX, stretchY), each >= 1, at (px, py), into
/// out[0 .. C); the same edge clamp and wrap as samplePixel. False (out untouched) where the
/// position shows nothing. Four channels whose taps all lie inside the source image read the
/// taps of a row in pairs, as sampleInside4 does.
template <class F, int C>
inline __attribute__((always_inline)) bool sampleStretched(
    const SourceView& s, float px, float py, float stretchX, float stretchY, float* out) {
    if (!s.contains(px, py)) return false;
    constexpr int kSlots = kStretchedSlots<F>;
    float wx[kSlots], wy[kSlots], normX, normY;
    int left, bottom;
    const int nx = stretchedWeights<F>(px - 0.5f, stretchX, &left, wx, &normX);
    const int ny = stretchedWeights<F>(py - 0.5f, stretchY, &bottom, wy, &normY);
    const float norm = normX * normY;
    if constexpr (C == 4) {
        // Taps in pairs: an odd count reads one tap past the last, which its zero weight
        // drops, where the image holds it.
        const int pairCount = (nx + 1) / 2;
        if (left >= s.box.x0 && left + 2 * pairCount <= s.box.x1 && bottom >= s.box.y0 &&
            bottom + ny <= s.box.y1) {
            const TapBlock block{
                s.rowAt(bottom - s.box.y0) + 4 * (left - s.box.x0), s.rowBytes, ny, wx, wy};
            pairedRowsUpTo<kSlots / 2>(pairCount, block, norm, out);
            return true;
        }
    }
    sumTaps<C, kSlots>(s, left, nx, bottom, ny, wx, wy, out);
    for (int c = 0; c < C; ++c) out[c] *= norm;
    return true;
}

/// The filter's weights and first taps of up to kCount positions, computed for all of them in
/// one loop (it vectorises: eight pixels' weights in the time of one pixel's, where the taps
/// then read one pixel at a time), for rows of four-channel pixels: weigh() a run of
/// positions, then sampleInside4 the pixels marked `inside` (at(i) gives the arguments) and
/// samplePixel the others.
template <class F, int kCount = 64>
struct RunWeights {
    /// Whether F's weights are cheaper in a run: not Lanczos', which come from a table (in the
    /// run's loop its lookups became gathers, and a turn took 51-61 ms instead of 40).
    static constexpr bool kPays = F::kTaps <= 4;

    static constexpr int kTaps = F::kTaps;
    static constexpr int kFirst = 1 - kTaps / 2;
    static constexpr int kSize = kCount;
    float wx[kTaps][kCount], wy[kTaps][kCount];
    int left[kCount], bottom[kCount];  // the first tap, local to the source image
    bool inside[kCount];               // in the frame, with every tap inside the source image

    /// Positions (px[i * step], py[i * step]), i < n <= kCount, over source `s`.
    inline __attribute__((always_inline)) void weigh(
        const SourceView& s, const float* px, const float* py, int step, int n) {
        const float width = s.frameWidth, height = s.frameHeight;
        const int x0 = s.box.x0, x1 = s.box.x1, y0 = s.box.y0, y1 = s.box.y1;
        for (int i = 0; i < n; ++i) {
            const float x = px[i * step], y = py[i * step];
            // Clamped first, so that NaN and far positions make valid (unused) indices.
            const float u = std::min(width, std::max(0.0f, x)) - 0.5f;
            const float v = std::min(height, std::max(0.0f, y)) - 0.5f;
            const int iu = floorToInt(u), iv = floorToInt(v);
            float a[kTaps], b[kTaps];
            F::weights(u - float(iu), a);
            F::weights(v - float(iv), b);
            for (int t = 0; t < kTaps; ++t) {
                wx[t][i] = a[t];
                wy[t][i] = b[t];
            }
            const int l = iu + kFirst, d = iv + kFirst;
            left[i] = l - x0;
            bottom[i] = d - y0;
            inside[i] = (y >= 0.0f) & (y <= height) & (x >= 0.0f) & (x <= width) & (l >= x0) &
                        (l + kTaps <= x1) & (d >= y0) & (d + kTaps <= y1);
        }
    }

    /// Pixel i, marked inside, into out[0 .. 4).
    inline __attribute__((always_inline)) void sample(const SourceView& s,
                                                      int i,
                                                      float* out) const {
        sampleInside4<F>(reinterpret_cast<const unsigned char*>(s.rowAt(bottom[i]) + 4 * left[i]),
                         s.rowBytes,
                         &wx[0][i],
                         &wy[0][i],
                         out,
                         kCount);
    }
};

/// The row loops of four-channel images compiled twice, for the baseline x86-64 and for CPUs
/// with AVX2 and FMA (x86-64-v3, x86 servers and desktops since about 2015), the version chosen
/// once at load time. Clang cannot clone templates: put it on plain functions.
#if defined(__x86_64__)
#define RENDER_CPU_VERSIONS __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define RENDER_CPU_VERSIONS
#endif

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
