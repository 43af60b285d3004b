// SPDX-License-Identifier: Apache-2.0
#include "vellacam/CameraDefinition.h"

#include <cmath>

#include <Eigen/Geometry>

namespace Korvane {
namespace Research {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kRadToDeg = 180.0 / kPi;

}  // namespace

bool isProjectionType(int value) { return value >= 0 && value <= 2; }

void CameraDefinition::setFormat(int width, int height, double pixelAspect) {
    m_formatWidth = width;
    m_formatHeight = height;
    m_pixelAspect = pixelAspect;
}

double CameraDefinition::getFieldOfView() const {
    if (m_projection == ProjectionTypeEnum::Latlong) return 360.0;
    if (m_focalLength <= 0.0) return 0.0;
    const double width = m_sensorSize.x();
    if (m_projection == ProjectionTypeEnum::Fisheye) return width / m_focalLength * kRadToDeg;
    return 2.0 * std::atan(width / (2.0 * m_focalLength)) * kRadToDeg;
}

void CameraDefinition::setFieldOfView(double degrees) {
    const double angle = degrees * kDegToRad;
    const double width = m_sensorSize.x();
    switch (m_projection) {
        case ProjectionTypeEnum::Rectilinear:
            m_focalLength = width / (2.0 * std::tan(angle / 2.0));
            break;
        case ProjectionTypeEnum::Fisheye:
            m_focalLength = width / angle;
            break;
        case ProjectionTypeEnum::Latlong:
            break;
    }
}

Eigen::Matrix3d CameraDefinition::getCameraToWorldRotation() const {
    const Eigen::Vector3d r = m_rotation * kDegToRad;
    return (Eigen::AngleAxisd(r.y(), Eigen::Vector3d::UnitY()) *
            Eigen::AngleAxisd(r.x(), Eigen::Vector3d::UnitX()) *
            Eigen::AngleAxisd(r.z(), Eigen::Vector3d::UnitZ()))
        .toRotationMatrix();
}

void CameraDefinition::setCameraToWorldRotation(const Eigen::Matrix3d& m) {
    // For M = Ry(y) Rx(x) Rz(z): M(1,2) = -sin x, M(0,2) = cos x sin y, M(2,2) = cos x cos y,
    // M(1,0) = cos x sin z, M(1,1) = cos x cos z.
    const double sx = std::max(-1.0, std::min(1.0, -m(1, 2)));
    const double x = std::asin(sx);
    double y;
    double z;
    if (std::abs(sx) < 1.0 - 1e-12) {
        y = std::atan2(m(0, 2), m(2, 2));
        z = std::atan2(m(1, 0), m(1, 1));
    } else {
        // cos x = 0: only y - z (x = +90) or y + z (x = -90) is defined; keep z = 0.
        z = 0.0;
        y = std::atan2(-m(2, 0), m(0, 0));
    }
    m_rotation = Eigen::Vector3d(x, y, z) * kRadToDeg;
}

bool CameraDefinition::isPicture(const Eigen::Vector2d& p) const {
    if (!(p.x() >= 0.0 && p.x() <= m_formatWidth && p.y() >= 0.0 && p.y() <= m_formatHeight))
        return false;
    return !hasImageCircle() ||
           (p - m_circleCentre).squaredNorm() <= m_circleRadius * m_circleRadius;
}

bool CameraDefinition::operator==(const CameraDefinition& o) const {
    return m_formatWidth == o.m_formatWidth && m_formatHeight == o.m_formatHeight &&
           m_pixelAspect == o.m_pixelAspect && m_projection == o.m_projection &&
           m_focalLength == o.m_focalLength && m_sensorSize == o.m_sensorSize &&
           m_centreShift == o.m_centreShift && m_distortion == o.m_distortion &&
           m_undistort == o.m_undistort && m_position == o.m_position &&
           m_rotation == o.m_rotation && m_circleCentre == o.m_circleCentre &&
           m_circleRadius == o.m_circleRadius && m_hasCropWindow == o.m_hasCropWindow &&
           m_cropOffset == o.m_cropOffset && m_enabled == o.m_enabled &&
           m_outputView == o.m_outputView;
}

}  // namespace Research
}  // namespace Korvane
