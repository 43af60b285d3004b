// SPDX-License-Identifier: Apache-2.0
#include "constraints/SphericalCircle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include <Eigen/Geometry>

#include "vellacam/SphericalTransform.h"

using namespace Korvane::Research;

TEST(PlaneFit, PointsOfAGreatCircleGiveTheNormalOrthogonalToAll) {
    std::mt19937 rng(3);
    std::normal_distribution<double> gauss;
    for (int trial = 0; trial < 20; ++trial) {
        const Eigen::Vector3d n = Eigen::Vector3d(gauss(rng), gauss(rng), gauss(rng)).normalized();
        const Eigen::Vector3d u = n.unitOrthogonal(), v = n.cross(u);
        std::vector<Eigen::Vector3d> points;
        // An arc of a quarter turn on a sphere of radius 7, as a line constraint would give.
        for (int i = 0; i < 6; ++i) {
            const double a = 0.3 * i;
            points.push_back(7.0 * (std::cos(a) * u + std::sin(a) * v));
        }
        SphericalCircle circle(7.0);
        ASSERT_TRUE(circle.fit(points));
        EXPECT_NEAR(std::abs(circle.normal().dot(n)), 1.0, 1e-9) << "trial " << trial;
        for (const Eigen::Vector3d& p : points) EXPECT_NEAR(circle.normal().dot(p), 0.0, 1e-9);
        // Projection keeps points of the circle where they are and puts others on it.
        const auto same = circle.project(points);
        for (size_t i = 0; i < points.size(); ++i) EXPECT_LT((same[i] - points[i]).norm(), 1e-9);
        const Eigen::Vector3d off = 3.0 * u + 0.5 * n;
        const Eigen::Vector3d on = circle.project({off}).front();
        EXPECT_NEAR(on.norm(), 7.0, 1e-9);
        EXPECT_NEAR(on.dot(n), 0.0, 1e-9);
        EXPECT_LT((on - 7.0 * u).norm(), 1e-9) << "straight towards the circle";
    }
}

TEST(PlaneFit, TwoPointsFitAndBadInputKeepsThePreviousPlane) {
    PlaneRegressor plane;
    const Eigen::Vector3d a(1, 2, 3), b(-2, 0.5, 1);
    ASSERT_TRUE(plane.fit({a, b}));
    EXPECT_NEAR(plane.normal().dot(a), 0.0, 1e-12);
    EXPECT_NEAR(plane.normal().dot(b), 0.0, 1e-12);
    EXPECT_NEAR(plane.normal().norm(), 1.0, 1e-12);
    const Eigen::Vector3d before = plane.normal();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(plane.fit({a, b, Eigen::Vector3d(0, nan, 0)}));
    EXPECT_FALSE(plane.fit({a}));
    EXPECT_FALSE(plane.fit({}));
    EXPECT_EQ(plane.normal(), before);
}

TEST(Densify, SamplesFollowTheIdealImageAtTheSpacing) {
    CameraDefinition camera;
    camera.setFormat(1000, 800);
    camera.setProjection(ProjectionTypeEnum::Rectilinear);
    camera.setFocalLength(20.0);
    SphericalTransform t(camera);
    t.setOutputImageSize(4000, 2000);
    const std::vector<Eigen::Vector2d> line{{300, 400}, {700, 400}, {700, 500}};
    Eigen::Vector2d a, b, c;
    ASSERT_TRUE(t.ProjectToIdeal(line[0], ProjectionTypeEnum::Latlong, &a));
    ASSERT_TRUE(t.ProjectToIdeal(line[1], ProjectionTypeEnum::Latlong, &b));
    ASSERT_TRUE(t.ProjectToIdeal(line[2], ProjectionTypeEnum::Latlong, &c));
    const double spacing = 10.0;
    const int n1 = int(std::floor((b - a).norm() / spacing));
    const int n2 = int(std::floor((c - b).norm() / spacing));
    ASSERT_GT(n1, 1);
    ASSERT_GT(n2, 1);
    const auto samples = densifyPoints(line, spacing, t);
    ASSERT_EQ(int(samples.size()), n1 + n2 + 1);
    EXPECT_EQ(samples.front(), line[0]);
    EXPECT_EQ(samples[size_t(n1)], line[1]);
    EXPECT_EQ(samples.back(), line[2]);
    for (int k = 1; k < n1; ++k) {
        Eigen::Vector2d ideal;
        ASSERT_TRUE(t.ProjectToIdeal(samples[size_t(k)], ProjectionTypeEnum::Latlong, &ideal));
        EXPECT_LT((ideal - (a + (b - a) * k / double(n1))).norm(), 1e-6) << k;
    }
    EXPECT_EQ(densifyPoints(line, 0.005, t), line) << "spacing below 0.01";
    EXPECT_EQ(densifyPoints({line[0]}, spacing, t).size(), 1u);
}
