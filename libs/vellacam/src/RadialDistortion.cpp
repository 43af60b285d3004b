// SPDX-License-Identifier: Apache-2.0
#include "vellacam/RadialDistortion.h"

#include <cmath>

namespace Korvane {
namespace Research {

namespace {

// Steps of the scan for the first turning point of g; a dip in g' narrower than this step is
// not seen, which only matters for coefficients far outside any real lens.
constexpr double kScanStep = 1.0 / 1024.0;
constexpr int kMaxIterations = 200;

}  // namespace

RadialDistortion::RadialDistortion(const Eigen::Vector3d& abc)
    : m_a(abc.x()), m_b(abc.y()), m_c(abc.z()), m_d(1.0 - abc.x() - abc.y() - abc.z()) {
    if (!isUsable()) {
        m_maxIdealRadius = 0.0;
        return;
    }
    for (double r = kScanStep; r <= kSearchLimit; r += kScanStep) {
        if (slope(r) > 0.0) continue;
        double lo = r - kScanStep;
        double hi = r;
        for (int i = 0; i < 60; ++i) {
            const double mid = 0.5 * (lo + hi);
            (slope(mid) > 0.0 ? lo : hi) = mid;
        }
        m_maxIdealRadius = lo;
        return;
    }
}

bool RadialDistortion::distort(double ideal, double* image) const {
    if (!(ideal >= 0.0 && ideal < m_maxIdealRadius)) return false;
    *image = g(ideal);
    return true;
}

bool RadialDistortion::undistort(double image, double* ideal) const {
    if (isIdentity()) {
        *ideal = image;
        return image >= 0.0;
    }
    double hi = m_maxIdealRadius;
    if (!(image >= 0.0 && image < g(hi))) return false;
    double lo = 0.0;
    double r = std::min(image, 0.5 * hi);
    for (int i = 0; i < kMaxIterations; ++i) {
        const double f = g(r) - image;
        if (std::abs(f) <= kTolerance) {
            *ideal = r;
            return true;
        }
        (f > 0.0 ? hi : lo) = r;
        const double next = r - f / slope(r);
        r = (next > lo && next < hi) ? next : 0.5 * (lo + hi);
    }
    return false;
}

}  // namespace Research
}  // namespace Korvane
