// SPDX-License-Identifier: Apache-2.0
#include "render/projection/ProjectionRecords.h"

#include <algorithm>
#include <cmath>

#include "external/RigLibrary.h"

namespace Kiln {
namespace ImageProjection {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinFocal = 0.001;
constexpr double kMaxRectilinearHalfAngle = 85.0 * kPi / 180.0;

}  // namespace

bool isLatlong(int projectionType) { return projectionType == 2 || projectionType == 3; }

float fieldOfView(const CameraRecord& camera) {
    const double f = std::max(double(camera.focalLength), kMinFocal);
    const double w = camera.sensorWidth;
    if (isLatlong(camera.projection)) return 360.0f;
    const double half = camera.projection == 1 ? w / (2.0 * f) : std::atan(w / (2.0 * f));
    return float(2.0 * half * 180.0 / kPi);
}

float convertFocalLength(float focal, float sensorWidth, int from, int to) {
    if (isLatlong(from) || isLatlong(to) || from == to) return focal;
    const double f = std::max(double(focal), kMinFocal);
    const double halfWidth = 0.5 * double(sensorWidth);
    if (from == 0 && to == 1) return float(halfWidth / std::atan(halfWidth / f));
    if (from == 1 && to == 0)
        return float(halfWidth / std::tan(std::min(halfWidth / f, kMaxRectilinearHalfAngle)));
    return focal;
}

Korvane::Research::Kernels::ProjectionScalars projectionScalars(const ProjectionRecords& records,
                                                                bool inverse,
                                                                bool wrap,
                                                                const Size& source,
                                                                const Size& destination) {
    const CameraRecord& camera = records.camera;
    const LensRecord& lens = records.lens;
    Korvane::Research::Kernels::ProjectionScalars s;
    s.sourceWidth = float(source.width);
    s.sourceHeight = float(source.height);
    s.destWidth = float(destination.width);
    s.destHeight = float(destination.height);
    s.inverse = inverse;
    s.wrap = wrap;
    s.focal = camera.focalLength * camera.focalScale;
    s.sensorWidth = camera.sensorWidth;
    s.aspect = camera.pixelAspect;
    s.shift = lens.centreShift;
    s.distortion = lens.distortion;
    s.undistort = lens.undistort;
    if (lens.undistort) {
        const Korvane::Research::RadialDistortion polynomial(
            Eigen::Vector3d(lens.distortion[0], lens.distortion[1], lens.distortion[2]));
        s.maxIdealRadius = float(polynomial.maxIdealRadius());
    }
    s.position = camera.position;
    s.rotation = camera.rotation;
    s.otherFocal =
        convertFocalLength(s.focal, camera.sensorWidth, camera.projection, records.otherType);
    s.origin = records.parallax.origin;
    s.depth = records.parallax.depth;
    s.enabled = camera.enabled;
    s.otherType = records.otherType;
    s.cameraType = camera.projection;
    s.imageCircle = lens.imageCircle;
    return s;
}

CameraRecord cameraRecord(const Korvane::Research::CameraDefinition& camera) {
    CameraRecord r;
    r.fieldOfView = float(camera.getFieldOfView());
    r.focalLength = float(camera.getFocalLength());
    r.sensorWidth = float(camera.getSensorSize().x());
    r.sensorHeight = float(camera.getSensorSize().y());
    r.pixelAspect = float(camera.getPixelAspect());
    for (int i = 0; i < 3; ++i) {
        r.position[size_t(i)] = float(camera.getPosition()[i]);
        r.rotation[size_t(i)] = float(camera.getRotation()[i]);
    }
    r.projection = int(camera.getProjection());
    r.enabled = camera.getEnabled() ? 1 : 0;
    return r;
}

LensRecord lensRecord(const Korvane::Research::CameraDefinition& camera) {
    LensRecord r;
    for (int i = 0; i < 3; ++i) r.distortion[size_t(i)] = float(camera.getDistortion()[i]);
    r.centreShift = {float(camera.getCentreShift().x()), float(camera.getCentreShift().y())};
    r.undistort = camera.getUndistort();
    if (camera.hasImageCircle())
        r.imageCircle = {float(camera.getImageCircleCentre().x()),
                         float(camera.getImageCircleCentre().y()),
                         float(camera.getImageCircleRadius())};
    return r;
}

Quaternion inverse(const Quaternion& q) {
    const float n = q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z;
    if (!(n > 0.0f)) return q;
    return {q.w / n, -q.x / n, -q.y / n, -q.z / n};
}

}  // namespace ImageProjection
}  // namespace Kiln
