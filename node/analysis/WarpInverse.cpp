// SPDX-License-Identifier: Apache-2.0
#include "analysis/WarpInverse.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/GridTriangle.h"

namespace Korvane {
namespace Research {

WarpInverse::WarpInverse(const Grid2D& grid, int width, int height)
    : m_grid(grid), m_width(width), m_height(height) {}

Eigen::Vector2d WarpInverse::displacement(const Eigen::Vector2d& q) const {
    const Eigen::Vector2d inside(std::clamp(q.x(), 0.0, double(m_width)),
                                 std::clamp(q.y(), 0.0, double(m_height)));
    const auto t = GridTriangle::locate(m_grid.width, m_grid.height, m_width, m_height, inside);
    Eigen::Vector2d d = Eigen::Vector2d::Zero();
    if (t)
        for (int m = 0; m < 3; ++m) d += t->weight[m] * m_grid.points[size_t(t->vertex[m])];
    return d;
}

std::optional<Eigen::Vector2d> WarpInverse::warpedPosition(const Eigen::Vector2d& o) const {
    Eigen::Vector2d q = o;
    for (int n = 0; n < kMaxIterations; ++n) {
        const Eigen::Vector2d next = o - displacement(q);
        if (!next.allFinite()) return std::nullopt;
        const double step = (next - q).norm();
        q = next;
        if (step < kTolerance) return q;
    }
    return std::nullopt;
}

std::optional<double> matchMisalignment(const FeatureTrack& match,
                                        const std::map<int, WarpInverse>& grids,
                                        const std::vector<SphericalTransform>& transforms) {
    std::vector<std::pair<Eigen::Vector2d, double>> ideal;  // position, ideal image width
    for (const auto& [camera, feature] : match.getFeatures()) {
        if (camera < 0 || camera >= int(transforms.size())) continue;
        std::optional<Eigen::Vector2d> q = feature.getPosition();
        const auto grid = grids.find(camera);
        if (grid != grids.end()) q = grid->second.warpedPosition(*q);
        Eigen::Vector2d p;
        if (q && transforms[size_t(camera)].ProjectToIdeal(*q, ProjectionTypeEnum::Latlong, &p))
            ideal.emplace_back(p, double(transforms[size_t(camera)].getOutputWidth()));
    }
    if (ideal.size() < 2) return std::nullopt;
    // Longitudes are brought next to the first observation's before the mean is taken.
    const Eigen::Vector2d first = ideal.front().first;
    Eigen::Vector2d mean = Eigen::Vector2d::Zero();
    for (auto& [p, width] : ideal) {
        if (p.x() - first.x() > width / 2) p.x() -= width;
        if (p.x() - first.x() < -width / 2) p.x() += width;
        mean += p;
    }
    mean /= double(ideal.size());
    double sum = 0.0;
    for (const auto& [p, width] : ideal) sum += (p - mean).squaredNorm();
    return std::sqrt(sum / double(ideal.size()));
}

}  // namespace Research
}  // namespace Korvane
