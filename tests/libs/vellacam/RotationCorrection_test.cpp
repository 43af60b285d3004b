// SPDX-License-Identifier: Apache-2.0
#include "RotationCorrection.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include <Eigen/Geometry>

using namespace Korvane::Research::detail;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

double degreesBetween(const Eigen::Matrix3d& a, const Eigen::Matrix3d& b) {
    return Eigen::AngleAxisd(a * b.transpose()).angle() / kDeg;
}

/// A ring of `n` cameras 0.15 m from the centre looking outward, each seeing points within
/// `halfField` degrees of its axis; matches between every two cameras that see a point, their rays
/// as a rig with each camera turned by `error` degrees records them, some replaced by
/// outliers.
struct SyntheticMatches {
    std::vector<Eigen::Vector3d> centres;
    std::vector<Eigen::Matrix3d> errors;  ///< true = error * recorded
    std::vector<RayMatch> matches;
    std::vector<bool> outlier;

    /// `lensFactor`: every lens sees a point at lensFactor times the angle from its axis that
    /// the recorded rig gives it; `radius`: the cameras' distance from the rig centre, metres.
    SyntheticMatches(int n,
                     double error,
                     double outliers,
                     double noiseDegrees,
                     unsigned seed,
                     double halfField = 75.0,
                     double lensFactor = 1.0,
                     double radius = 0.15) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::normal_distribution<double> gauss(0.0, 1.0);
        std::vector<Eigen::Vector3d> axes;
        for (int c = 0; c < n; ++c) {
            const double yaw = 2.0 * kPi * c / n;
            axes.emplace_back(std::sin(yaw), 0.0, std::cos(yaw));
            centres.push_back(radius * axes.back());
            const Eigen::Vector3d axis(gauss(rng), gauss(rng), gauss(rng));
            errors.push_back(Eigen::AngleAxisd(error * kDeg, axis.normalized()).toRotationMatrix());
        }
        auto noisy = [&](const Eigen::Vector3d& ray) {
            const Eigen::Vector3d axis(gauss(rng), gauss(rng), gauss(rng));
            return (Eigen::AngleAxisd(noiseDegrees * kDeg * gauss(rng), axis.normalized()) * ray)
                .normalized();
        };
        for (int k = 0; k < 6000; ++k) {
            const double yaw = 2.0 * kPi * unit(rng);
            const double pitch = std::asin(2.0 * unit(rng) - 1.0) * 0.8;
            const double depth = 1.0 + 7.0 * unit(rng);
            const Eigen::Vector3d point = depth * Eigen::Vector3d(std::sin(yaw) * std::cos(pitch),
                                                                  std::sin(pitch),
                                                                  std::cos(yaw) * std::cos(pitch));
            std::vector<int> seeing;
            for (int c = 0; c < n; ++c)
                if ((point - centres[size_t(c)]).normalized().dot(axes[size_t(c)]) >
                    std::cos(halfField * kDeg))
                    seeing.push_back(c);
            // The recorded rig's ray of a true observation: the error taken back out.
            auto recorded = [&](int c) {
                const size_t i = size_t(c);
                return noisy(
                    scaleAngleFromAxis(axes[i],
                                       errors[i].transpose() * (point - centres[i]).normalized(),
                                       1.0 / lensFactor));
            };
            for (size_t i = 0; i + 1 < seeing.size(); ++i) {
                // Braces evaluate in order: ray a's noise is drawn first.
                RayMatch m{seeing[i], seeing[i + 1], recorded(seeing[i]), recorded(seeing[i + 1])};
                outlier.push_back(unit(rng) < outliers);
                if (outlier.back()) {
                    const Eigen::Vector3d axis(gauss(rng), gauss(rng), gauss(rng));
                    m.rayB = Eigen::AngleAxisd((3.0 + 20.0 * unit(rng)) * kDeg, axis.normalized()) *
                             m.rayB;
                }
                matches.push_back(m);
            }
        }
    }

    /// The largest angle between a camera's true orientation in camera 0's frame and the
    /// corrected one, degrees (a turn of the whole rig changes neither). The recorded rig has
    /// each camera at errors[c]' (the true rig's at the identity), the corrected one at
    /// corrections[c] errors[c]'.
    double worstRelativeError(const std::vector<Eigen::Matrix3d>& corrections) const {
        double worst = 0.0;
        for (size_t c = 1; c < errors.size(); ++c) {
            const Eigen::Matrix3d relative = (corrections[0] * errors[0].transpose()).transpose() *
                                             (corrections[c] * errors[c].transpose());
            worst = std::max(worst, degreesBetween(relative, Eigen::Matrix3d::Identity()));
        }
        return worst;
    }
};

