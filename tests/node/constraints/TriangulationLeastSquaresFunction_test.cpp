// SPDX-License-Identifier: Apache-2.0
#include "constraints/TriangulationLeastSquaresFunction.h"

#include <gtest/gtest.h>

#include <random>

using namespace Korvane::Research;

namespace {

/// Three fisheye cameras 40 degrees apart on a ring of 0.15 m, 1280 pixels wide.
std::vector<SphericalTransform> ring() {
    std::vector<SphericalTransform> cameras;
    for (int c = 0; c < 3; ++c) {
        CameraDefinition camera;
        camera.setFormat(1280, 960);
        camera.setProjection(ProjectionTypeEnum::Fisheye);
        camera.setSensorSize(Eigen::Vector2d(22.3, 16.7));
        camera.setFieldOfView(120.0);
        camera.setRotation(Eigen::Vector3d(0.0, 40.0 * (c - 1), 0.0));
        camera.setPosition(camera.getCameraToWorldRotation() * Eigen::Vector3d(0, 0, 0.15));
        cameras.emplace_back(camera);
    }
    return cameras;
}

FeatureTrack observe(const std::vector<SphericalTransform>& cameras,
                     const Eigen::Vector3d& point,
                     double noise,
                     unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0.0, noise);
    FeatureTrack match;
    for (int c = 0; c < int(cameras.size()); ++c) {
        Eigen::Vector2d image;
        if (!cameras[size_t(c)].ProjectFromWorld(point, &image)) continue;
        match.getFeatures().emplace_back(c, Feature(image + Eigen::Vector2d(n(rng), n(rng))));
    }
    return match;
}

}  // namespace

TEST(TriangulateMatch, RecoversThePointAndItsErrorUnderKnownNoise) {
    const std::vector<SphericalTransform> cameras = ring();
    const TriangulationContext context(cameras, 1280);
    const Eigen::Vector3d truth(0.3, 0.4, 2.5);  // seen by all three cameras

    // Exact observations: the point comes back from a start 30 cm off, with no error.
    FeatureTrack exact = observe(cameras, truth, 0.0, 1);
    ASSERT_EQ(exact.getFeatures().size(), 3u);
    exact.setPoint(Point(truth + Eigen::Vector3d(0.2, -0.1, 0.2), 5.0));
    ASSERT_TRUE(triangulateMatch(context, exact));
    EXPECT_LT((exact.getPoint().getPosition() - truth).norm(), 1e-5);
    EXPECT_LT(exact.getPoint().getRMSE(), 1e-4);

    // Noise of 0.5 px per axis: over 200 matches the stored error, divided by the scale, is
    // the residual RMS, about 0.5 sqrt(3 / 6) px (3 of 6 residual dimensions remain), and the
    // point stays within a few centimetres.
    double sum = 0.0, worst = 0.0;
    for (unsigned seed = 0; seed < 200; ++seed) {
        FeatureTrack noisy = observe(cameras, truth, 0.5, seed);
        noisy.setPoint(Point(truth, 0.0));
        ASSERT_TRUE(triangulateMatch(context, noisy));
        sum += std::pow(noisy.getPoint().getRMSE() / context.errorScale, 2);
        worst = std::max(worst, (noisy.getPoint().getPosition() - truth).norm());
    }
    EXPECT_NEAR(std::sqrt(sum / 200), 0.5 * std::sqrt(0.5), 0.05);
    EXPECT_LT(worst, 0.15);
}

TEST(TriangulateMatch, StartsFromTheRaysWithoutAPointAndNeedsTwoObservations) {
    const std::vector<SphericalTransform> cameras = ring();
    const TriangulationContext context(cameras, 1280);
    const Eigen::Vector3d truth(-0.3, -0.2, 3.0);
    FeatureTrack match = observe(cameras, truth, 0.0, 1);
    ASSERT_GE(match.getFeatures().size(), 2u);
    ASSERT_TRUE(triangulateMatch(context, match));
    EXPECT_LT((match.getPoint().getPosition() - truth).norm(), 1e-5);

    FeatureTrack single;
    single.getFeatures().emplace_back(0, Feature(Eigen::Vector2d(640, 480)));
    single.getFeatures().emplace_back(7, Feature(Eigen::Vector2d(640, 480)));  // no such camera
    EXPECT_FALSE(triangulateMatch(context, single));
    EXPECT_FALSE(single.getPoint().getIsValid());
}
