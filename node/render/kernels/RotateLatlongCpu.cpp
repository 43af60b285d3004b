// SPDX-License-Identifier: Apache-2.0
#include "render/kernels/RotateLatlong.h"

#include <cmath>
#include <mutex>
#include <vector>

#include "kiln/CpuRows.h"
#include "render/kernels/Resample.h"

namespace Korvane {
namespace Research {
namespace Kernels {
namespace {

using Kiln::JIT::CpuLaunch;

template <class F, int C>
void rotateRows(const CpuLaunch& launch, const double (&m)[9], int rowBegin, int rowEnd) {
    const Kiln::Compute::KernelImage& src = launch.images[0];
    const Kiln::Compute::KernelImage& out = launch.images[1];
    const Kiln::Box& ob = out.box;
    const double outWidth = ob.width(), outHeight = ob.height();
    // Positions are taken relative to the source box, whose frame starts at its corner.
    const Kiln::Compute::KernelImage local{
        src.origin, src.rowBytes, Kiln::Box{0, 0, src.box.width(), src.box.height()}};
    const SourceView source(local, src.box.width(), src.box.height(), true);
    const double srcWidth = src.box.width(), srcHeight = src.box.height();
    constexpr double kPi = 3.14159265358979323846;
    constexpr float kInvPi = float(1.0 / kPi);
    // Directions are separable: the sines of longitude once per column.
    const int x0 = launch.domain.x0, x1 = launch.domain.x1;
    std::vector<double> sinLon(std::size_t(x1 - x0)), cosLon(std::size_t(x1 - x0));
    for (int x = x0; x < x1; ++x) {
        const double lon = ((x - ob.x0 + 0.5) / outWidth * 2.0 - 1.0) * kPi;
        sinLon[std::size_t(x - x0)] = std::sin(lon);
        cosLon[std::size_t(x - x0)] = std::cos(lon);
    }
    for (int y = rowBegin; y < rowEnd; ++y) {
        const double lat = ((y - ob.y0 + 0.5) / outHeight * 2.0 - 1.0) * (kPi / 2.0);
        const double cl = std::cos(lat), sl = std::sin(lat);
        float* o = Kiln::JIT::PixelAt<float, C>(out, x0, y);
        for (int x = x0; x < x1; ++x, o += C) {
            const double dx = cl * sinLon[std::size_t(x - x0)], dy = sl;
            const double dz = cl * cosLon[std::size_t(x - x0)];
            const double rx = m[0] * dx + m[1] * dy + m[2] * dz;
            const double ry = m[3] * dx + m[4] * dy + m[5] * dz;
            const double rz = m[6] * dx + m[7] * dy + m[8] * dz;
            // Single precision is ample here (1e-7 of a turn is 2e-4 px on a 2048 panorama)
            // and halves the cost of the two arc tangents, the bulk of the kernel.
            const float slon = std::atan2(float(rx), float(rz));
            const float slat = std::atan2(float(ry), float(std::sqrt(rx * rx + rz * rz)));
            const float px = (slon * kInvPi + 1.0f) * 0.5f * float(srcWidth);
            const float py = (slat * (2.0f * kInvPi) + 1.0f) * 0.5f * float(srcHeight);
            if (!samplePixel<F, C>(source, px, py, o))
                for (int c = 0; c < C; ++c) o[c] = 0.0f;
        }
    }
}

template <typename T, int C>
struct RotateRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        double w = launch.param<float>(0), x = launch.param<float>(1);
        double y = launch.param<float>(2), z = launch.param<float>(3);
        const double n = std::sqrt(w * w + x * x + y * y + z * z);
        if (!(n > 0.0) || !std::isfinite(n)) {
            for (int r = rowBegin; r < rowEnd; ++r) {
                float* o = Kiln::JIT::PixelAt<float, C>(launch.images[1], launch.domain.x0, r);
                std::fill(o, o + std::ptrdiff_t(launch.domain.width()) * C, 0.0f);
            }
            return;
        }
        w /= n, x /= n, y /= n, z /= n;
        // The rotation matrix of a unit quaternion.
        const double m[9] = {1 - 2 * (y * y + z * z),
                             2 * (x * y - w * z),
                             2 * (x * z + w * y),
                             2 * (x * y + w * z),
                             1 - 2 * (x * x + z * z),
                             2 * (y * z - w * x),
                             2 * (x * z - w * y),
                             2 * (y * z + w * x),
                             1 - 2 * (x * x + y * y)};
        switch (launch.param<int>(4)) {
            case 1:
                return rotateRows<CubicFilter, C>(launch, m, rowBegin, rowEnd);
            case 2:
                return rotateRows<LanczosFilter, C>(launch, m, rowBegin, rowEnd);
            case 3:
                return rotateRows<NearestFilter, C>(launch, m, rowBegin, rowEnd);
            default:
                return rotateRows<BilinearFilter, C>(launch, m, rowBegin, rowEnd);
        }
    }
};

}  // namespace

void registerRotateLatlong() {
    static std::once_flag once;
    Kiln::JIT::RegisterOnce<&Kiln::JIT::FloatShapeVariants<RotateRows, 2>>(
        once, kRotateLatlongId, kRotateLatlongParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerRotateLatlong(), true);
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
