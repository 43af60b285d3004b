// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "external/VisionLibrary.h"
#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"
#include "render/kernels/CpuKernelVariants.h"
#include "render/kernels/MultiBandKernels.h"

namespace Kiln {
namespace ImageStitcher {
namespace Kernels {

// Parameter tables: gain r, g, b (StitchKernels.h), threshold, camera, expand likewise.
constexpr const char* kBandFillParams =
    "o8fc0a8b66c7f0159 1\noaf3a6b3cfc881b73 1\nobc5006cfecf872e0 1\no692a5f5e04450b6c 1\n"
    "od09d535b51111135 4\n";
constexpr const char* kBandZeroParams =
    "o8fc0a8b66c7f0159 1\noaf3a6b3cfc881b73 1\nobc5006cfecf872e0 1\no692a5f5e04450b6c 1\n"
    "od09d535b51111135 4\no09e0784d08812202 1\noe51eb8c0b041e396 1\n";
constexpr const char* kCollapseLevelParams =
    "o0812739b0810f36a 1\no692a5f5e04450b6c 1\nod09d535b51111135 4\n";
constexpr const char* kCollapseFinalParams =
    "o692a5f5e04450b6c 1\nod09d535b51111135 4\no437a806015b84e4b 4\n";

namespace {

using Compute::KernelImage;
using JIT::CpuLaunch;
using JIT::PixelAt;
using Korvane::SLIB::ImagePyramids::ExpandedRow;
using Korvane::SLIB::ImagePyramids::ExpandTaps;
using Korvane::SLIB::ImagePyramids::Pixel4;

Pixel4 load(const float* p) {
    Pixel4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(float* p, Pixel4 v) { std::memcpy(p, &v, sizeof v); }

/// The colour gain (scalars 0 to 2) with alpha untouched.
Pixel4 gainParam(const CpuLaunch& launch) {
    const Pixel4 gain{launch.param<float>(0), launch.param<float>(1), launch.param<float>(2), 0};
    return gain;
}

inline __attribute__((always_inline)) void bandFill(const CpuLaunch& launch,
                                                    int rowBegin,
                                                    int rowEnd) {
    const KernelImage& coarse = launch.images[0];
    const KernelImage& level = launch.images[1];
    const KernelImage& weight = launch.images[2];
    const KernelImage& sum = launch.images[3];
    const Pixel4 gain = gainParam(launch);
    const auto taps = ExpandTaps(launch.param<float>(3));
    const bool spherical = boolParam(launch, 4);
    const int x0 = launch.domain.x0;
    thread_local ExpandedRow expanded;
    for (int y = rowBegin; y < rowEnd; ++y) {
        expanded.prepare<4>(coarse, taps, y - level.box.y0, spherical);
        float* pp = PixelAt<float, 4>(level, x0, y);
        const float* wp = PixelAt<float, 1>(weight, x0, y);
        float* ap = PixelAt<float, 4>(sum, x0, y);
        for (int x = x0; x < launch.domain.x1; ++x, pp += 4, ++wp, ap += 4) {
            const Pixel4 e = expanded.at4(taps, x - level.box.x0);
            Pixel4 p = load(pp);
            const float w = *wp;
            if (w > 0.0f) {
                Pixel4 a = load(ap);
                a = a + w * gain * (p - p[3] * e);
                a[3] = ap[3] + w;
                store(ap, a);
            }
            const float alpha = std::clamp(p[3], 0.0f, 1.0f);
            p = p + (1.0f - alpha) * e;
            p[3] = 1.0f;
            store(pp, p);
        }
    }
}

/// Falloff: image 4 is the falloff image of the level.
template <bool Falloff>
inline __attribute__((always_inline)) void bandZero(const CpuLaunch& launch,
                                                    int rowBegin,
                                                    int rowEnd) {
    const KernelImage& coarse = launch.images[0];
    const KernelImage& level = launch.images[1];
    const KernelImage& weight = launch.images[2];
    const KernelImage& out = launch.images[3];
    const Pixel4 gain = gainParam(launch);
    const auto taps = ExpandTaps(launch.param<float>(3));
    const bool spherical = boolParam(launch, 4);
    const int originX = int(launch.param<float>(5)), originY = int(launch.param<float>(6));
    const int x0 = launch.domain.x0, x1 = launch.domain.x1;
    thread_local ExpandedRow expanded;
    for (int y = rowBegin; y < rowEnd; ++y) {
        const float* wp = PixelAt<float, 1>(weight, x0, y) - x0;
        // Most rows of a footprint hold the label over a part only: the coarse rows are
        // filtered under that part alone, and rows without it cost one scan of the weights.
        int first = x0;
        while (first < x1 && !(wp[first] > 0.0f)) ++first;
        if (first == x1) continue;
        int last = x1 - 1;
        while (!(wp[last] > 0.0f)) --last;
        expanded.prepareSpan<4>(
            coarse, taps, y - originY, spherical, first - originX, last + 1 - originX);
        const float* pp = PixelAt<float, 4>(level, first, y);
        float* op = PixelAt<float, 4>(out, first, y);
        const FalloffOf<Falloff> falloff(launch.images[Falloff ? 4 : 0], level, y);
        for (int x = first; x <= last; ++x, pp += 4, op += 4) {
            if (!(wp[x] > 0.0f)) continue;
            const Pixel4 p = load(pp);
            Pixel4 band = gain * (falloff.at(x) * p - p[3] * expanded.at4(taps, x - originX));
            band[3] = 1.0f;
            store(op, band);
        }
    }
}

inline __attribute__((always_inline)) void collapseLevel(const CpuLaunch& launch,
                                                         int rowBegin,
                                                         int rowEnd) {
    const KernelImage& coarse = launch.images[0];
    const KernelImage& sum = launch.images[1];
    const float threshold = launch.param<float>(0);
    const auto taps = ExpandTaps(launch.param<float>(1));
    const bool spherical = boolParam(launch, 2);
    const int x0 = launch.domain.x0;
    thread_local ExpandedRow expanded;
    for (int y = rowBegin; y < rowEnd; ++y) {
        expanded.prepare<4>(coarse, taps, y - sum.box.y0, spherical);
        float* ap = PixelAt<float, 4>(sum, x0, y);
        for (int x = x0; x < launch.domain.x1; ++x, ap += 4) {
            Pixel4 a = load(ap);
            const float w = a[3];
            const float inv = w > threshold ? 1.0f / w : 0.0f;
            a = a * inv;
            a[3] = w;
            store(ap, expanded.at4(taps, x - sum.box.x0) + a);
        }
    }
}

/// L: the label's channels (4, or 2 with expand: no coverage).
template <int L>
inline __attribute__((always_inline)) void collapseFinal(const CpuLaunch& launch,
                                                         int rowBegin,
                                                         int rowEnd) {
    const KernelImage& coarse = launch.images[0];
    const KernelImage& label = launch.images[1];
    const KernelImage& out = launch.images[2];
    const auto taps = ExpandTaps(launch.param<float>(0));
    const bool spherical = boolParam(launch, 1);
    const bool expand = L == 2 || boolParam(launch, 2);
    const int x0 = launch.domain.x0;
    thread_local ExpandedRow expanded;
    for (int y = rowBegin; y < rowEnd; ++y) {
        expanded.prepare<4>(coarse, taps, y - out.box.y0, spherical);
        const float* lp = PixelAt<float, L>(label, x0, y);
        float* op = PixelAt<float, 4>(out, x0, y);
        for (int x = x0; x < launch.domain.x1; ++x, lp += L, op += 4) {
            // Where no camera holds the label, the output holds nothing yet (uninitialised).
            const Pixel4 band = lp[0] > 0.0f ? load(op) : Pixel4{0, 0, 0, 0};
            const float coverage = expand ? 1.0f : lp[L == 4 ? 2 : 0];
            Pixel4 rgb = (expanded.at4(taps, x - out.box.x0) + band) * coverage;
            rgb[3] = coverage;
            store(op, rgb);
        }
    }
}

// The row loops for two CPU generations: they run over every camera at every level.
SLIB_PYRAMID_CPU_VERSIONS void bandFillRows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
    bandFill(launch, rowBegin, rowEnd);
}
SLIB_PYRAMID_CPU_VERSIONS void bandZeroRows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
    bandZero<false>(launch, rowBegin, rowEnd);
}
SLIB_PYRAMID_CPU_VERSIONS void bandZeroFalloffRows(const CpuLaunch& launch,
                                                   int rowBegin,
                                                   int rowEnd) {
    bandZero<true>(launch, rowBegin, rowEnd);
}
SLIB_PYRAMID_CPU_VERSIONS void collapseLevelRows(const CpuLaunch& launch,
                                                 int rowBegin,
                                                 int rowEnd) {
    collapseLevel(launch, rowBegin, rowEnd);
}
SLIB_PYRAMID_CPU_VERSIONS void collapseFinalRows2(const CpuLaunch& launch,
                                                  int rowBegin,
                                                  int rowEnd) {
    collapseFinal<2>(launch, rowBegin, rowEnd);
}
SLIB_PYRAMID_CPU_VERSIONS void collapseFinalRows4(const CpuLaunch& launch,
                                                  int rowBegin,
                                                  int rowEnd) {
    collapseFinal<4>(launch, rowBegin, rowEnd);
}

/// A row loop as the `Rows` type that floatVariant takes.
template <void (*F)(const CpuLaunch&, int, int)>
struct Rows {
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        F(launch, rowBegin, rowEnd);
    }
};

}  // namespace

void registerMultiBandKernels() {
    static std::once_flag bandFill, bandZero, collapseLevel, collapseFinal;
    JIT::RegisterOnce<&floatVariant<Rows<&bandFillRows>, 1, 4, 4, 1, 4>>(
        bandFill, kBandFillId, kBandFillParams);
    JIT::RegisterOnce<&joinVariants<&floatVariant<Rows<&bandZeroRows>, 3, 4, 4, 1, 4>,
                                    &floatVariant<Rows<&bandZeroFalloffRows>, 3, 4, 4, 1, 4, 1>>>(
        bandZero, kBandZeroId, kBandZeroParams);
    JIT::RegisterOnce<&floatVariant<Rows<&collapseLevelRows>, 1, 4, 4>>(
        collapseLevel, kCollapseLevelId, kCollapseLevelParams);
    JIT::RegisterOnce<&joinVariants<&floatVariant<Rows<&collapseFinalRows4>, 2, 4, 4, 4>,
                                    &floatVariant<Rows<&collapseFinalRows2>, 2, 4, 2, 4>>>(
        collapseFinal, kCollapseFinalId, kCollapseFinalParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerMultiBandKernels(), true);
}

}  // namespace Kernels
}  // namespace ImageStitcher
}  // namespace Kiln
