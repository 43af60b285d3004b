// SPDX-License-Identifier: Apache-2.0
#include "render/kernels/Resample.h"

#include <type_traits>

#include "kiln/CpuRows.h"

namespace Korvane {
namespace Research {
namespace Kernels {
namespace {

using Kiln::JIT::CpuLaunch;
using Kiln::JIT::CpuVariant;
using Kiln::JIT::PixelAt;

/// Four-channel pixels through filter F (not Nearest) one at a time: where every tap lies
/// inside the source image (all but the pixels near its edges) the taps are read in pairs
/// (sampleInside4), elsewhere one at a time with the edge clamp and wrap of samplePixel.
template <class F>
inline __attribute__((always_inline)) void resamplePixels4(const SourceView& s,
                                                           const float* p,
                                                           int n,
                                                           float* d) {
    constexpr int kTaps = F::kTaps;
    constexpr int kFirst = 1 - kTaps / 2;
    for (int i = 0; i < n; ++i, p += 2, d += 4) {
        float px = p[0];
        const float py = p[1];
        if (!s.contains(px, py)) {
            for (int c = 0; c < 4; ++c) d[c] = 0.0f;
            continue;
        }
        const float u = px - 0.5f, v = py - 0.5f;
        const int iu = floorToInt(u), iv = floorToInt(v);
        const int left = iu + kFirst, bottom = iv + kFirst;
        if (left >= s.box.x0 && left + kTaps <= s.box.x1 && bottom >= s.box.y0 &&
            bottom + kTaps <= s.box.y1) {
            float wx[kTaps], wy[kTaps];
            F::weights(u - float(iu), wx);
            F::weights(v - float(iv), wy);
            sampleInside4<F>(s, left - s.box.x0, bottom - s.box.y0, wx, wy, d);
        } else {
            samplePixel<F, 4>(s, px, py, d);
        }
    }
}

/// One row of four-channel pixels through filter F (not Nearest). Over a whole panorama (a
/// virtual camera's view of it), runs whose positions all lie in the frame take their weights
/// together (RunWeights); the others go pixel by pixel. A camera's projection into the
/// panorama goes pixel by pixel throughout: most of its positions show nothing and are skipped
/// at once, and there the runs measured 5-8 % slower.
template <class F>
inline __attribute__((always_inline)) void resampleRow4(const SourceView& s,
                                                        const float* p,
                                                        int n,
                                                        float* d) {
    if (!RunWeights<F>::kPays || s.period == 0) {
        resamplePixels4<F>(s, p, n, d);
    } else {
        RunWeights<F> run;
        for (int i0 = 0; i0 < n; i0 += run.kSize, p += 2 * run.kSize, d += 4 * run.kSize) {
            const int count = std::min(run.kSize, n - i0);
            bool framed = true;
            for (int i = 0; i < count; ++i)
                framed &= (p[2 * i] >= 0.0f) & (p[2 * i] <= s.frameWidth) & (p[2 * i + 1] >= 0.0f) &
                          (p[2 * i + 1] <= s.frameHeight);
            if (!framed) {
                resamplePixels4<F>(s, p, count, d);
                continue;
            }
            run.weigh(s, p, p + 1, 2, count);
            for (int i = 0; i < count; ++i)
                if (run.inside[i])
                    run.sample(s, i, d + 4 * i);
                else
                    samplePixel<F, 4>(s, p[2 * i], p[2 * i + 1], d + 4 * i);
        }
    }
}

RENDER_CPU_VERSIONS void resampleBilinear4(const SourceView& s, const float* p, int n, float* d) {
    resampleRow4<BilinearFilter>(s, p, n, d);
}
RENDER_CPU_VERSIONS void resampleCubic4(const SourceView& s, const float* p, int n, float* d) {
    resampleRow4<CubicFilter>(s, p, n, d);
}
RENDER_CPU_VERSIONS void resampleLanczos4(const SourceView& s, const float* p, int n, float* d) {
    resampleRow4<LanczosFilter>(s, p, n, d);
}

/// How far the filter is stretched along the source's x and y at destination pixels [a, b) of
/// row y (a, b inside the positions' box): the footprint of a pixel is the length of the
/// position's change per destination pixel, taken over both destination axes, along each
/// source axis (the box around the image of a round destination pixel), from central
/// differences, one-sided where a neighbour is kNoSample or beyond the positions' box. With a
/// wrapping source a difference across the seam is taken the short way round. Writes
/// stretchX/Y[0 .. b - a) and returns whether any of them exceeds 1.
bool rowStretches(const Kiln::Compute::KernelImage& positions,
                  int y,
                  int a,
                  int b,
                  int period,
                  float* stretchX,
                  float* stretchY) {
    const Kiln::Box& box = positions.box;
    const float* row = PixelAt<const float, 2>(positions, box.x0, y);
    const float* below = y > box.y0 ? PixelAt<const float, 2>(positions, box.x0, y - 1) : nullptr;
    const float* above =
        y + 1 < box.y1 ? PixelAt<const float, 2>(positions, box.x0, y + 1) : nullptr;
    const float fullTurn = float(period);
    const float turns = period > 0 ? 1.0f / fullTurn : 0.0f;
    // The change from p to q, given whether each side is a sample: one-sided where only one is.
    const auto change =
        [&](const float* p, bool hasP, const float* q, bool hasQ, const float* c, float* d) {
            const float* from = hasP ? p : c;
            const float* to = hasQ ? q : c;
            const float steps = float(int(hasP) + int(hasQ));
            float dx = to[0] - from[0];
            dx -= fullTurn * std::nearbyint(dx * turns);
            d[0] = steps > 0.0f ? dx / steps : 0.0f;
            d[1] = steps > 0.0f ? (to[1] - from[1]) / steps : 0.0f;
        };
    bool any = false;
    for (int x = a; x < b; ++x) {
        const int i = x - box.x0;
        const float* c = row + 2 * i;
        float sx = 1.0f, sy = 1.0f;
        if (isSample(c[0])) {
            const bool hasLeft = x > box.x0 && isSample(c[-2]);
            const bool hasRight = x + 1 < box.x1 && isSample(c[2]);
            const bool hasBelow = below && isSample(below[2 * i]);
            const bool hasAbove = above && isSample(above[2 * i]);
            float across[2], down[2];
            change(c - 2, hasLeft, c + 2, hasRight, c, across);
            change(
                below ? below + 2 * i : c, hasBelow, above ? above + 2 * i : c, hasAbove, c, down);
            sx = filterStretch(std::sqrt(across[0] * across[0] + down[0] * down[0]));
            sy = filterStretch(std::sqrt(across[1] * across[1] + down[1] * down[1]));
        }
        stretchX[x - a] = sx;
        stretchY[x - a] = sy;
        any |= (sx > 1.0f) | (sy > 1.0f);
    }
    return any;
}

/// Pixels [0, n) of a row whose filter is stretched (by stretchX/Y[i]), any channel count.
template <class F, int C>
inline __attribute__((always_inline)) void resampleStretched(const SourceView& s,
                                                             const float* p,
                                                             const float* stretchX,
                                                             const float* stretchY,
                                                             int n,
                                                             float* d) {
    for (int i = 0; i < n; ++i, p += 2, d += C)
        if (!sampleStretched<F, C>(s, p[0], p[1], stretchX[i], stretchY[i], d))
            for (int c = 0; c < C; ++c) d[c] = 0.0f;
}

RENDER_CPU_VERSIONS void resampleStretchedBilinear4(
    const SourceView& s, const float* p, const float* sx, const float* sy, int n, float* d) {
    resampleStretched<BilinearFilter, 4>(s, p, sx, sy, n, d);
}
RENDER_CPU_VERSIONS void resampleStretchedCubic4(
    const SourceView& s, const float* p, const float* sx, const float* sy, int n, float* d) {
    resampleStretched<CubicFilter, 4>(s, p, sx, sy, n, d);
}
RENDER_CPU_VERSIONS void resampleStretchedLanczos4(
    const SourceView& s, const float* p, const float* sx, const float* sy, int n, float* d) {
    resampleStretched<LanczosFilter, 4>(s, p, sx, sy, n, d);
}

template <class F, int C>
struct ResampleRows {
    static constexpr unsigned kOutputImage = 2;
    /// Pixels whose footprints are found together: a multiple of RunWeights' run, so that a
    /// chunk without shrinking is resampled in the same runs as a whole row.
    static constexpr int kChunk = 256;

