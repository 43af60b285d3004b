// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Eigen/Core>

namespace Korvane {
namespace Research {

/// A triangulated 3D point of a match, in rig space, with the RMS reprojection error of its
/// triangulation in pixels. A point is valid only when it was triangulated: a default point, and
/// any point whose RMSE is negative or not finite (the saved form of "no point" is RMSE -1 at the
/// origin), is not valid.
class Point {
public:
    Point() = default;
    Point(const Eigen::Vector3d& position, double rmse);

    const Eigen::Vector3d& getPosition() const { return m_position; }
    double getRMSE() const { return m_rmse; }
    bool getIsValid() const { return m_valid; }

private:
    Eigen::Vector3d m_position = Eigen::Vector3d::Zero();
    double m_rmse = -1.0;
    bool m_valid = false;
};

}  // namespace Research
}  // namespace Korvane
