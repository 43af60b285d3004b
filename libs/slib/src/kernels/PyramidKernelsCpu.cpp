// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "PyramidKernels.h"
#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"

namespace Korvane {
namespace SLIB {
namespace Kernels {
namespace {

using Kiln::Compute::KernelImage;
using Kiln::JIT::CpuLaunch;

using ImagePyramids::Pixel4;

template <int C>
inline __attribute__((always_inline)) void ReduceRows(const CpuLaunch& launch,
                                                      int rowBegin,
                                                      int rowEnd) {
    const auto taps = ReduceTaps(launch.param<float>(0));
    const bool spherical = launch.params[4] != 0;
    thread_local std::vector<float> line;
    for (int y = rowBegin; y < rowEnd; ++y)
        ReduceRow<C>(launch.images[0],
                     launch.images[1],
                     y,
                     launch.domain.x0,
                     launch.domain.x1,
                     taps,
                     spherical,
                     line);
}

// The one- and four-channel reduce (the weights' and the colours' pyramids) for two CPU
// generations.
SLIB_PYRAMID_CPU_VERSIONS void ReduceRows1(const CpuLaunch& launch, int rowBegin, int rowEnd) {
    ReduceRows<1>(launch, rowBegin, rowEnd);
}
SLIB_PYRAMID_CPU_VERSIONS void ReduceRows4(const CpuLaunch& launch, int rowBegin, int rowEnd) {
    ReduceRows<4>(launch, rowBegin, rowEnd);
}

template <typename T, int C>
struct PyramidReduceRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        if constexpr (C == 1)
            ReduceRows1(launch, rowBegin, rowEnd);
        else if constexpr (C == 4)
            ReduceRows4(launch, rowBegin, rowEnd);
        else
            ReduceRows<C>(launch, rowBegin, rowEnd);
    }
};

/// Columns [x0, x1) of one expanded row from its vertically filtered coarse `line`: out =
/// expandFactor x expand + baseFactor x base (no base where `base` is null). Fine column
/// 2m+q reads coarse m-2+q .. m+1+q, i.e. line entries m+q .. m+q+3 with the taps of phase q.
/// The channels of a pixel form one vector for C = 4; the sums run in the same order for
/// every C, so the result does not depend on the vector width.
template <int C>
void ExpandSpan(const float* line,
                const std::array<std::array<float, 4>, 2>& taps,
                int originX,
                int x0,
                int x1,
                float expandFactor,
                const float* base,
                float baseFactor,
                float* out) {
    for (int x = x0; x < x1; ++x, out += C) {
        const int lx = x - originX;
        const int q = lx & 1;
        const float* in = line + std::ptrdiff_t((lx >> 1) + q) * C;
        const float t0 = taps[q][0], t1 = taps[q][1], t2 = taps[q][2], t3 = taps[q][3];
        if constexpr (C == 4) {
            Pixel4 v[4];
            std::memcpy(v, in, sizeof v);
            Pixel4 r = (((t0 * v[0] + t1 * v[1]) + t2 * v[2]) + t3 * v[3]) * expandFactor;
            if (base != nullptr) {
                Pixel4 bv;
                std::memcpy(&bv, base, sizeof bv);
                base += C;
                r = r + baseFactor * bv;
            } else {
                r = r + 0.0f;
            }
            std::memcpy(out, &r, sizeof r);
        } else {
            for (int c = 0; c < C; ++c) {
                const float acc =
                    ((t0 * in[c] + t1 * in[C + c]) + t2 * in[2 * C + c]) + t3 * in[3 * C + c];
                out[c] = expandFactor * acc + (base != nullptr ? baseFactor * base[c] : 0.0f);
            }
            if (base != nullptr) base += C;
        }
    }
}

template <typename T, int C>
struct PyramidExpandRows {
    static constexpr unsigned kOutputImage = 2;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const auto taps = ExpandTaps(launch.param<float>(0));
        const bool spherical = launch.params[4] != 0;
        const float baseFactor = launch.param<float>(2);
        const float expandFactor = launch.param<float>(3);
        const KernelImage& coarse = launch.images[0];
        const KernelImage& base = launch.images[1];
        const KernelImage& output = launch.images[2];
        thread_local ExpandedRow expanded;
        for (int y = rowBegin; y < rowEnd; ++y) {
            expanded.prepare<C>(coarse, taps, y - output.box.y0, spherical);
            const float* line = expanded.line();
            float* out = Kiln::JIT::PixelAt<float, C>(output, launch.domain.x0, y);
            // A zero base factor reads no base: the base may be the uninitialised output.
            const bool baseRow = baseFactor != 0.0f && y >= base.box.y0 && y < base.box.y1;
            // The columns that have a base pixel, clipped to the domain.
            const int bx0 = baseRow ? std::clamp(base.box.x0, launch.domain.x0, launch.domain.x1)
                                    : launch.domain.x1;
            const int bx1 = baseRow ? std::clamp(base.box.x1, bx0, launch.domain.x1) : bx0;
            const float* b =
                baseRow && bx1 > bx0 ? Kiln::JIT::PixelAt<float, C>(base, bx0, y) : nullptr;
            ExpandSpan<C>(
                line, taps, output.box.x0, launch.domain.x0, bx0, expandFactor, nullptr, 0.0f, out);
            ExpandSpan<C>(line,
                          taps,
                          output.box.x0,
                          bx0,
                          bx1,
                          expandFactor,
                          b,
                          baseFactor,
                          out + std::ptrdiff_t(bx0 - launch.domain.x0) * C);
            ExpandSpan<C>(line,
                          taps,
                          output.box.x0,
                          bx1,
                          launch.domain.x1,
                          expandFactor,
                          nullptr,
                          0.0f,
                          out + std::ptrdiff_t(bx1 - launch.domain.x0) * C);
        }
    }
};

}  // namespace

void registerPyramidReduce() {
    static std::once_flag once;
    Kiln::JIT::RegisterOnce<&Kiln::JIT::FloatShapeVariants<PyramidReduceRows, 2>>(
        once, kPyramidReduceId, kPyramidReduceParams);
}

void registerPyramidExpand() {
    static std::once_flag once;
    Kiln::JIT::RegisterOnce<&Kiln::JIT::FloatShapeVariants<PyramidExpandRows, 3>>(
        once, kPyramidExpandId, kPyramidExpandParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerPyramidReduce(), registerPyramidExpand(), true);
}

}  // namespace Kernels
}  // namespace SLIB
}  // namespace Korvane
