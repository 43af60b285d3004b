// SPDX-License-Identifier: Apache-2.0
#include "vellacam/MetaDataHandler.h"

#include <gtest/gtest.h>

#include "vellacam/RigError.h"

using Korvane::Research::CameraDefinition;
using Korvane::Research::CameraRigDefinition;
using Korvane::Research::MetaDataHandler;
using Korvane::Research::ProjectionTypeEnum;
using Korvane::Research::RigError;
using PX::Image::MetaData::Bundle;

namespace {

CameraRigDefinition sampleRig() {
    CameraRigDefinition rig;
    rig.setNumberCameras(3);
    for (int c = 0; c < 3; ++c) {
        CameraDefinition camera;
        camera.setFormat(1920 + c, 1080, 1.0 + 0.5 * c);
        camera.setProjection(static_cast<ProjectionTypeEnum>(c));
        camera.setFocalLength(8.5 + c);
        camera.setSensorSize(Eigen::Vector2d(22.3, 14.9));
        camera.setCentreShift(Eigen::Vector2d(1.25, -c));
        camera.setDistortion(Eigen::Vector3d(0.01 * c, -0.02, 0.003));
        camera.setUndistort(c != 1);
        camera.setPosition(Eigen::Vector3d(0.1 * c, 0.0, -0.05));
        camera.setRotation(Eigen::Vector3d(5.0, 120.0 * c, -2.5));
        camera.setEnabled(c != 2);
        camera.setOutputView("cam" + std::to_string(c + 1) + "_left");
        rig.setCamera(c, camera);
    }
    rig.setLinked(0, 1);
    rig.setLinked(1, 2);
    rig.setRigDiameter(0.34);
    return rig;
}

TEST(MetaDataHandler, RigSurvivesARoundTripThroughABundle) {
    Bundle upstream;
    upstream.setData("input/timecode", std::string("01:00:00:00"));
    MetaDataHandler writer;
    writer.updateMetaDataBundle(upstream);
    writer.setRig(sampleRig());
    writer.setRigPosition(Eigen::Vector3d(1, 2, 3));
    writer.setRigRotation(Eigen::Vector3d(0, 45, 0));
    writer.setRigConvergence(2.5);

    MetaDataHandler reader;
    reader.updateMetaDataBundle(upstream);  // no rig keys: no cameras, bundle passed on as is
    EXPECT_EQ(reader.getNumberCameras(), 0);
    EXPECT_EQ(reader.getRigConvergence(), MetaDataHandler::kDefaultConvergence);
    EXPECT_EQ(reader.getMetaDataBundle(), upstream);
    reader.updateMetaDataBundle(writer.getMetaDataBundle());
    EXPECT_EQ(reader.getRig(), sampleRig());
    EXPECT_EQ(reader.getRigPosition(), Eigen::Vector3d(1, 2, 3));
    EXPECT_EQ(reader.getRigRotation(), Eigen::Vector3d(0, 45, 0));
    EXPECT_EQ(reader.getRigConvergence(), 2.5);
    ASSERT_NE(reader.getMetaDataBundle().get<std::string>("input/timecode"), nullptr);
}

TEST(MetaDataHandler, SettersRewriteTheBundleWithoutStaleCameras) {
    MetaDataHandler handler;
    handler.setRig(sampleRig());
    CameraRigDefinition smaller = sampleRig();
    smaller.setNumberCameras(2);
    handler.setRig(smaller);
    EXPECT_EQ(handler.getMetaDataBundle().find("vellacam/cam3/format"), nullptr);

    CameraDefinition moved = handler.getCamera(1);
    moved.setPosition(Eigen::Vector3d(0, 0.2, 0));
    handler.setCamera(1, moved);
    MetaDataHandler reader;
    reader.updateMetaDataBundle(handler.getMetaDataBundle());
    EXPECT_EQ(reader.getNumberCameras(), 2);
    EXPECT_EQ(reader.getCamera(1).getPosition(), Eigen::Vector3d(0, 0.2, 0));
    EXPECT_THROW(handler.setCamera(2, moved), std::out_of_range);
}

TEST(MetaDataHandler, MalformedKeyIsNamedAndChangesNothing) {
    MetaDataHandler handler;
    handler.setRig(sampleRig());
    const Bundle good = handler.getMetaDataBundle();
    const auto expectRejected =
        [&](const std::string& key, PX::Image::MetaData::Value value, const std::string& message) {
            Bundle bad = good;
            bad.setData(key, std::move(value));
            try {
                handler.updateMetaDataBundle(bad);
                ADD_FAILURE() << "accepted " << key;
            } catch (const RigError& e) {
                EXPECT_EQ(e.userMessage(), message);
            }
            EXPECT_EQ(handler.getMetaDataBundle(), good);
            EXPECT_EQ(handler.getRig(), sampleRig());
        };
    expectRejected("vellacam/cam2/rotation",
                   std::vector<double>{1, 2},
                   "rig metadata key 'vellacam/cam2/rotation' must hold 3 numbers");
    expectRejected("vellacam/cam3/links",
                   std::vector<int>{4},
                   "rig metadata key 'vellacam/cam3/links' must hold camera numbers from 1 to 3");
    expectRejected("vellacam/cameras",
                   std::string("3"),
                   "rig metadata key 'vellacam/cameras' must hold an integer");
}

}  // namespace
