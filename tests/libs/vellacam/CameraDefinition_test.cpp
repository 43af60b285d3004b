// SPDX-License-Identifier: Apache-2.0
#include "vellacam/CameraDefinition.h"

#include <random>

#include <gtest/gtest.h>

#include "vellacam/CameraRigDefinition.h"

using Korvane::Research::CameraDefinition;
using Korvane::Research::CameraRigDefinition;

TEST(CameraRotation, EulerAnglesSurviveAMatrixRoundTrip) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> tilt(-89.0, 89.0);
    std::uniform_real_distribution<double> turn(-179.0, 179.0);
    for (int i = 0; i < 200; ++i) {
        CameraDefinition a;
        a.setRotation(Eigen::Vector3d(tilt(rng), turn(rng), turn(rng)));
        CameraDefinition b;
        b.setCameraToWorldRotation(a.getCameraToWorldRotation());
        EXPECT_LT((a.getRotation() - b.getRotation()).norm(), 1e-8) << a.getRotation();
    }
    // At the gimbal lock the angles differ but the rotation must not.
    for (double rx : {90.0, -90.0}) {
        CameraDefinition a;
        a.setRotation(Eigen::Vector3d(rx, 30.0, 20.0));
        CameraDefinition b;
        b.setCameraToWorldRotation(a.getCameraToWorldRotation());
        EXPECT_LT((a.getCameraToWorldRotation() - b.getCameraToWorldRotation()).norm(), 1e-9);
    }
}

TEST(CameraRotation, OrderIsZThenXThenY) {
    // Roll 90 then pan 90: the camera's +X goes to world +Y (roll), which the pan keeps.
    // The opposite order would send +X to -Z, then roll it about Z, leaving it at -Z.
    CameraDefinition camera;
    camera.setRotation(Eigen::Vector3d(0.0, 90.0, 90.0));
    const Eigen::Vector3d x = camera.getCameraToWorldRotation() * Eigen::Vector3d::UnitX();
    EXPECT_LT((x - Eigen::Vector3d::UnitY()).norm(), 1e-12);
    const Eigen::Vector3d z = camera.getCameraToWorldRotation() * Eigen::Vector3d::UnitZ();
    EXPECT_LT((z - Eigen::Vector3d::UnitX()).norm(), 1e-12);
}

TEST(RigDefinition, LinksStaySymmetricAndFollowTheCameraCount) {
    CameraRigDefinition rig;
    rig.setNumberCameras(4);
    rig.setLinked(0, 3);
    rig.setLinked(1, 2);
    rig.setLinked(2, 2);
    EXPECT_EQ(rig.getLinks(3), std::set<int>({0}));
    EXPECT_EQ(rig.getLinks(2), std::set<int>({1}));

    CameraRigDefinition copy = rig;
    copy.setNumberCameras(3);
    EXPECT_TRUE(copy.getLinks(0).empty());
    EXPECT_EQ(rig.getLinks(0), std::set<int>({3}));  // the copy is independent
    copy.setLinked(1, 2, false);
    EXPECT_TRUE(copy.getLinks(2).empty());
    EXPECT_THROW(copy.getCamera(3), std::out_of_range);
}

TEST(RigDefinition, OverlappingPairsFollowTheLinksOrTheOverlapsAmongTheCamerasAskedFor) {
    using Korvane::Research::ProjectionTypeEnum;
    // Four 102-degree cameras a quarter turn apart: neighbours overlap, opposite ones do not.
    CameraRigDefinition rig;
    rig.setNumberCameras(4);
    for (int c = 0; c < 4; ++c) {
        CameraDefinition camera;
        camera.setFormat(400, 400);
        camera.setProjection(ProjectionTypeEnum::Rectilinear);
        camera.setFocalLength(8.0);
        camera.setSensorSize(Eigen::Vector2d(20.0, 20.0));
        camera.setRotation(Eigen::Vector3d(0, 90.0 * c, 0));
        rig.setCamera(c, camera);
    }
    using Pairs = std::vector<std::pair<int, int>>;
    // No links recorded: where the cameras overlap, among those asked for only.
    EXPECT_EQ(rig.overlappingPairs({0, 1, 2, 3}, 10.0), Pairs({{0, 1}, {0, 3}, {1, 2}, {2, 3}}));
    EXPECT_EQ(rig.overlappingPairs({3, 1, 2, 1}, 10.0), Pairs({{1, 2}, {2, 3}}));
    EXPECT_EQ(rig.overlappingPairs({0, 2}, 10.0), Pairs());
    // Recorded links are the answer, even where the cameras overlap otherwise.
    rig.setLinked(0, 2);
    rig.setLinked(2, 3);
    EXPECT_EQ(rig.overlappingPairs({0, 1, 2, 3}, 10.0), Pairs({{0, 2}, {2, 3}}));
    EXPECT_EQ(rig.overlappingPairs({0, 1}, 10.0), Pairs());
}
