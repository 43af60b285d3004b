// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Eigen/Core>

namespace Korvane {
namespace Research {

/// One observation of a match: a position in a camera's input image, in pixels.
class Feature {
public:
    Feature() = default;
    explicit Feature(const Eigen::Vector2d& position) : m_position(position) {}

    const Eigen::Vector2d& getPosition() const { return m_position; }
    void setPosition(const Eigen::Vector2d& position) { m_position = position; }

private:
    Eigen::Vector2d m_position = Eigen::Vector2d::Zero();
};

}  // namespace Research
}  // namespace Korvane
