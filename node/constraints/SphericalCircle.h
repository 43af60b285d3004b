// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include <Eigen/Core>

#include "constraints/PlaneRegressor.h"

namespace Korvane {
namespace Research {

class SphericalTransform;

/// The circle where the fitted plane cuts the sphere of radius R about the rig centre; with
/// the plane through the origin it is a great circle, the image of a straight scene line.
class SphericalCircle : public PlaneRegressor {
public:
    /// `radius` in metres: the node's convergence depth.
    explicit SphericalCircle(double radius) : m_radius(radius) {}

    double radius() const { return m_radius; }

    /// Each point moved onto the circle along its angle in the plane: with centre c = d n and
    /// circle radius r = sqrt(R^2 - d^2), p goes to c + r (cos t a1 + sin t a2), where
    /// t = atan2((p - c) . a2, (p - c) . a1). Same order as the input.
    std::vector<Eigen::Vector3d> project(const std::vector<Eigen::Vector3d>& points) const;

private:
    double m_radius;
};

/// Adds samples every `spacing` pixels between consecutive points of one camera image,
/// blending in the camera's ideal latlong image so that the samples follow the line's curve on
/// the sphere rather than the chord in the distorted image. For each pair (a, b) at ideal
/// distance L, n = floor(L / spacing): a is output, then, when n > 1, the n - 1 samples at
/// t = k / n; the last point closes the list. A spacing below 0.01, or fewer than 2 points,
/// returns the points unchanged. A pair across the latlong seam blends the short way round. A
/// sample whose ideal position has no camera image is left out; a pair whose ends have no ideal
/// position gets no samples in between.
std::vector<Eigen::Vector2d> densifyPoints(const std::vector<Eigen::Vector2d>& points,
                                           double spacing,
                                           const SphericalTransform& camera);

}  // namespace Research
}  // namespace Korvane
