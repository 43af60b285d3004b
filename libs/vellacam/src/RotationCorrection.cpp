// SPDX-License-Identifier: Apache-2.0
#include "RotationCorrection.h"

#include <algorithm>
#include <cmath>
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

/// Residual of one match under corrections (omegaA, omegaB), and its 3 x 6 Jacobian by central
/// differences.
Eigen::Vector3d residual(const std::vector<Eigen::Vector3d>& centres,
                         const RayMatch& m,
                         const Eigen::Vector3d& omegaA,
                         const Eigen::Vector3d& omegaB,
                         double minDepth) {
    return arcResidual(centres[size_t(m.a)],
                       rotation(omegaA) * m.rayA,
                       centres[size_t(m.b)],
                       rotation(omegaB) * m.rayB,
                       minDepth);
}

Eigen::Matrix<double, 3, 6> jacobian(const std::vector<Eigen::Vector3d>& centres,
                                     const RayMatch& m,
                                     const Eigen::Vector3d& omegaA,
                                     const Eigen::Vector3d& omegaB,
                                     double minDepth) {
    constexpr double h = 1e-6;
    Eigen::Matrix<double, 3, 6> J;
    for (int k = 0; k < 6; ++k) {
        Eigen::Vector3d a0 = omegaA, a1 = omegaA, b0 = omegaB, b1 = omegaB;
        if (k < 3) {
            a0[k] -= h;
            a1[k] += h;
        } else {
            b0[k - 3] -= h;
            b1[k - 3] += h;
        }
        J.col(k) =
            (residual(centres, m, a1, b1, minDepth) - residual(centres, m, a0, b0, minDepth)) /
            (2.0 * h);
    }
    return J;
}

