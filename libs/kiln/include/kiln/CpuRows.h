// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>

#include "kiln/CpuKernel.h"

namespace Kiln {
namespace JIT {

/// Address of pixel (x, y) of `image`, whose pixels hold C components of T.
template <typename T, int C>
T* PixelAt(const Compute::KernelImage& image, int x, int y) {
    return reinterpret_cast<T*>(image.origin + std::ptrdiff_t(y - image.box.y0) * image.rowBytes) +
           std::ptrdiff_t(x - image.box.x0) * C;
}

/// Walks rows [rowBegin, rowEnd) of the launch domain, pairing output pixels with the source
/// pixels at the same position. Calls run(out, in, count) for runs of `count` pixels: `in` is
/// null for the runs where the source has no pixels (left of, right of, or beyond its box),
/// which kernels read as zero.
template <typename TOut, int COut, typename TIn, int CIn, typename Run>
void ForEachSourceRun(const CpuLaunch& launch,
                      unsigned outImage,
                      unsigned inImage,
                      int rowBegin,
                      int rowEnd,
                      Run&& run) {
    const Compute::KernelImage& out = launch.images[outImage];
    const Compute::KernelImage& in = launch.images[inImage];
    const int x0 = launch.domain.x0;
    const int x1 = launch.domain.x1;
    for (int y = rowBegin; y < rowEnd; ++y) {
        TOut* o = PixelAt<TOut, COut>(out, x0, y);
        const bool rowInside = y >= in.box.y0 && y < in.box.y1;
        const int a = rowInside ? std::clamp(in.box.x0, x0, x1) : x1;
        const int b = rowInside ? std::clamp(in.box.x1, a, x1) : x1;
        if (a > x0) run(o, static_cast<const TIn*>(nullptr), a - x0);
        if (b > a) run(o + std::ptrdiff_t(a - x0) * COut, PixelAt<TIn, CIn>(in, a, y), b - a);
        if (x1 > b)
            run(o + std::ptrdiff_t(b - x0) * COut, static_cast<const TIn*>(nullptr), x1 - b);
    }
}

}  // namespace JIT
}  // namespace Kiln
