// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Eigen/Core>

#include "vellacam/CameraDefinition.h"

namespace Korvane {
namespace Research {
namespace detail {

/// Distortion-free lens: positions q in square pixels (horizontal pixel units) about the
/// optical centre, x right and y up, to and from unit rays in the camera frame (+Z forward).
/// Rectilinear and fisheye use the focal length in square pixels; latlong spans longitude
/// -180..180 degrees over [-halfWidth, halfWidth] and latitude -90..90 over
/// [-halfHeight, halfHeight].
class LensGeometry {
public:
    LensGeometry(ProjectionTypeEnum type, double focalPixels, double halfWidth, double halfHeight)
        : m_type(type), m_focal(focalPixels), m_halfWidth(halfWidth), m_halfHeight(halfHeight) {}

    /// False where the lens has no ray (fisheye angle of 180 degrees or more, latlong outside
    /// its angular range).
    bool toRay(const Eigen::Vector2d& q, Eigen::Vector3d* ray) const;
    /// False where the lens cannot see the ray (rectilinear: not in front; fisheye: straight
    /// behind). `ray` need not be unit length but must not be zero.
    bool fromRay(const Eigen::Vector3d& ray, Eigen::Vector2d* q) const;

private:
    ProjectionTypeEnum m_type;
    double m_focal;
    double m_halfWidth;
    double m_halfHeight;
};

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
