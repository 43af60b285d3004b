// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include <Eigen/Core>

namespace Korvane {
namespace Research {

/// Least-squares plane through the origin of a set of 3D points (rig frame, metres).
///
/// The fit takes the SVD of the n x 3 matrix of the points, not centred: the plane must pass
/// through the sphere's centre, because a straight scene line seen from the rig centre lies on
/// a great circle. The normal is the right singular vector of the smallest singular value; the
/// in-plane axes are those of the largest and the middle one. Signs are whatever the SVD
/// gives. A failed fit leaves the previous plane as it was.
class PlaneRegressor {
public:
    virtual ~PlaneRegressor() = default;

    /// False, with nothing changed, for fewer than 2 points or any NaN coordinate.
    virtual bool fit(const std::vector<Eigen::Vector3d>& points);
    virtual Eigen::Vector3d normal() const { return m_normal; }

    const Eigen::Vector3d& firstAxis() const { return m_axis1; }
    const Eigen::Vector3d& secondAxis() const { return m_axis2; }
    /// The plane is {p : normal . p = offset}; every fit sets it to 0.
    double offset() const { return m_offset; }

protected:
    Eigen::Vector3d m_normal{1, 0, 0};
    Eigen::Vector3d m_axis1{0, 1, 0};
    Eigen::Vector3d m_axis2{0, 0, 1};
    double m_offset = 0.0;
};

}  // namespace Research
}  // namespace Korvane
