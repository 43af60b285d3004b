// SPDX-License-Identifier: Apache-2.0
#include "RotationCorrection.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <random>

#include <Eigen/Cholesky>
#include <Eigen/Geometry>

namespace Korvane {
namespace Research {
namespace detail {

namespace {

constexpr int kMinHypotheses = 50;

double angleBetween(const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
    return std::atan2(a.cross(b).norm(), a.dot(b));
}

Eigen::Matrix3d rotation(const Eigen::Vector3d& omega) {
    const double angle = omega.norm();
    if (!(angle > 0.0)) return Eigen::Matrix3d::Identity();
    return Eigen::AngleAxisd(angle, omega / angle).toRotationMatrix();
}

/// rayB minus the nearest unit direction in which b sees the ray of a (the arc from the point
/// at minDepth to the point at infinity): about the angle between them, as a vector.
Eigen::Vector3d arcResidual(const Eigen::Vector3d& centreA,
                            const Eigen::Vector3d& rayA,
                            const Eigen::Vector3d& centreB,
                            const Eigen::Vector3d& rayB,
                            double minDepth) {
    const Eigen::Vector3d nearPoint = (centreA + minDepth * rayA - centreB).normalized();
    const Eigen::Vector3d normal = nearPoint.cross(rayA);
    const double length = normal.norm();
    if (length > 1e-12) {
        const Eigen::Vector3d n = normal / length;
        const Eigen::Vector3d p = rayB - n.dot(rayB) * n;
        if (nearPoint.cross(p).dot(n) >= 0.0 && p.cross(rayA).dot(n) >= 0.0 && p.norm() > 1e-12)
            return rayB - p.normalized();
    }
    const Eigen::Vector3d toNear = rayB - nearPoint;
    const Eigen::Vector3d toFar = rayB - rayA;
    return toNear.squaredNorm() < toFar.squaredNorm() ? toNear : toFar;
}

struct PairData {
    int a;
    int b;
    std::vector<size_t> matches;
};

/// One camera's correction: the angle-axis rotation (first three) and the log of the factor
/// on the angle from its optical axis (last).
using Params = Eigen::Vector4d;

Eigen::Vector3d corrected(const Params& q,
                          const Eigen::Vector3d& axis,
                          const Eigen::Vector3d& ray) {
    const Eigen::Vector3d scaled = q[3] != 0.0 && axis.squaredNorm() > 0.0
                                       ? scaleAngleFromAxis(axis, ray, std::exp(q[3]))
                                       : ray;
    return rotation(q.head<3>()) * scaled;
}

/// Residual of one match under corrections (qA, qB), and its 3 x 8 Jacobian by central
/// differences.
Eigen::Vector3d residual(const std::vector<Eigen::Vector3d>& centres,
                         const std::vector<Eigen::Vector3d>& axes,
                         const RayMatch& m,
                         const Params& qA,
                         const Params& qB,
                         double minDepth) {
    static const Eigen::Vector3d none = Eigen::Vector3d::Zero();
    const Eigen::Vector3d& axisA = size_t(m.a) < axes.size() ? axes[size_t(m.a)] : none;
    const Eigen::Vector3d& axisB = size_t(m.b) < axes.size() ? axes[size_t(m.b)] : none;
    return arcResidual(centres[size_t(m.a)],
                       corrected(qA, axisA, m.rayA),
                       centres[size_t(m.b)],
                       corrected(qB, axisB, m.rayB),
                       minDepth);
}

Eigen::Matrix<double, 3, 8> jacobian(const std::vector<Eigen::Vector3d>& centres,
                                     const std::vector<Eigen::Vector3d>& axes,
                                     const RayMatch& m,
                                     const Params& qA,
                                     const Params& qB,
                                     double minDepth) {
    constexpr double h = 1e-6;
    Eigen::Matrix<double, 3, 8> J;
    for (int k = 0; k < 8; ++k) {
        Params a0 = qA, a1 = qA, b0 = qB, b1 = qB;
        if (k < 4) {
            a0[k] -= h;
            a1[k] += h;
        } else {
            b0[k - 4] -= h;
            b1[k - 4] += h;
        }
        J.col(k) = (residual(centres, axes, m, a1, b1, minDepth) -
                    residual(centres, axes, m, a0, b0, minDepth)) /
                   (2.0 * h);
    }
    return J;
}

/// Correction of b relative to a (a fixed) that best fits `sample`, by Gauss-Newton from 0.
Eigen::Vector3d fitPair(const std::vector<Eigen::Vector3d>& centres,
                        const std::vector<RayMatch>& matches,
                        const std::vector<size_t>& sample,
                        double minDepth) {
    static const std::vector<Eigen::Vector3d> noAxes;
    Params q = Params::Zero();
    for (int iteration = 0; iteration < 5; ++iteration) {
        Eigen::Matrix3d normal = 1e-10 * Eigen::Matrix3d::Identity();
        Eigen::Vector3d rhs = Eigen::Vector3d::Zero();
        for (size_t index : sample) {
            const RayMatch& m = matches[index];
            const Eigen::Vector3d r = residual(centres, noAxes, m, Params::Zero(), q, minDepth);
            const Eigen::Matrix3d J =
                jacobian(centres, noAxes, m, Params::Zero(), q, minDepth).block<3, 3>(0, 4);
            normal += J.transpose() * J;
            rhs -= J.transpose() * r;
        }
        const Eigen::Vector3d step = normal.ldlt().solve(rhs);
        if (!step.allFinite()) break;
        q.head<3>() += step;
        if (step.norm() < 1e-9) break;
    }
    return q.head<3>();
}

}  // namespace

double rayDistance(const Eigen::Vector3d& centreA,
                   const Eigen::Vector3d& rayA,
                   const Eigen::Vector3d& centreB,
                   const Eigen::Vector3d& rayB,
                   double minDepth) {
    const Eigen::Vector3d r = arcResidual(centreA, rayA, centreB, rayB, minDepth);
    return angleBetween(rayB, rayB - r);
}

Eigen::Vector3d scaleAngleFromAxis(const Eigen::Vector3d& axis,
                                   const Eigen::Vector3d& ray,
                                   double k) {
    const Eigen::Vector3d normal = axis.cross(ray);
    const double length = normal.norm();
    if (!(length > 1e-12)) return ray;
    const double theta = std::atan2(length, axis.dot(ray));
    return Eigen::AngleAxisd((k - 1.0) * theta, normal / length) * ray;
}

namespace {

/// RANSAC over `candidates` of one pair: the largest set of matches that agree with one
/// rotation of b relative to a.
std::vector<size_t> agreeingSet(const std::vector<Eigen::Vector3d>& centres,
                                const std::vector<RayMatch>& matches,
                                const std::vector<size_t>& candidates,
                                const RotationCorrectionOptions& options,
                                std::mt19937_64& rng) {
    const size_t count = candidates.size();
    std::vector<size_t> best;
    if (count < 3) return best;
    std::vector<size_t> agreeing;
    // Adaptive: enough hypotheses that, with the share of agreeing matches seen so far, a
    // sample of three agreeing ones came up with 99 % certainty.
    int needed = options.hypotheses;
    for (int h = 0; h < needed; ++h) {
        std::vector<size_t> sample;
        while (sample.size() < 3) {
            const size_t pick = candidates[size_t(rng() % count)];
            if (std::find(sample.begin(), sample.end(), pick) == sample.end())
                sample.push_back(pick);
        }
        const Eigen::Vector3d omega = fitPair(centres, matches, sample, options.minDepth);
        if (!omega.allFinite() || omega.norm() > 0.5) continue;
        const Eigen::Matrix3d Q = rotation(omega);
        agreeing.clear();
        for (size_t index : candidates) {
            const RayMatch& m = matches[index];
            if (rayDistance(centres[size_t(m.a)],
                            m.rayA,
                            centres[size_t(m.b)],
                            Q * m.rayB,
                            options.minDepth) < options.inlierAngle)
                agreeing.push_back(index);
        }
        if (agreeing.size() > best.size()) {
            best.swap(agreeing);
            const double share = double(best.size()) / double(count);
            const double miss = 1.0 - share * share * share;
            if (miss <= 0.0)
                needed = kMinHypotheses;
            else if (miss < 1.0)
                needed = std::clamp(int(std::ceil(std::log(0.01) / std::log(miss))),
                                    kMinHypotheses,
                                    options.hypotheses);
        }
    }
    return best;
}

}  // namespace

bool estimateRotationCorrections(const std::vector<Eigen::Vector3d>& centres,
                                 const std::vector<RayMatch>& matches,
                                 const RotationCorrectionOptions& options,
                                 std::vector<Eigen::Matrix3d>* corrections,
                                 std::vector<bool>* inlier,
                                 std::vector<double>* radialFactors) {
    const int n = int(centres.size());
    corrections->assign(size_t(n), Eigen::Matrix3d::Identity());
    if (radialFactors) radialFactors->assign(size_t(n), 1.0);
    if (inlier) inlier->assign(matches.size(), false);
    bool radial = false;
    for (const Eigen::Vector3d& axis : options.axes) radial = radial || axis.squaredNorm() > 0.0;

    std::map<std::pair<int, int>, PairData> pairs;
    for (size_t k = 0; k < matches.size(); ++k) {
        const RayMatch& m = matches[k];
        if (m.a == m.b || m.a < 0 || m.b < 0 || m.a >= n || m.b >= n) continue;
        PairData& pair = pairs[{m.a, m.b}];
        pair.a = m.a;
        pair.b = m.b;
        pair.matches.push_back(k);
    }

    // 1. RANSAC per pair: the matches that agree with one relative correction. With lens
    // factors, an error of the lens curve turns each arc of the overlap its own way, so the
    // arcs left over are searched too.
    std::mt19937_64 rng(options.seed);
    std::vector<size_t> kept;
    for (auto& entry : pairs) {
        std::vector<size_t> left = entry.second.matches;
        if (left.size() < size_t(std::max(3, options.minInliers))) continue;
        std::vector<size_t> best = agreeingSet(centres, matches, left, options, rng);
        if (int(best.size()) < options.minInliers) continue;
        for (int arc = 0; arc < 4 && !best.empty(); ++arc) {
            kept.insert(kept.end(), best.begin(), best.end());
            if (!radial) break;
            std::vector<size_t> rest;
            std::sort(best.begin(), best.end());
            std::set_difference(
                left.begin(), left.end(), best.begin(), best.end(), std::back_inserter(rest));
            left.swap(rest);
            best = agreeingSet(centres, matches, left, options, rng);
            if (int(best.size()) < std::max(3, options.minArcInliers)) break;
        }
    }
    if (kept.empty()) return false;

    // 2. Every camera together: iteratively reweighted Gauss-Newton over the agreeing matches.
    const std::vector<Eigen::Vector3d>& axes = options.axes;
    std::vector<Params> q(size_t(n), Params::Zero());
    const double scale = 0.5 * options.inlierAngle;
    for (int iteration = 0; iteration < (radial ? 20 : 10); ++iteration) {
        Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(4 * n, 4 * n);
        Eigen::VectorXd rhs = Eigen::VectorXd::Zero(4 * n);
        double total = 0.0;
        for (size_t index : kept) {
            const RayMatch& m = matches[index];
            const Eigen::Vector3d r =
                residual(centres, axes, m, q[size_t(m.a)], q[size_t(m.b)], options.minDepth);
            const double u = r.norm() / scale;
            const double w = 1.0 / (1.0 + u * u);
            const Eigen::Matrix<double, 3, 8> J =
                jacobian(centres, axes, m, q[size_t(m.a)], q[size_t(m.b)], options.minDepth);
            const Eigen::Matrix<double, 8, 8> JtJ = w * J.transpose() * J;
            const Eigen::Matrix<double, 8, 1> Jtr = w * J.transpose() * r;
            const int ia = 4 * m.a, ib = 4 * m.b;
            normal.block<4, 4>(ia, ia) += JtJ.topLeftCorner<4, 4>();
            normal.block<4, 4>(ia, ib) += JtJ.topRightCorner<4, 4>();
            normal.block<4, 4>(ib, ia) += JtJ.bottomLeftCorner<4, 4>();
            normal.block<4, 4>(ib, ib) += JtJ.bottomRightCorner<4, 4>();
            rhs.segment<4>(ia) -= Jtr.head<4>();
            rhs.segment<4>(ib) -= Jtr.tail<4>();
            total += w;
        }
        // The faint pull toward no correction: it fixes the rotation of the whole rig, which
        // the matches hardly see, without moving the cameras relative to each other; and a
        // lens factor that the matches do not ask for (a camera without an axis) stays 1.
        const double prior = 1e-4 * total / n;
        for (int c = 0; c < n; ++c) {
            const bool free = size_t(c) < axes.size() && axes[size_t(c)].squaredNorm() > 0.0;
            for (int k = 0; k < 4; ++k) {
                const double weight = k < 3 || free ? prior : 1.0 + total;
                normal(4 * c + k, 4 * c + k) += weight;
                rhs[4 * c + k] -= weight * q[size_t(c)][k];
            }
        }
        if (radial) {
            // With the lenses free, the parallax that placed the rig is taken up by them too:
            // the mean of the rotations is held at none, so the corrections are the cameras'
            // errors about the rig's own orientation.
            Eigen::Vector3d sum = Eigen::Vector3d::Zero();
            for (int c = 0; c < n; ++c) sum += q[size_t(c)].head<3>();
            for (int c = 0; c < n; ++c) {
                for (int d = 0; d < n; ++d)
                    normal.block<3, 3>(4 * c, 4 * d) += total * Eigen::Matrix3d::Identity();
                rhs.segment<3>(4 * c) -= total * sum;
            }
        }
        const Eigen::VectorXd step = normal.ldlt().solve(rhs);
        if (!step.allFinite()) return false;
        for (int c = 0; c < n; ++c) q[size_t(c)] += step.segment<4>(4 * c);
        if (step.lpNorm<Eigen::Infinity>() < 1e-7) break;
    }
    for (int c = 0; c < n; ++c) {
        (*corrections)[size_t(c)] = rotation(q[size_t(c)].head<3>());
        if (radialFactors) (*radialFactors)[size_t(c)] = std::exp(q[size_t(c)][3]);
    }
    if (inlier)
        for (size_t k = 0; k < matches.size(); ++k) {
            const RayMatch& m = matches[k];
            if (m.a < 0 || m.b < 0 || m.a >= n || m.b >= n || m.a == m.b) continue;
            (*inlier)[k] =
                residual(centres, axes, m, q[size_t(m.a)], q[size_t(m.b)], options.minDepth)
                    .norm() < options.inlierAngle;
        }
    return true;
}

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