    /// Pixels [0, n) of a row through the filter as it is.
    static void plain(const SourceView& s, const float* p, int n, float* d) {
        if constexpr (C == 4 && std::is_same_v<F, BilinearFilter>)
            resampleBilinear4(s, p, n, d);
        else if constexpr (C == 4 && std::is_same_v<F, CubicFilter>)
            resampleCubic4(s, p, n, d);
        else if constexpr (C == 4 && std::is_same_v<F, LanczosFilter>)
            resampleLanczos4(s, p, n, d);
        else
            for (int x = 0; x < n; ++x, p += 2, d += C)
                if (!samplePixel<F, C>(s, p[0], p[1], d))
                    for (int c = 0; c < C; ++c) d[c] = 0.0f;
    }

    /// Pixels [0, n) of a row through the filter stretched by sx, sy.
    static void stretched(
        const SourceView& s, const float* p, const float* sx, const float* sy, int n, float* d) {
        if constexpr (C == 4 && std::is_same_v<F, BilinearFilter>)
            resampleStretchedBilinear4(s, p, sx, sy, n, d);
        else if constexpr (C == 4 && std::is_same_v<F, CubicFilter>)
            resampleStretchedCubic4(s, p, sx, sy, n, d);
        else if constexpr (C == 4 && std::is_same_v<F, LanczosFilter>)
            resampleStretchedLanczos4(s, p, sx, sy, n, d);
        else
            resampleStretched<F, C>(s, p, sx, sy, n, d);
    }

    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const SourceView source(
            launch.images[0], launch.param<int>(0), launch.param<int>(1), launch.param<bool>(2));
        const Kiln::Compute::KernelImage& positions = launch.images[1];
        const Kiln::Compute::KernelImage& out = launch.images[2];
        const int x0 = launch.domain.x0;
        const int x1 = launch.domain.x1;
        for (int y = rowBegin; y < rowEnd; ++y) {
            float* o = PixelAt<float, C>(out, x0, y);
            const bool rowInside = y >= positions.box.y0 && y < positions.box.y1;
            // Destination pixels without a position show nothing.
            const int a = rowInside ? std::clamp(positions.box.x0, x0, x1) : x1;
            const int b = rowInside ? std::clamp(positions.box.x1, a, x1) : x1;
            std::fill(o, o + std::ptrdiff_t(a - x0) * C, 0.0f);
            std::fill(o + std::ptrdiff_t(b - x0) * C, o + std::ptrdiff_t(x1 - x0) * C, 0.0f);
            if (b <= a) continue;
            const float* p = PixelAt<const float, 2>(positions, a, y);
            float* d = o + std::ptrdiff_t(a - x0) * C;
            if constexpr (F::kTaps == 1)
                plain(source, p, b - a, d);  // Nearest picks a pixel: it never widens
            else
                resampleRow(source, positions, y, p, a, b, d);
        }
    }

