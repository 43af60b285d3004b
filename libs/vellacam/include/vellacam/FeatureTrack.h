// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <utility>
#include <vector>

#include <Eigen/Core>

#include "vellacam/Feature.h"
#include "vellacam/Point.h"

namespace Korvane {
namespace Research {

/// One camera match: the same scene feature seen by two or more cameras. Observations are kept
/// in the order they were added, each as (0-based camera index, feature in that camera's image).
/// A new match was not made by the user, is white and has no valid point.
class FeatureTrack {
public:
    using Observation = std::pair<int, Feature>;

    std::vector<Observation>& getFeatures() { return m_features; }
    const std::vector<Observation>& getFeatures() const { return m_features; }

    const Point& getPoint() const { return m_point; }
    void setPoint(const Point& point) { m_point = point; }

    bool getIsUserTrack() const { return m_isUserTrack; }
    void setUserTrack(bool user) { m_isUserTrack = user; }

    /// Linear RGB, 0 to 1, as the overlay draws the match.
    const Eigen::Vector3d& getColour() const { return m_colour; }
    void setColour(const Eigen::Vector3d& rgb) { m_colour = rgb; }

private:
    std::vector<Observation> m_features;
    Point m_point;
    bool m_isUserTrack = false;
    Eigen::Vector3d m_colour = Eigen::Vector3d::Ones();
};

}  // namespace Research
}  // namespace Korvane
