// SPDX-License-Identifier: Apache-2.0
#include "vellacam/RigFile.h"

#include <fstream>

#include <gtest/gtest.h>

#include "../../TestSupport.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigError.h"

using Korvane::Research::CameraRigDefinition;
using Korvane::Research::MetaDataHandler;
using Korvane::Research::ProjectionTypeEnum;
using Korvane::Research::ReadRigFile;
using Korvane::Research::RigError;
using Korvane::Research::RigFileText;
using PX::Image::MetaData::Bundle;
using TestSupport::writeTempFile;

namespace {

const std::string kGoodRig = R"({
  "version": 1,
  "diameter": 0.3,
  "rotation": [0, 90, 0],
  "convergence": 4.5,
  "cameras": [
    {
      "view": "cam1",
      "format": {"width": 1920, "height": 1440},
      "projection": "fisheye",
      "focal_length": 8.0,
      "sensor_size": [22.3, 14.9],
      "distortion": [0.01, -0.03, 0.0],
      "position": [0.0, 0.0, 0.15],
      "rotation": [0, 0, 0],
      "image_circle": {"centre": [960, 720], "radius": 1000},
      "links": [2]
    },
    {
      "format": {"width": 1920, "height": 1440, "pixel_aspect": 1.5},
      "projection": "rectilinear",
      "focal_length": 12.0,
      "centre_shift": [3.5, -2],
      "crop_window": {"x": 1920, "y": 0},
      "undistort": false,
      "enabled": false,
      "position": [0.15, 0.0, 0.0],
      "rotation": [0, 90, 0]
    }
  ]
}
)";

TEST(RigFile, GoodFileFillsTheBundle) {
    Bundle bundle;
    bundle.setData("input/frame", 12);
    bundle.setData("vellacam/cam7/format", std::vector<int>{1, 1});  // stale rig key
    ReadRigFile(writeTempFile("good_rig.json", kGoodRig), &bundle);
    EXPECT_EQ(bundle.find("vellacam/cam7/format"), nullptr);
    ASSERT_NE(bundle.get<int>("input/frame"), nullptr);

    MetaDataHandler rig;
    rig.updateMetaDataBundle(bundle);
    ASSERT_EQ(rig.getNumberCameras(), 2);
    EXPECT_EQ(rig.getRigDiameter(), 0.3);
    EXPECT_EQ(rig.getRigRotation(), Eigen::Vector3d(0, 90, 0));
    EXPECT_EQ(rig.getRigConvergence(), 4.5);
    EXPECT_EQ(rig.getLinks(1), std::set<int>({0}));
    const auto first = rig.getCamera(0);
    EXPECT_EQ(first.getProjection(), ProjectionTypeEnum::Fisheye);
    EXPECT_EQ(first.getDistortion(), Eigen::Vector3d(0.01, -0.03, 0.0));
    // A circle reaching past the frame is clipped by it; a camera without one is all picture.
    ASSERT_TRUE(first.hasImageCircle());
    EXPECT_EQ(first.getImageCircleCentre(), Eigen::Vector2d(960, 720));
    EXPECT_EQ(first.getImageCircleRadius(), 1000.0);
    EXPECT_TRUE(first.isPicture({960, 1440}));
    EXPECT_FALSE(first.isPicture({960, 1441}));
    EXPECT_FALSE(first.isPicture({1, 1}));  // inside the frame, outside the circle
    EXPECT_FALSE(rig.getCamera(1).hasImageCircle());
    EXPECT_TRUE(rig.getCamera(1).isPicture({1, 1}));
    const auto second = rig.getCamera(1);
    EXPECT_EQ(second.getOutputView(), "cam2");
    EXPECT_EQ(second.getPixelAspect(), 1.5);
    EXPECT_EQ(second.getCentreShift(), Eigen::Vector2d(3.5, -2));
    EXPECT_FALSE(second.getUndistort() || second.getEnabled());
    EXPECT_EQ(second.getSensorSize(), Eigen::Vector2d(36, 24));  // the default
    EXPECT_FALSE(first.hasCropWindow());
    ASSERT_TRUE(second.hasCropWindow());
    EXPECT_EQ(second.getCropWindowOffset(), Eigen::Vector2i(1920, 0));
}