    /// Pixels [a, b) of row y (p and d at pixel a): where no footprint shrinks, as plain().
    static void resampleRow(const SourceView& source,
                            const Kiln::Compute::KernelImage& positions,
                            int y,
                            const float* p,
                            int a,
                            int b,
                            float* d) {
        float sx[kChunk], sy[kChunk];
        for (int c0 = a; c0 < b; c0 += kChunk) {
            const int n = std::min(kChunk, b - c0);
            const float* pc = p + std::ptrdiff_t(c0 - a) * 2;
            float* dc = d + std::ptrdiff_t(c0 - a) * C;
            if (!rowStretches(positions, y, c0, c0 + n, source.period, sx, sy)) {
                plain(source, pc, n, dc);
                continue;
            }
            // Runs of pixels that shrink and of pixels that do not.
            for (int i = 0; i < n;) {
                const bool widens = sx[i] > 1.0f || sy[i] > 1.0f;
                int j = i + 1;
                while (j < n && (sx[j] > 1.0f || sy[j] > 1.0f) == widens) ++j;
                float* di = dc + std::ptrdiff_t(i) * C;
                if (widens)
                    stretched(source, pc + 2 * i, sx + i, sy + i, j - i, di);
                else
                    plain(source, pc + 2 * i, j - i, di);
                i = j;
            }
        }
    }
};

template <class F>
std::vector<CpuVariant> resampleVariants() {
    const auto variant = [](Kiln::JIT::CpuRowsFunction rows, int c) {
        return CpuVariant{{rows, 2}, {c, 2, c, 0}, 3, Kiln::Pixel::ComponentType::Float};
    };
    return {variant(&ResampleRows<F, 1>::rows, 1),
            variant(&ResampleRows<F, 2>::rows, 2),
            variant(&ResampleRows<F, 3>::rows, 3),
            variant(&ResampleRows<F, 4>::rows, 4)};
}

}  // namespace

void registerResample() {
    static std::once_flag bilinear, cubic, lanczos, nearest;
    Kiln::JIT::RegisterOnce<&resampleVariants<BilinearFilter>>(
        bilinear, kResampleBilinearId, kResampleParams);
    Kiln::JIT::RegisterOnce<&resampleVariants<CubicFilter>>(
        cubic, kResampleCubicId, kResampleParams);
    Kiln::JIT::RegisterOnce<&resampleVariants<LanczosFilter>>(
        lanczos, kResampleLanczosId, kResampleParams);
    Kiln::JIT::RegisterOnce<&resampleVariants<NearestFilter>>(
        nearest, kResampleNearestId, kResampleParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerResample(), true);
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
