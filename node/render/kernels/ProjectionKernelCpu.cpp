// SPDX-License-Identifier: Apache-2.0
#include "render/kernels/ProjectionKernel.h"

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"
#include "render/kernels/FastAtan2.h"

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

/// True for a virtual camera looking at the panorama: the camera (the destination) is an
/// undistorted rectilinear lens without an image circle, parallax at infinity, the other
/// side a panorama. Every destination pixel then has a source position, found in single
/// precision a row at a time (virtualCameraRow), as the view turn's rows are: a view's
/// positions are made afresh at every turn.
bool isVirtualCamera(const ProjectionSetup& s) {
    return s.valid && s.inverse && detail::isLatlong(s.otherType) && s.cameraLens.type == 0 &&
           !s.distortion.active && !s.hasCircle && s.depth == 0.0;
}

/// One row of a virtual camera's positions: the ray of each pixel (its length does not
/// matter to the angles) turned into the rig frame, then longitude and latitude in panorama
/// pixels. Branch-free float arithmetic over the row, so the compiler vectorises it; within
/// about 1e-6 rad of the double-precision path.
void virtualCameraRow(const ProjectionSetup& s, int y, int x0, int x1, float* o) {
    const detail::Mat3& r = s.rotation;
    const float m0 = float(r.m[0]), m1 = float(r.m[1]), m2 = float(r.m[2]);
    const float m3 = float(r.m[3]), m4 = float(r.m[4]), m5 = float(r.m[5]);
    const float m6 = float(r.m[6]), m7 = float(r.m[7]), m8 = float(r.m[8]);
    const float qy = float((y + 0.5 - s.centreY) / s.aspect);
    const float f = float(s.cameraLens.focal);
    // Constant terms of the turned ray: the row's y and the focal length.
    const float cx = m1 * qy + m2 * f, cy = m4 * qy + m5 * f, cz = m7 * qy + m8 * f;
    constexpr float kInvPi = float(0.318309886183790671538);
    const float sx = 0.5f * kInvPi * float(s.otherWidth), sy = kInvPi * float(s.otherHeight);
    const float hw = 0.5f * float(s.otherWidth), hh = 0.5f * float(s.otherHeight);
    const float width = float(s.otherWidth);
    const float left = float(x0 + 0.5 - s.centreX);
    const bool wrap = s.wrap;
    for (int i = 0; i < x1 - x0; ++i) {
        const float qx = left + float(i);
        const float dx = m0 * qx + cx, dy = m3 * qx + cy, dz = m6 * qx + cz;
        float px = fastAtan2(dx, dz) * sx + hw;
        px = wrap && px >= width ? px - width : px;
        o[2 * i] = px;
        o[2 * i + 1] = fastAtan2(dy, std::sqrt(dx * dx + dz * dz)) * sy + hh;
    }
}

struct ProjectionRows {
    static constexpr unsigned kOutputImage = 0;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const ProjectionSetup setup = ProjectionSetup::decode(LaunchParams{launch});
        const Kiln::Compute::KernelImage& out = launch.images[0];
        const int x0 = launch.domain.x0, x1 = launch.domain.x1;
        // Pixels beyond the camera's frame show nothing: those launches take the general path.
        if (isVirtualCamera(setup) && x0 >= 0 && x1 <= setup.cameraWidth && rowBegin >= 0 &&
            rowEnd <= setup.cameraHeight) {
            for (int y = rowBegin; y < rowEnd; ++y)
                virtualCameraRow(setup, y, x0, x1, Kiln::JIT::PixelAt<float, 2>(out, x0, y));
            return;
        }
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
    return {{{&ProjectionRows::rows, ProjectionRows::kOutputImage},
             {2, 0, 0, 0},
             1,
             Kiln::Pixel::ComponentType::Float}};
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
