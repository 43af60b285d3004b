// SPDX-License-Identifier: Apache-2.0
// Small helpers of the rendering tests: framework images on the CPU and pixel access.
#pragma once

#include <functional>

#include "kiln/Image.h"
#include "render/kernels/RenderKernels.h"

namespace Korvane::Research::test {

/// A float image of `channels` over [x0, x0 + width) x [y0, y0 + height), filled by `fill`
/// (x, y, channel), or with `value` everywhere.
Kiln::Image makeImage(int width,
                      int height,
                      int channels,
                      const std::function<float(int, int, int)>& fill,
                      int x0 = 0,
                      int y0 = 0);
Kiln::Image constantImage(int width, int height, int channels, float value);

/// `source` (1 to 4 channels) point-sampled through `filter` at every position of `positions`,
/// each pixel alone (Resample.h's samplePixel), whatever a pixel's footprint: what the resampler
/// makes where nothing shrinks, and what a kernel that does not widen its filter makes.
Kiln::Image pointSampled(Kernels::Filter filter,
                         const Kiln::Image& source,
                         const Kiln::Image& positions,
                         int width,
                         int height,
                         bool wrap);

inline float* pixel(const Kiln::Image& image, int x, int y) {
    return reinterpret_cast<float*>(image.row(y)) +
           std::ptrdiff_t(x - image.box().x0) * image.channels();
}

}  // namespace Korvane::Research::test
