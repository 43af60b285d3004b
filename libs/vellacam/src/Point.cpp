// SPDX-License-Identifier: Apache-2.0
#include "vellacam/Point.h"

#include <cmath>

namespace Korvane {
namespace Research {

Point::Point(const Eigen::Vector3d& position, double rmse)
    : m_position(position), m_rmse(rmse), m_valid(std::isfinite(rmse) && rmse >= 0.0) {}

}  // namespace Research
}  // namespace Korvane
