// SPDX-License-Identifier: Apache-2.0
#include "WarpQuality.h"

#include <gtest/gtest.h>

#include "../../TestSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

using namespace Korvane::Research;

namespace {

TEST(WarpQuality, TruthPointsBecomeMatchesOfTwoOrMoreCameras) {
    const std::string path = TestSupport::writeTempFile("warp_quality_points.json",
                                                        R"({"frame": 1, "points": [
{"id":0,"world":[1,0,2],"observations":[{"camera":1,"image":[10.5,20.25],"depth":2},
                                        {"camera":3,"image":[30,40],"depth":2.1}]},
{"id":1,"world":[0,1,2],"observations":[{"camera":2,"image":[5,6],"depth":2}]}
]})");
    const std::vector<FeatureTrack> matches = readTruthMatches(path);
    ASSERT_EQ(matches.size(), 1u);  // a point one camera sees is no match
    ASSERT_EQ(matches[0].getFeatures().size(), 2u);
    EXPECT_EQ(matches[0].getFeatures()[0].first, 0);  // cameras count from 0 here
    EXPECT_EQ(matches[0].getFeatures()[1].first, 2);
    EXPECT_EQ(matches[0].getFeatures()[0].second.getPosition(), Eigen::Vector2d(10.5, 20.25));
    EXPECT_EQ(matches[0].getPoint().getPosition(), Eigen::Vector3d(1, 0, 2));  // the true point

    for (const std::string& bad : {std::string("{\"points\": [{\"observations\": 3}]}"),
                                   std::string("{\"points\": ["),
                                   std::string("[]")}) {
        const std::string broken = TestSupport::writeTempFile("warp_quality_broken.json", bad);
        const std::string message =
            TestSupport::thrown<std::runtime_error>([&] { readTruthMatches(broken); });
        EXPECT_NE(message.find(broken), std::string::npos) << message;
    }
    EXPECT_THROW(readTruthMatches("/nonexistent/points.0001.json"), std::runtime_error);
}

TEST(WarpQuality, FiguresAreTheMedianAndNinetiethPercentile) {
    std::vector<double> values;
    for (int i = 10; i >= 0; --i) values.push_back(i);  // 0 .. 10, unsorted
    const MisalignmentFigures f = MisalignmentFigures::of(values);
    EXPECT_EQ(f.points, 11u);
    EXPECT_EQ(f.median, 5.0);
    EXPECT_EQ(f.p90, 9.0);
    EXPECT_EQ(MisalignmentFigures::of({}).points, 0u);
}

constexpr int kWidth = 640, kHeight = 480;

Grid2D constantGrid(int gx, int gy, const Eigen::Vector2d& d) {
    Grid2D grid(gx, gy);
    for (auto& p : grid.points) p = d;
    return grid;
}

std::vector<SphericalTransform> ringOfThree(double convergence) {
    std::vector<SphericalTransform> out;
    for (int c = 0; c < 3; ++c) {
        CameraDefinition camera;
        camera.setFormat(kWidth, kHeight);
        camera.setProjection(ProjectionTypeEnum::Fisheye);
        camera.setFocalLength(8.0);
        camera.setRotation(Eigen::Vector3d(0, 120.0 * c, 0));
        camera.setPosition(camera.getCameraToWorldRotation() * Eigen::Vector3d(0, 0, 0.15));
        out.emplace_back(camera);
        out.back().setConvergenceDepth(convergence);
    }
    return out;
}

TEST(MatchMisalignment, ZeroAtTheConvergenceDepthAndAfterAWarpToTheTargets) {
    const double convergence = 4.0;
    const auto transforms = ringOfThree(convergence);
    auto matchOf = [&](const Eigen::Vector3d& P) {
        FeatureTrack match;
        for (int c : {0, 1}) {
            Eigen::Vector2d image;
            EXPECT_TRUE(transforms[size_t(c)].ProjectFromWorld(P, &image));
            match.getFeatures().emplace_back(c, Feature(image));
        }
        return match;
    };
    const Eigen::Vector3d direction = Eigen::Vector3d(1, 0.2, 0.6).normalized();
    const auto far = matchMisalignment(matchOf(convergence * direction), {}, transforms);
    ASSERT_TRUE(far);
    EXPECT_LT(*far, 1e-6);

    const Eigen::Vector3d P = 1.5 * direction;
    const FeatureTrack near = matchOf(P);
    const auto before = matchMisalignment(near, {}, transforms);
    ASSERT_TRUE(before);
    EXPECT_GT(*before, 5.0) << "parallax of a point nearer than the convergence depth";

    // Warping each camera by the displacement from the target (P's direction on the
    // convergence sphere) to the observation brings both observations together.
    std::map<int, WarpInverse> grids;
    for (int c : {0, 1}) {
        Eigen::Vector2d target;
        ASSERT_TRUE(transforms[size_t(c)].ProjectFromWorld(convergence * direction, &target));
        const Eigen::Vector2d d = near.getFeatures()[size_t(c)].second.getPosition() - target;
        grids.emplace(c, WarpInverse(constantGrid(5, 5, d), kWidth, kHeight));
    }
    const auto after = matchMisalignment(near, grids, transforms);
    ASSERT_TRUE(after);
    EXPECT_LT(*after, 1e-6);

    FeatureTrack lonely;
    lonely.getFeatures().emplace_back(0, near.getFeatures()[0].second);
    lonely.getFeatures().emplace_back(7, near.getFeatures()[1].second);  // no such camera
    EXPECT_FALSE(matchMisalignment(lonely, grids, transforms));
}

}  // namespace
