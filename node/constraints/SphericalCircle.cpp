// SPDX-License-Identifier: Apache-2.0
#include "constraints/SphericalCircle.h"

#include <cmath>

#include "external/RigLibrary.h"

namespace Korvane {
namespace Research {

std::vector<Eigen::Vector3d> SphericalCircle::project(
    const std::vector<Eigen::Vector3d>& points) const {
    const Eigen::Vector3d centre = m_offset * m_normal;
    const double r = std::sqrt(m_radius * m_radius - m_offset * m_offset);
    std::vector<Eigen::Vector3d> out;
    out.reserve(points.size());
    for (const Eigen::Vector3d& p : points) {
        const Eigen::Vector3d q = p - centre;
        const double theta = std::atan2(q.dot(m_axis2), q.dot(m_axis1));
        out.push_back(centre + r * (std::cos(theta) * m_axis1 + std::sin(theta) * m_axis2));
    }
    return out;
}

std::vector<Eigen::Vector2d> densifyPoints(const std::vector<Eigen::Vector2d>& points,
                                           double spacing,
                                           const SphericalTransform& camera) {
    if (spacing < 0.01 || points.size() < 2) return points;
    std::vector<Eigen::Vector2d> out;
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        out.push_back(points[i]);
        Eigen::Vector2d a, b;
        if (!camera.ProjectToIdeal(points[i], ProjectionTypeEnum::Latlong, &a) ||
            !camera.ProjectToIdeal(points[i + 1], ProjectionTypeEnum::Latlong, &b))
            continue;
        // Longitude wraps: a pair across the +-180 degree seam blends the short way round.
        const double width = camera.getOutputWidth();
        if (b.x() - a.x() > width / 2) b.x() -= width;
        if (a.x() - b.x() > width / 2) b.x() += width;
        const double n = std::floor((b - a).norm() / spacing);
        // A pair far longer than any image would ask for absurd sample counts.
        if (!(n > 1) || n > 1e6) continue;
        for (int k = 1; k < int(n); ++k) {
            const double t = k / n;
            Eigen::Vector2d ideal = (1 - t) * a + t * b;
            if (ideal.x() < 0) ideal.x() += width;
            if (ideal.x() > width) ideal.x() -= width;
            Eigen::Vector2d image;
            if (camera.ProjectFromIdeal(ideal, ProjectionTypeEnum::Latlong, &image))
                out.push_back(image);
        }
    }
    out.push_back(points.back());
    return out;
}

}  // namespace Research
}  // namespace Korvane
