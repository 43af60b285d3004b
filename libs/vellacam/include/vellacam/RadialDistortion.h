// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Eigen/Core>

namespace Korvane {
namespace Research {

/// The radial lens polynomial g(r) = r * (a r^3 + b r^2 + c r + d), d = 1 - a - b - c, which
/// takes a distortion-free radius r to the radius seen in the image. Radii are in units of half
/// the smaller image side, so g(1) = 1 whatever the coefficients.
///
/// The model is used only where g grows: from 0 up to the first radius where g'(r) = 0,
/// searched up to kSearchLimit (beyond that no image point lies). Outside that range both
/// directions report failure instead of folding points over. Coefficients with d <= 0 give a
/// lens that shrinks at its centre; such a model maps nothing.
class RadialDistortion {
public:
    /// Newton iterations of undistort() stop when |g(r) - imageRadius| <= kTolerance, that is
    /// below 1e-9 pixels for images up to 2000 pixels on their smaller side.
    static constexpr double kTolerance = 1e-12;
    static constexpr double kSearchLimit = 16.0;

    RadialDistortion() = default;
    explicit RadialDistortion(const Eigen::Vector3d& abc);

    bool isIdentity() const { return m_a == 0.0 && m_b == 0.0 && m_c == 0.0; }
    bool isUsable() const { return m_d > 0.0; }
    /// End of the range where g grows (kSearchLimit when g grows throughout).
    double maxIdealRadius() const { return m_maxIdealRadius; }

    double g(double r) const { return r * (((m_a * r + m_b) * r + m_c) * r + m_d); }
    double slope(double r) const { return ((4.0 * m_a * r + 3.0 * m_b) * r + 2.0 * m_c) * r + m_d; }

    /// Image radius of distortion-free radius `ideal`; false outside [0, maxIdealRadius()).
    bool distort(double ideal, double* image) const;
    /// Inverse of distort() by safeguarded Newton iteration (bisection whenever a Newton step
    /// leaves the bracket), so it converges for every radius in range.
    bool undistort(double image, double* ideal) const;

private:
    double m_a = 0.0;
    double m_b = 0.0;
    double m_c = 0.0;
    double m_d = 1.0;
    double m_maxIdealRadius = kSearchLimit;
};

}  // namespace Research
}  // namespace Korvane
