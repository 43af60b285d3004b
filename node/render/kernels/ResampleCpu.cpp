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

/// Pixels [0, n) of a row, any channel count, through filter F stretched by stretchX/Y[i].
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

/// Four-channel pixels [0, n) of a row through filter F: as it is without stretches (sx null),
/// else stretched by sx[i], sy[i].
template <class F>
inline __attribute__((always_inline)) void resample4(
    const SourceView& s, const float* p, const float* sx, const float* sy, int n, float* d) {
    if (sx)
        resampleStretched<F, 4>(s, p, sx, sy, n, d);
    else
        resampleRow4<F>(s, p, n, d);
}

RENDER_CPU_VERSIONS void resampleBilinear4(
    const SourceView& s, const float* p, const float* sx, const float* sy, int n, float* d) {
    resample4<BilinearFilter>(s, p, sx, sy, n, d);
}
RENDER_CPU_VERSIONS void resampleCubic4(
    const SourceView& s, const float* p, const float* sx, const float* sy, int n, float* d) {
    resample4<CubicFilter>(s, p, sx, sy, n, d);
}
RENDER_CPU_VERSIONS void resampleLanczos4(
    const SourceView& s, const float* p, const float* sx, const float* sy, int n, float* d) {
    resample4<LanczosFilter>(s, p, sx, sy, n, d);
}

/// How far the filter is stretched along the source's x and y (filterStretch of the
/// footprints) at destination pixels [a, b) of row y, a and b inside the positions' box.
/// Writes stretchX/Y[0 .. b - a) where one of them exceeds 1 and returns whether one does.
RENDER_CPU_VERSIONS bool rowStretches(const Kiln::Compute::KernelImage& positions,
                                      int y,
                                      int a,
                                      int b,
                                      int period,
                                      float* stretchX,
                                      float* stretchY) {
    const float* row = PixelAt<const float, 2>(positions, positions.box.x0, y);
    const PositionRows rows(row,
                            y > positions.box.y0 ? row - positions.rowBytes / 4 : row,
                            y + 1 < positions.box.y1 ? row + positions.rowBytes / 4 : row,
                            period);
    const int x0 = positions.box.x0, x1 = positions.box.x1;
    constexpr float kFrom = kWidenFrom * kWidenFrom;
    // Pixels with both neighbours in one vectorised pass; the box's first and last alone.
    const int inA = std::max(a, x0 + 1), inB = std::max(inA, std::min(b, x1 - 1));
    const auto measure = [&](int x) {
        rows.footprint(x - x0, x > x0, x + 1 < x1, &stretchX[x - a], &stretchY[x - a]);
        return stretchX[x - a] > kFrom || stretchY[x - a] > kFrom;
    };
    bool shrinks = rows.anyMayShrink(inA - x0, inB - x0, kFrom);
    for (int x : {a, b - 1})
        if (x < inA || x >= inB) shrinks |= measure(x);
    return shrinks && filterStretches(a, b, measure, stretchX, stretchY);
}

template <class F, int C>
struct ResampleRows {
    static constexpr unsigned kOutputImage = 2;
    /// Pixels whose footprints are found together: a multiple of RunWeights' run, so that a
    /// chunk without shrinking is resampled in the same runs as a whole row.
    static constexpr int kChunk = 256;

    /// Pixels [0, n) of a row through the filter as it is (sx null) or stretched by sx, sy.
    static void run(
        const SourceView& s, const float* p, const float* sx, const float* sy, int n, float* d) {
        if constexpr (C == 4 && std::is_same_v<F, BilinearFilter>) {
            resampleBilinear4(s, p, sx, sy, n, d);
        } else if constexpr (C == 4 && std::is_same_v<F, CubicFilter>) {
            resampleCubic4(s, p, sx, sy, n, d);
        } else if constexpr (C == 4 && std::is_same_v<F, LanczosFilter>) {
            resampleLanczos4(s, p, sx, sy, n, d);
        } else {
            if constexpr (F::kTaps > 1) {
                if (sx) return resampleStretched<F, C>(s, p, sx, sy, n, d);
            }
            for (int x = 0; x < n; ++x, p += 2, d += C)
                if (!samplePixel<F, C>(s, p[0], p[1], d))
                    for (int c = 0; c < C; ++c) d[c] = 0.0f;
        }
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
                run(source, p, nullptr, nullptr, b - a, d);  // Nearest never widens
            else
                resampleRow(source, positions, y, p, a, b, d);
        }
    }

    /// Pixels [a, b) of row y (p and d at pixel a): where no footprint shrinks, as before.
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
                run(source, pc, nullptr, nullptr, n, dc);
                continue;
            }
            // Runs of pixels that shrink and of pixels that do not.
            for (int i = 0; i < n;) {
                const bool widens = sx[i] > 1.0f || sy[i] > 1.0f;
                int j = i + 1;
                while (j < n && (sx[j] > 1.0f || sy[j] > 1.0f) == widens) ++j;
                run(source,
                    pc + 2 * i,
                    widens ? sx + i : nullptr,
                    sy + i,
                    j - i,
                    dc + std::ptrdiff_t(i) * C);
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