/// Correction of b relative to a (a fixed) that best fits `sample`, by Gauss-Newton from 0.
Eigen::Vector3d fitPair(const std::vector<Eigen::Vector3d>& centres,
                        const std::vector<RayMatch>& matches,
                        const std::vector<size_t>& sample,
                        double minDepth) {
    Eigen::Vector3d omega = Eigen::Vector3d::Zero();
    for (int iteration = 0; iteration < 5; ++iteration) {
        Eigen::Matrix3d normal = 1e-10 * Eigen::Matrix3d::Identity();
        Eigen::Vector3d rhs = Eigen::Vector3d::Zero();
        for (size_t index : sample) {
            const RayMatch& m = matches[index];
            const Eigen::Vector3d r =
                residual(centres, m, Eigen::Vector3d::Zero(), omega, minDepth);
            const Eigen::Matrix3d J =
                jacobian(centres, m, Eigen::Vector3d::Zero(), omega, minDepth).rightCols<3>();
            normal += J.transpose() * J;
            rhs -= J.transpose() * r;
        }
        const Eigen::Vector3d step = normal.ldlt().solve(rhs);
        if (!step.allFinite()) break;
        omega += step;
        if (step.norm() < 1e-9) break;
    }
    return omega;
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

bool estimateRotationCorrections(const std::vector<Eigen::Vector3d>& centres,
                                 const std::vector<RayMatch>& matches,
                                 const RotationCorrectionOptions& options,
                                 std::vector<Eigen::Matrix3d>* corrections,
                                 std::vector<bool>* inlier) {
    const int n = int(centres.size());
    corrections->assign(size_t(n), Eigen::Matrix3d::Identity());
    if (inlier) inlier->assign(matches.size(), false);

    std::map<std::pair<int, int>, PairData> pairs;
    for (size_t k = 0; k < matches.size(); ++k) {
        const RayMatch& m = matches[k];
        if (m.a == m.b || m.a < 0 || m.b < 0 || m.a >= n || m.b >= n) continue;
        PairData& pair = pairs[{m.a, m.b}];
        pair.a = m.a;
        pair.b = m.b;
        pair.matches.push_back(k);
    }

    // 1. RANSAC per pair: the matches that agree with one relative correction.
    std::mt19937_64 rng(options.seed);
    std::vector<size_t> kept;
    for (auto& entry : pairs) {
        const PairData& pair = entry.second;
        const size_t count = pair.matches.size();
        if (count < size_t(std::max(3, options.minInliers))) continue;
        std::vector<size_t> best;
        std::vector<size_t> agreeing;
        // Adaptive: enough hypotheses that, with the share of agreeing matches seen so far, a
        // sample of three agreeing ones came up with 99 % certainty.
        int needed = options.hypotheses;
        for (int h = 0; h < needed; ++h) {
            std::vector<size_t> sample;
            while (sample.size() < 3) {
                const size_t pick = pair.matches[size_t(rng() % count)];
                if (std::find(sample.begin(), sample.end(), pick) == sample.end())
                    sample.push_back(pick);
            }
            const Eigen::Vector3d omega = fitPair(centres, matches, sample, options.minDepth);
            if (!omega.allFinite() || omega.norm() > 0.5) continue;
            const Eigen::Matrix3d Q = rotation(omega);
            agreeing.clear();
            for (size_t index : pair.matches) {
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
        if (int(best.size()) >= options.minInliers)
            kept.insert(kept.end(), best.begin(), best.end());
    }
    if (kept.empty()) return false;

    // 2. Every camera together: iteratively reweighted Gauss-Newton over the agreeing matches.
    std::vector<Eigen::Vector3d> omega(size_t(n), Eigen::Vector3d::Zero());
    const double scale = 0.5 * options.inlierAngle;
    for (int iteration = 0; iteration < 10; ++iteration) {
        Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(3 * n, 3 * n);
        Eigen::VectorXd rhs = Eigen::VectorXd::Zero(3 * n);
        double total = 0.0;
        for (size_t index : kept) {
            const RayMatch& m = matches[index];
            const Eigen::Vector3d r =
                residual(centres, m, omega[size_t(m.a)], omega[size_t(m.b)], options.minDepth);
            const double u = r.norm() / scale;
            const double w = 1.0 / (1.0 + u * u);
            const Eigen::Matrix<double, 3, 6> J =
                jacobian(centres, m, omega[size_t(m.a)], omega[size_t(m.b)], options.minDepth);
            const Eigen::Matrix<double, 6, 6> JtJ = w * J.transpose() * J;
            const Eigen::Matrix<double, 6, 1> Jtr = w * J.transpose() * r;
            const int ia = 3 * m.a, ib = 3 * m.b;
            normal.block<3, 3>(ia, ia) += JtJ.topLeftCorner<3, 3>();
            normal.block<3, 3>(ia, ib) += JtJ.topRightCorner<3, 3>();
            normal.block<3, 3>(ib, ia) += JtJ.bottomLeftCorner<3, 3>();
            normal.block<3, 3>(ib, ib) += JtJ.bottomRightCorner<3, 3>();
            rhs.segment<3>(ia) -= Jtr.head<3>();
            rhs.segment<3>(ib) -= Jtr.tail<3>();
            total += w;
        }
        // The faint pull toward no correction: it fixes the rotation of the whole rig, which
        // the matches hardly see, without moving the cameras relative to each other.
        const double prior = 1e-4 * total / n;
        for (int c = 0; c < n; ++c) {
            normal.block<3, 3>(3 * c, 3 * c) += prior * Eigen::Matrix3d::Identity();
            rhs.segment<3>(3 * c) -= prior * omega[size_t(c)];
        }
        const Eigen::VectorXd step = normal.ldlt().solve(rhs);
        if (!step.allFinite()) return false;
        for (int c = 0; c < n; ++c) omega[size_t(c)] += step.segment<3>(3 * c);
        if (step.lpNorm<Eigen::Infinity>() < 1e-7) break;
    }
    for (int c = 0; c < n; ++c) (*corrections)[size_t(c)] = rotation(omega[size_t(c)]);
    if (inlier)
        for (size_t k = 0; k < matches.size(); ++k) {
            const RayMatch& m = matches[k];
            if (m.a < 0 || m.b < 0 || m.a >= n || m.b >= n || m.a == m.b) continue;
            (*inlier)[k] = rayDistance(centres[size_t(m.a)],
                                       (*corrections)[size_t(m.a)] * m.rayA,
                                       centres[size_t(m.b)],
                                       (*corrections)[size_t(m.b)] * m.rayB,
                                       options.minDepth) < options.inlierAngle;
        }
    return true;
}

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
