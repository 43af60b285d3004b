// SPDX-License-Identifier: Apache-2.0
#include "render/kernels/ProjectionKernel.h"

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"

namespace Korvane {
namespace Research {
namespace Kernels {
namespace {

using Kiln::Compute::ParamKind;
using Kiln::JIT::CpuLaunch;

ParamKind projectionParamKind(int index) {
    switch (index) {
        case kPInverse:
        case kPWrap:
        case kPUndistort:
            return ParamKind::Bool;
        case kPEnabled:
        case kPOtherType:
        case kPCameraType:
            return ParamKind::Int;
        default:
            return ParamKind::Float;
    }
}

struct LaunchParams {
    const CpuLaunch& launch;
    double value(int index) const {
        return projectionParamKind(index) == ParamKind::Int
                   ? double(launch.param<int>(std::size_t(index)))
                   : double(launch.param<float>(std::size_t(index)));
    }
    bool flag(int index) const { return launch.param<bool>(std::size_t(index)); }
};

struct ProjectionRows {
    static constexpr unsigned kOutputImage = 0;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const ProjectionSetup setup = ProjectionSetup::decode(LaunchParams{launch});
        const Kiln::Compute::KernelImage& out = launch.images[0];
        const int x0 = launch.domain.x0, x1 = launch.domain.x1;
        // A panorama destination's directions are separable: the sines of longitude once per
        // column, of latitude once per row.
        std::vector<double> sinLon, cosLon;
        if (setup.destinationIsPanorama()) {
            for (int x = x0; x < x1; ++x) {
                const double lon = ((x + 0.5) / setup.otherWidth * 2.0 - 1.0) * detail::kPiD;
                sinLon.push_back(std::sin(lon));
                cosLon.push_back(std::cos(lon));
            }
        }
        for (int y = rowBegin; y < rowEnd; ++y) {
            float* o = Kiln::JIT::PixelAt<float, 2>(out, x0, y);
            const double lat = ((y + 0.5) / setup.otherHeight * 2.0 - 1.0) * (detail::kPiD / 2.0);
            const double sinLat = std::sin(lat), cosLat = std::cos(lat);
            for (int x = x0; x < x1; ++x, o += 2) {
                double sx, sy;
                const bool has =
                    setup.destinationIsPanorama()
                        ? setup.sourcePositionOfDirection({cosLat * sinLon[size_t(x - x0)],
                                                           sinLat,
                                                           cosLat * cosLon[size_t(x - x0)]},
                                                          &sx,
                                                          &sy)
                        : setup.sourcePosition(x + 0.5, y + 0.5, &sx, &sy);
                // A record holding NaN or infinity shows nothing rather than NaN positions.
                if (has && std::isfinite(sx) && std::isfinite(sy)) {
                    o[0] = float(sx);
                    o[1] = float(sy);
                } else {
                    o[0] = o[1] = kNoSample;
                }
            }
        }
    }
};

std::vector<Kiln::JIT::CpuVariant> projectionVariants() {
    return {{{&ProjectionRows::rows, 0}, {2, 0, 0, 0}, 1, Kiln::Pixel::ComponentType::Float}};
}

}  // namespace

const char* projectionParamTable() {
    static const std::string table = [] {
        std::string t;
        for (int i = 0; i < kProjectionParamCount; ++i)
            t += Kiln::Compute::FormatParamName(kProjectionParamNames[i]) + " " +
                 std::to_string(int(projectionParamKind(i))) + "\n";
        return t;
    }();
    return table.c_str();
}

void registerProjection() {
    static std::once_flag once;
    Kiln::JIT::RegisterOnce<&projectionVariants>(once, kProjectionId, projectionParamTable());
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerProjection(), true);
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
