// SPDX-License-Identifier: Apache-2.0
#include "render/kernels/DensifyGrid.h"

#include <algorithm>
#include <mutex>

#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"
#include "render/kernels/PositionImage.h"

namespace Korvane {
namespace Research {
namespace Kernels {
namespace {

using Kiln::JIT::CpuLaunch;
using Kiln::JIT::PixelAt;

struct DensifyRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const Kiln::Compute::KernelImage& out = launch.images[1];
        const detail::GridDisplacement grid(
            launch.images[0], launch.param<float>(0), launch.param<float>(1));
        const float sx = launch.param<float>(2);
        const float sy = launch.param<float>(3);
        for (int y = rowBegin; y < rowEnd; ++y) {
            float* o = PixelAt<float, 2>(out, launch.domain.x0, y);
            if (!grid.warps()) {
                std::fill(o, o + 2 * std::ptrdiff_t(launch.domain.width()), 0.0f);
                continue;
            }
            int j0;
            double fy;
            grid.row(y + 0.5, &j0, &fy);
            for (int x = launch.domain.x0; x < launch.domain.x1; ++x, o += 2)
                grid.at(x + 0.5, j0, fy, sx, sy, o);
        }
    }
};

struct GridWarpRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const detail::GridDisplacement grid(
            launch.images[0], launch.param<float>(0), launch.param<float>(1));
        if (!grid.warps()) return;
        const float sx = launch.param<float>(2);
        const float sy = launch.param<float>(3);
        for (int y = rowBegin; y < rowEnd; ++y) {
            float* p = PixelAt<float, 2>(launch.images[1], launch.domain.x0, y);
            for (int x = launch.domain.x0; x < launch.domain.x1; ++x, p += 2) {
                if (!isSample(p[0]) || !isSample(p[1])) continue;
                int j0;
                double fy;
                grid.row(p[1], &j0, &fy);
                float d[2];
                grid.at(p[0], j0, fy, sx, sy, d);
                p[0] += d[0];
                p[1] += d[1];
            }
        }
    }
};

template <class Rows>
std::vector<Kiln::JIT::CpuVariant> gridVariants() {
    return {
        {{&Rows::rows, Rows::kOutputImage}, {2, 2, 0, 0}, 2, Kiln::Pixel::ComponentType::Float}};
}

}  // namespace

void registerDensifyGrid() {
    static std::once_flag densify, warp;
    Kiln::JIT::RegisterOnce<&gridVariants<DensifyRows>>(
        densify, kDensifyGridId, kDensifyGridParams);
    Kiln::JIT::RegisterOnce<&gridVariants<GridWarpRows>>(warp, kGridWarpId, kGridWarpParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerDensifyGrid(), true);
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
