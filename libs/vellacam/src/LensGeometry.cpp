// SPDX-License-Identifier: Apache-2.0
#include "LensGeometry.h"

#include <cmath>

namespace Korvane {
namespace Research {
namespace detail {

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

bool LensGeometry::toRay(const Eigen::Vector2d& q, Eigen::Vector3d* ray) const {
    switch (m_type) {
        case ProjectionTypeEnum::Rectilinear:
            *ray = Eigen::Vector3d(q.x(), q.y(), m_focal).normalized();
            return true;
        case ProjectionTypeEnum::Fisheye: {
            const double r = q.norm();
            const double theta = r / m_focal;
            if (!(theta < kPi)) return false;
            if (r == 0.0) {
                *ray = Eigen::Vector3d::UnitZ();
                return true;
            }
            const double s = std::sin(theta) / r;
            *ray = Eigen::Vector3d(q.x() * s, q.y() * s, std::cos(theta));
            return true;
        }
        case ProjectionTypeEnum::Latlong: {
            const double lon = q.x() / m_halfWidth * kPi;
            const double lat = q.y() / m_halfHeight * (kPi / 2.0);
            if (!(std::abs(lon) <= kPi && std::abs(lat) <= kPi / 2.0)) return false;
            *ray = Eigen::Vector3d(
                std::cos(lat) * std::sin(lon), std::sin(lat), std::cos(lat) * std::cos(lon));
            return true;
        }
    }
    return false;
}

bool LensGeometry::fromRay(const Eigen::Vector3d& ray, Eigen::Vector2d* q) const {
    switch (m_type) {
        case ProjectionTypeEnum::Rectilinear:
            if (!(ray.z() > 0.0)) return false;
            *q = m_focal / ray.z() * ray.head<2>();
            return true;
        case ProjectionTypeEnum::Fisheye: {
            const double rho = ray.head<2>().norm();
            if (rho == 0.0) {
                if (!(ray.z() > 0.0)) return false;
                *q = Eigen::Vector2d::Zero();
                return true;
            }
            const double theta = std::atan2(rho, ray.z());
            *q = m_focal * theta / rho * ray.head<2>();
            return true;
        }
        case ProjectionTypeEnum::Latlong: {
            const double lon = std::atan2(ray.x(), ray.z());
            const double lat = std::atan2(ray.y(), std::hypot(ray.x(), ray.z()));
            *q = Eigen::Vector2d(lon / kPi * m_halfWidth, lat / (kPi / 2.0) * m_halfHeight);
            return true;
        }
    }
    return false;
}

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
