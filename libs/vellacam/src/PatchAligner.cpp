// SPDX-License-Identifier: Apache-2.0
#include "PatchAligner.h"

#include <cmath>

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>
#include <Eigen/SVD>

namespace Korvane {
namespace Research {
namespace detail {

namespace {

constexpr int kMaxIterations = 30;
// Iterations stop once the centre moves less than this, pixels, and the deformation of the
// patch less than kConvergenceMap.
constexpr double kConvergence = 0.005;
constexpr double kConvergenceMap = 0.001;
// The fitted local map keeps its scales within this factor (and its inverse) of the predicted.
constexpr double kMinScale = 0.7;
// A translation on the predicted map that correlates at least this well needs no affine fit.
constexpr double kModelHolds = 0.99;

using Vector6 = Eigen::Matrix<double, 6, 1>;
using Matrix6 = Eigen::Matrix<double, 6, 6>;

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
    // Steepest-descent images of the six affine parameters: translation (d), then the 2 x 2
    // deformation D row by row, for the template warp w -> w + D w + d.
    std::vector<double> templ(count);
    std::vector<Vector6> descent(count);
    Eigen::Matrix2d structure = Eigen::Matrix2d::Zero();
    Matrix6 hessian = Matrix6::Zero();
    double meanT = 0.0;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const size_t g = size_t(y + 1) * outer + size_t(x + 1);
            const int k = y * side + x;
            templ[k] = grid[g];
            meanT += templ[k];
            const double gx = 0.5 * (grid[g + 1] - grid[g - 1]);
            const double gy = 0.5 * (grid[g + outer] - grid[g - outer]);
            const double wx = x - radius, wy = y - radius;
            descent[k] << gx, gy, gx * wx, gx * wy, gy * wx, gy * wy;
            hessian += descent[k] * descent[k].transpose();
            structure(0, 0) += gx * gx;
            structure(0, 1) += gx * gy;
            structure(1, 1) += gy * gy;
        }
    structure(1, 0) = structure(0, 1);
    const double smallest =
        Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d>(structure, Eigen::EigenvaluesOnly)
            .eigenvalues()[0];
    if (!(smallest >= minGradient * minGradient * count)) return false;
    meanT /= count;
    double st = 0.0;
    for (int k = 0; k < count; ++k) {
        templ[k] -= meanT;
        st += templ[k] * templ[k];
    }
    const Eigen::LDLT<Matrix6> solver(hessian);
    if (solver.info() != Eigen::Success || !(st > 0.0)) return false;
    const double deviationT = std::sqrt(st / count);

    std::vector<double> warped(count);
    // Samples the target patch and makes it zero-mean with the template's deviation, so that
    // the two lenses' difference in exposure does not pull the fit. False when it leaves the
    // target or is flat.
    auto sampleTarget = [&](const Eigen::Vector2d& centre, const Eigen::Matrix2d& map) {
        double sum = 0.0;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const Eigen::Vector2d w(x - radius, y - radius);
                double& v = warped[size_t(y) * side + x];
                if (!target.sample(centre + map * w, &v)) return false;
                sum += v;
            }
        const double mean = sum / count;
        double squares = 0.0;
        for (double& v : warped) {
            v -= mean;
            squares += v * v;
        }
        if (!(squares > 0.0)) return false;
        const double gain = deviationT / std::sqrt(squares / count);
        for (double& v : warped) v *= gain;
        return true;
    };

    // The local map may stray from the rig's prediction by the lens model's error near the rim
    // of a wide lens, not without limit.
    const Eigen::Matrix2d predicted = jacobian.inverse();
    auto plausible = [&](const Eigen::Matrix2d& map) {
        const Eigen::Vector2d singular =
            Eigen::JacobiSVD<Eigen::Matrix2d>(predicted * map).singularValues();
        return singular[1] > kMinScale && singular[0] < 1.0 / kMinScale;
    };

    const Eigen::Matrix2d structureInverse = structure.inverse();
    // Inverse-compositional iterations from (centre, map): on the translation alone, or on the
    // whole affine warp. False when a patch leaves the target, the centre strays more than
    // maxShift from `start`, the map turns implausible, or the iterations do not settle.
    auto fit = [&](bool affine, Eigen::Vector2d* centre, Eigen::Matrix2d* map) {
        for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
            if (!sampleTarget(*centre, *map)) return false;
            Vector6 b = Vector6::Zero();
            for (int k = 0; k < count; ++k) b += descent[k] * (warped[k] - templ[k]);
            Vector6 delta = Vector6::Zero();
            if (affine)
                delta = solver.solve(b);
            else
                delta.head<2>() = structureInverse * b.head<2>();
            // Target q = centre + M w shows reference w + D w + d: M becomes M (I + D)^-1 and
            // the centre moves by -M (I + D)^-1 d.
            Eigen::Matrix2d grow;
            grow << 1.0 + delta[2], delta[3], delta[4], 1.0 + delta[5];
            if (!(std::abs(grow.determinant()) > 1e-6)) return false;
            *map = *map * grow.inverse();
            const Eigen::Vector2d step = -(*map * delta.head<2>());
            *centre += step;
            if (!((*centre - start).norm() <= maxShift) || !plausible(*map)) return false;
            if (step.norm() < kConvergence && delta.tail<4>().norm() < kConvergenceMap) return true;
        }
        return false;
    };

    // Normalised correlation of the template with the target as last sampled.
    auto correlation = [&] {
        double sw = 0.0, stw = 0.0;
        for (int k = 0; k < count; ++k) {
            sw += warped[k] * warped[k];
            stw += templ[k] * warped[k];
        }
        return sw > 0.0 ? stw / std::sqrt(st * sw) : 0.0;
    };

    // The translation first, on the predicted map, which widens the reach of the fit. Where the
    // predicted map explains the patch (the lens model holds there), the translation is the
    // answer: four more unknowns would only let the centre wander with the noise. Elsewhere
    // (near the rim of a wide lens, where the model is off) the whole affine warp follows from
    // there, and must settle too: a patch whose map the texture leaves undetermined fixes its
    // centre no better.
    Eigen::Vector2d centre = start;
    Eigen::Matrix2d map = jacobian;
    if (!fit(false, &centre, &map) || !sampleTarget(centre, map)) return false;
    if (correlation() < kModelHolds) {
        if (!fit(true, &centre, &map) || !sampleTarget(centre, map)) return false;
    }
    result->position = centre;
    result->mapping = map;
    result->correlation = correlation();
    return true;
}

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
