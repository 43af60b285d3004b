// SPDX-License-Identifier: Apache-2.0
#include "render/kernels/DensifyGrid.h"

#include <algorithm>
#include <mutex>

#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"

namespace Korvane {
namespace Research {
namespace Kernels {
namespace {

using Kiln::JIT::CpuLaunch;
using Kiln::JIT::PixelAt;

struct DensifyRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const Kiln::Compute::KernelImage& grid = launch.images[0];
        const Kiln::Compute::KernelImage& out = launch.images[1];
        const double width = launch.param<float>(0);
        const double height = launch.param<float>(1);
        const float sx = launch.param<float>(2);
        const float sy = launch.param<float>(3);
        const int gx = grid.box.width();
        const int gy = grid.box.height();
        const bool warp = gx >= 2 && gy >= 2 && width > 0.0 && height > 0.0;
        const auto vertex = [&](int i, int j) {
            return PixelAt<const float, 2>(grid, grid.box.x0 + i, grid.box.y0 + j);
        };
        for (int y = rowBegin; y < rowEnd; ++y) {
            float* o = PixelAt<float, 2>(out, launch.domain.x0, y);
            if (!warp) {
                std::fill(o, o + 2 * std::ptrdiff_t(launch.domain.width()), 0.0f);
                continue;
            }
            // Multiplying before dividing keeps the frame's edge exactly on the last vertex.
            const double qy = std::clamp(y + 0.5, 0.0, height);
            const double g_y = qy * (gy - 1) / height;
            const int j0 = std::min(int(g_y), gy - 2);
            const double fy = g_y - j0;
            for (int x = launch.domain.x0; x < launch.domain.x1; ++x, o += 2) {
                const double qx = std::clamp(x + 0.5, 0.0, width);
                const double g_x = qx * (gx - 1) / width;
                const int i0 = std::min(int(g_x), gx - 2);
                const double fx = g_x - i0;
                const float* v00 = vertex(i0, j0);
                const float* v11 = vertex(i0 + 1, j0 + 1);
                double w00, w11, wc;
                const float* vc;
                if (fy > fx) {  // triangle (i0, j0), (i0 + 1, j0 + 1), (i0, j0 + 1)
                    w00 = 1.0 - fy;
                    w11 = fx;
                    wc = fy - fx;
                    vc = vertex(i0, j0 + 1);
                } else {  // triangle (i0, j0), (i0 + 1, j0), (i0 + 1, j0 + 1)
                    w00 = 1.0 - fx;
                    w11 = fy;
                    wc = fx - fy;
                    vc = vertex(i0 + 1, j0);
                }
                o[0] = sx * float(w00 * v00[0] + w11 * v11[0] + wc * vc[0]);
                o[1] = sy * float(w00 * v00[1] + w11 * v11[1] + wc * vc[1]);
            }
        }
    }
};

std::vector<Kiln::JIT::CpuVariant> densifyVariants() {
    return {{{&DensifyRows::rows, 1}, {2, 2, 0, 0}, 2, Kiln::Pixel::ComponentType::Float}};
}

}  // namespace

void registerDensifyGrid() {
    static std::once_flag once;
    Kiln::JIT::RegisterOnce<&densifyVariants>(once, kDensifyGridId, kDensifyGridParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerDensifyGrid(), true);
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