TEST(RotationCorrection, RayDistanceIsZeroWhereRaysMeetAndGrowsOffTheirPlane) {
    const Eigen::Vector3d a(0.0, 0.0, 0.0), b(0.2, 0.0, 0.0);
    const Eigen::Vector3d point(0.5, 0.3, 3.0);
    const Eigen::Vector3d rayA = point.normalized(), rayB = (point - b).normalized();
    EXPECT_NEAR(rayDistance(a, rayA, b, rayB, 0.3), 0.0, 1e-12);
    // Turned off the plane of the two rays by 1 degree.
    const Eigen::Vector3d normal = rayA.cross(b - a).normalized();
    const Eigen::Vector3d off = Eigen::AngleAxisd(1.0 * kDeg, rayB.cross(normal)) * rayB;
    EXPECT_NEAR(rayDistance(a, rayA, b, off, 0.3) / kDeg, 1.0, 1e-6);
    // A ray that meets a's ray behind the nearest depth is as far as the near end.
    const Eigen::Vector3d near = (a + 0.1 * rayA - b).normalized();
    EXPECT_GT(rayDistance(a, rayA, b, near, 0.3), 1.0 * kDeg);
    // A rig whose cameras share one centre: the rays must be the same.
    EXPECT_NEAR(rayDistance(a, rayA, a, off, 0.3) / kDeg,
                std::acos(std::clamp(rayA.dot(off), -1.0, 1.0)) / kDeg,
                1e-9);
}

TEST(RotationCorrection, RecoversEachCameraFromMatchesWithErrorNoiseAndOutliers) {
    for (const double error : {0.0, 2.0, 3.0}) {
        const SyntheticMatches data(6, error, 0.3, 0.03, 7);
        RotationCorrectionOptions options;
        std::vector<Eigen::Matrix3d> corrections;
        std::vector<bool> inlier;
        ASSERT_TRUE(estimateRotationCorrections(
            data.centres, data.matches, options, &corrections, &inlier));
        EXPECT_LT(data.worstRelativeError(corrections), 0.03) << "error " << error;
        // Before the correction the cameras were off relative to each other by up to twice
        // the error.
        if (error > 0.0) {
            EXPECT_GT(data.worstRelativeError(
                          std::vector<Eigen::Matrix3d>(6, Eigen::Matrix3d::Identity())),
                      error);
        }
        const auto agreeing = std::count(inlier.begin(), inlier.end(), true);
        EXPECT_GT(agreeing, long(0.6 * data.matches.size()));
        EXPECT_LT(agreeing, long(0.8 * data.matches.size()));
    }
}

TEST(RotationCorrection, TwoCamerasAndTooFewMatches) {
    // Back-to-back lenses of 200 degrees.
    const SyntheticMatches pair(2, 2.0, 0.2, 0.03, 3, 100.0);
    std::vector<Eigen::Matrix3d> corrections;
    ASSERT_TRUE(estimateRotationCorrections(
        pair.centres, pair.matches, RotationCorrectionOptions(), &corrections));
    // Only the thin ring where the lenses overlap fixes the rotation.
    EXPECT_LT(pair.worstRelativeError(corrections), 0.06);

    const std::vector<RayMatch> few(pair.matches.begin(), pair.matches.begin() + 5);
    EXPECT_FALSE(
        estimateRotationCorrections(pair.centres, few, RotationCorrectionOptions(), &corrections));
    for (const Eigen::Matrix3d& q : corrections) EXPECT_TRUE(q.isIdentity());
}

TEST(RotationCorrection, BackToBackLensesWithALensErrorAgreeAllAroundTheRing) {
    // 200-degree lenses 3 cm apart that see every point 2 % farther from their axis than the
    // recorded rig says: at the seams their rays part by about 3.6 degrees all around the
    // ring, which one turn takes up only on one side.
    const SyntheticMatches pair(2, 1.0, 0.2, 0.03, 5, 100.0, 1.02, 0.015);
    // The share of the true matches that agree, per quarter of the ring (about the z axis).
    auto worstQuarter = [&](const std::vector<bool>& inlier) {
        std::array<int, 4> total{}, agreeing{};
        for (size_t k = 0; k < pair.matches.size(); ++k) {
            if (pair.outlier[k]) continue;
            const Eigen::Vector3d& ray = pair.matches[k].rayA;
            const int quarter =
                int(std::floor((std::atan2(ray.y(), ray.x()) + kPi) / (0.5 * kPi))) & 3;
            ++total[size_t(quarter)];
            agreeing[size_t(quarter)] += inlier[k] ? 1 : 0;
        }
        double worst = 1.0;
        for (size_t q = 0; q < 4; ++q) {
            EXPECT_GT(total[q], 20) << "quarter " << q;
            worst = std::min(worst, double(agreeing[q]) / std::max(1, total[q]));
        }
        return worst;
    };
    std::vector<Eigen::Matrix3d> corrections;
    std::vector<bool> inlier;
    std::vector<double> factors;
    RotationCorrectionOptions options;
    ASSERT_TRUE(estimateRotationCorrections(
        pair.centres, pair.matches, options, &corrections, &inlier, &factors));
    EXPECT_LT(worstQuarter(inlier), 0.5);
    EXPECT_EQ(factors, std::vector<double>(2, 1.0));

    options.axes = {Eigen::Vector3d::UnitZ(), -Eigen::Vector3d::UnitZ()};
    ASSERT_TRUE(estimateRotationCorrections(
        pair.centres, pair.matches, options, &corrections, &inlier, &factors));
    EXPECT_GT(worstQuarter(inlier), 0.95);
    // Only the sum of the two lenses' angles at the seam is seen.
    EXPECT_NEAR(0.5 * (factors[0] + factors[1]), 1.02, 0.005);
    const auto wrong = [&] {
        long n = 0;
        for (size_t k = 0; k < inlier.size(); ++k) n += inlier[k] && pair.outlier[k] ? 1 : 0;
        return n;
    }();
    EXPECT_LT(wrong, long(0.02 * inlier.size()));
}

}  // namespace