TEST(RigFile, WrittenRigReadsBackEqual) {
    Bundle bundle;
    ReadRigFile(writeTempFile("written_from.json", kGoodRig), &bundle);
    MetaDataHandler first;
    first.updateMetaDataBundle(bundle);
    CameraRigDefinition rig = first.getRig();
    // Values that a short decimal would not keep.
    rig.getCamera(0).setRotation(Eigen::Vector3d(1.0 / 3.0, -2.0 / 7.0, 1e-17));
    rig.getCamera(1).setImageCircle(Eigen::Vector2d(0.1, 0.2), 0.3);

    Bundle again;
    ReadRigFile(writeTempFile("written.json", RigFileText(rig, 4.5)), &again);
    MetaDataHandler second;
    second.updateMetaDataBundle(again);
    EXPECT_EQ(second.getRig(), rig);
    EXPECT_EQ(second.getRigConvergence(), 4.5);
}

struct Defect {
    std::string name;
    std::string from;  ///< text of the good file to replace
    std::string to;
    std::string message;  ///< after "<path>: "
};

std::ostream& operator<<(std::ostream& os, const Defect& d) { return os << d.name; }

class RigFileDefect : public ::testing::TestWithParam<Defect> {};

TEST_P(RigFileDefect, IsReportedWithFileAndFieldAndLeavesTheBundle) {
    const Defect& d = GetParam();
    const size_t at = kGoodRig.find(d.from);
    ASSERT_NE(at, std::string::npos) << d.from;
    std::string text = kGoodRig;
    text.replace(at, d.from.size(), d.to);
    const std::string path = writeTempFile("defect_" + d.name + ".json", text);
    Bundle bundle;
    bundle.setData("vellacam/cameras", 0);
    const Bundle before = bundle;
    try {
        ReadRigFile(path, &bundle);
        ADD_FAILURE() << "accepted";
    } catch (const RigError& e) {
        EXPECT_EQ(e.userMessage(), path + d.message);
    }
    EXPECT_EQ(bundle, before);
}

INSTANTIATE_TEST_SUITE_P(
    OneDefectEach,
    RigFileDefect,
    ::testing::Values(
        Defect{"BadJson", "\"diameter\": 0.3,", "\"diameter\": 0.3", ":4: not valid JSON"},
        Defect{"HugeNumberInAnArray",
               "[0.15, 0.0, 0.0]",
               "[0.15, -1e999, 0.0]",
               ": 'cameras[1].position[1]' holds a number too large to represent"},
        Defect{"MissingRotation",
               "\"rotation\": [0, 0, 0],",
               "",
               ": 'cameras[0].rotation' is missing"},
        Defect{"ShortPosition",
               "[0.15, 0.0, 0.0]",
               "[0.15, 0.0]",
               ": 'cameras[1].position' must be an array of 3 numbers"},
        Defect{
            "UnknownField", "\"view\":", "\"veiw\":", ": 'cameras[0].veiw' is not a known field"},
        Defect{"Projection",
               "\"rectilinear\"",
               "\"pinhole\"",
               ": 'cameras[1].projection' must be \"rectilinear\", \"fisheye\" or \"latlong\""},
        Defect{"FoldingLens",
               "[0.01, -0.03, 0.0]",
               "[0.5, 0.5, 0.0]",
               ": 'cameras[0].distortion' must leave d = 1 - a - b - c positive"},
        Defect{"CircleWithoutRadius",
               "\"radius\": 1000",
               "\"radius\": 0",
               ": 'cameras[0].image_circle.radius' must be a positive number"},
        Defect{"CropWindowBelowZero",
               "\"x\": 1920",
               "\"x\": -1",
               ": 'cameras[1].crop_window.x' must be an integer, not negative"},
        Defect{"LinkOutOfRange",
               "\"links\": [2]",
               "\"links\": [3]",
               ": 'cameras[0].links' must hold camera numbers from 1 to 2"}),
    [](const auto& info) { return info.param.name; });

TEST(RigFile, MissingFileIsNamed) {
    Bundle bundle;
    const std::string path = ::testing::TempDir() + "no_such_rig.json";
    try {
        ReadRigFile(path, &bundle);
        ADD_FAILURE() << "accepted";
    } catch (const RigError& e) {
        EXPECT_EQ(e.userMessage(), path + ": cannot open the rig file");
    }
    EXPECT_THROW(ReadRigFile(::testing::TempDir(), &bundle), RigError);  // a folder
    EXPECT_TRUE(bundle.empty());
}

}  // namespace
