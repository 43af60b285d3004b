// SPDX-License-Identifier: Apache-2.0
#include "constraints/PlaneRegressor.h"

#include <cmath>

#include <Eigen/SVD>

namespace Korvane {
namespace Research {

bool PlaneRegressor::fit(const std::vector<Eigen::Vector3d>& points) {
    if (points.size() < 2) return false;
    Eigen::MatrixX3d m(Eigen::Index(points.size()), 3);
    for (size_t i = 0; i < points.size(); ++i) {
        if (points[i].hasNaN()) return false;
        m.row(Eigen::Index(i)) = points[i].transpose();
    }
    // Singular values come sorted in decreasing order; no threshold is applied (V is full).
    Eigen::JacobiSVD<Eigen::MatrixX3d> svd(m, Eigen::ComputeFullV);
    const Eigen::Matrix3d& v = svd.matrixV();
    if (!v.allFinite()) return false;
    m_axis1 = v.col(0);
    m_axis2 = v.col(1);
    m_normal = v.col(2);
    m_offset = 0.0;
    return true;
}

}  // namespace Research
}  // namespace Korvane
