// SPDX-License-Identifier: Apache-2.0
#include "PatchAligner.h"

#include <cmath>

#include <Eigen/Eigenvalues>

namespace Korvane {
namespace Research {
namespace detail {

namespace {

constexpr int kMaxIterations = 30;
// Iterations stop once the centre moves less than this, pixels.
constexpr double kConvergence = 0.005;

}  // namespace

bool SampledImage::sample(const Eigen::Vector2d& p, double* value) const {
    // Library position (x, y) is OpenCV's (x - 0.5, height - 0.5 - y).
    const double u = p.x() - 0.5;
    const double v = m_height - 0.5 - p.y();
    const double fu = std::floor(u), fv = std::floor(v);
    const int i = int(fu), j = int(fv);
    if (!(i >= 0 && j >= 0 && i + 1 < m_width && j + 1 < m_height)) return false;
    const double a = u - fu, b = v - fv;
    const float* row0 = m_pixels.data() + size_t(j) * size_t(m_width) + size_t(i);
    const float* row1 = row0 + m_width;
    *value =
        (1.0 - b) * ((1.0 - a) * row0[0] + a * row0[1]) + b * ((1.0 - a) * row1[0] + a * row1[1]);
    return true;
}

bool describePatch(const SampledImage& image,
                   const Eigen::Vector2d& pixel,
                   const Eigen::Matrix2d& axes,
                   int radius,
                   double minDeviation,
                   float* out) {
    const int side = 2 * radius + 1;
    const int count = side * side;
    double sum = 0.0;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            double v;
            if (!image.sample(pixel + axes * Eigen::Vector2d(x - radius, y - radius), &v))
                return false;
            out[y * side + x] = float(v);
            sum += v;
        }
    const double mean = sum / count;
    double squares = 0.0;
    for (int k = 0; k < count; ++k) {
        out[k] = float(out[k] - mean);
        squares += double(out[k]) * out[k];
    }
    if (!(squares > minDeviation * minDeviation * count)) return false;
    const float scale = float(1.0 / std::sqrt(squares));
    for (int k = 0; k < count; ++k) out[k] *= scale;
    return true;
}

bool alignPatch(const SampledImage& reference,
                const Eigen::Vector2d& referencePixel,
                const SampledImage& target,
                const Eigen::Vector2d& start,
                const Eigen::Matrix2d& jacobian,
                int radius,
                double maxShift,
                double minGradient,
                PatchAlignment* result) {
    const int side = 2 * radius + 1;
    const int count = side * side;
    // The template with a one-sample margin for its central-difference gradient.
    const int outer = side + 2;
    std::vector<double> grid(size_t(outer) * outer);
    for (int y = 0; y < outer; ++y)
        for (int x = 0; x < outer; ++x) {
            const Eigen::Vector2d w(x - radius - 1, y - radius - 1);
            if (!reference.sample(referencePixel + w, &grid[size_t(y) * outer + x])) return false;
        }
    std::vector<double> templ(count), gx(count), gy(count);
    Eigen::Matrix2d hessian = Eigen::Matrix2d::Zero();
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const size_t g = size_t(y + 1) * outer + size_t(x + 1);
            const int k = y * side + x;
            templ[k] = grid[g];
            gx[k] = 0.5 * (grid[g + 1] - grid[g - 1]);
            gy[k] = 0.5 * (grid[g + outer] - grid[g - outer]);
            hessian(0, 0) += gx[k] * gx[k];
            hessian(0, 1) += gx[k] * gy[k];
            hessian(1, 1) += gy[k] * gy[k];
        }
    hessian(1, 0) = hessian(0, 1);
    const double smallest =
        Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d>(hessian, Eigen::EigenvaluesOnly)
            .eigenvalues()[0];
    if (!(smallest >= minGradient * minGradient * count)) return false;
    const Eigen::Matrix2d inverse = hessian.inverse();

    std::vector<double> warped(count);
    auto sampleTarget = [&](const Eigen::Vector2d& centre) {
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const Eigen::Vector2d w(x - radius, y - radius);
                if (!target.sample(centre + jacobian * w, &warped[size_t(y) * side + x]))
                    return false;
            }
        return true;
    };

    Eigen::Vector2d centre = start;
    bool converged = false;
    for (int iteration = 0; iteration < kMaxIterations && !converged; ++iteration) {
        if (!sampleTarget(centre)) return false;
        Eigen::Vector2d b = Eigen::Vector2d::Zero();
        for (int k = 0; k < count; ++k) {
            const double e = warped[k] - templ[k];
            b.x() += gx[k] * e;
            b.y() += gy[k] * e;
        }
        // Target q = centre + J w shows reference w + du: the centre moves by -J du.
        const Eigen::Vector2d step = -(jacobian * (inverse * b));
        centre += step;
        if ((centre - start).norm() > maxShift) return false;
        converged = step.norm() < kConvergence;
    }
    if (!sampleTarget(centre)) return false;

    double meanT = 0.0, meanW = 0.0;
    for (int k = 0; k < count; ++k) {
        meanT += templ[k];
        meanW += warped[k];
    }
    meanT /= count;
    meanW /= count;
    double st = 0.0, sw = 0.0, stw = 0.0;
    for (int k = 0; k < count; ++k) {
        const double t = templ[k] - meanT, w = warped[k] - meanW;
        st += t * t;
        sw += w * w;
        stw += t * w;
    }
    result->position = centre;
    result->correlation = st > 0.0 && sw > 0.0 ? stw / std::sqrt(st * sw) : 0.0;
    result->converged = converged;
    return converged;
}

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
