// SPDX-License-Identifier: Apache-2.0
#include "vellacam/PtoFile.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "../../TestSupport.h"
#include "vellacam/RigError.h"
#include "vellacam/SphericalTransform.h"

using namespace Korvane::Research;

namespace {

constexpr double kPi = 3.14159265358979323846;
// The references' panorama, in pixels with centres at whole numbers from the top-left.
constexpr double kPanoWidth = 3600.0;
constexpr double kPanoHeight = 1800.0;

std::string dataPath(const std::string& name) { return std::string(PTO_DATA_DIR) + "/" + name; }

struct Reference {
    int image;
    Eigen::Vector2d pano;
    Eigen::Vector2d pixel;
};

std::vector<Reference> readReferences(const std::string& name) {
    std::ifstream file(dataPath(name));
    std::vector<Reference> out;
    Reference r;
    while (file >> r.image >> r.pano.x() >> r.pano.y() >> r.pixel.x() >> r.pixel.y())
        out.push_back(r);
    return out;
}

/// The panorama position's direction in the rig frame (x right, y up, z forward).
Eigen::Vector3d panoDirection(const Eigen::Vector2d& pano) {
    const double lon = (pano.x() + 0.5 - 0.5 * kPanoWidth) / kPanoWidth * 2.0 * kPi;
    const double lat = (0.5 * kPanoHeight - pano.y() - 0.5) / kPanoHeight * kPi;
    return {std::cos(lat) * std::sin(lon), std::sin(lat), std::cos(lat) * std::cos(lon)};
}

/// Projects every reference of `name` through the camera the project gives its image and
/// returns the largest distance to where the reference tool put it, in pixels. A scene point
/// lies where the direction meets the plane z = 1 when `plane`, far out along it otherwise.
double worstError(const PtoProject& project, const std::string& name, bool plane) {
    const std::vector<Reference> references = readReferences(name);
    EXPECT_GE(references.size(), 10u) << name;
    double worst = 0.0;
    for (const Reference& r : references) {
        const CameraDefinition& camera = project.rig.getCamera(r.image);
        const Eigen::Vector3d d = panoDirection(r.pano);
        const Eigen::Vector3d world = plane ? Eigen::Vector3d(d / d.z()) : Eigen::Vector3d(1e6 * d);
        const int fileHeight = project.sources[size_t(r.image)].fileHeight;
        Eigen::Vector2d expected(r.pixel.x() + 0.5, fileHeight - r.pixel.y() - 0.5);
        if (camera.hasCropWindow()) expected -= camera.getCropWindowOffset().cast<double>();
        Eigen::Vector2d got;
        if (!SphericalTransform(camera).ProjectFromWorld(world, &got)) {
            ADD_FAILURE() << name << ": no image for panorama " << r.pano.transpose();
            continue;
        }
        worst = std::max(worst, (got - expected).norm());
    }
    return worst;
}

// The reference positions come from the reference tool's own transform of the same projects
// (data/pto/make_reference.sh). Half a pixel would be a wrong pixel-centre convention, so the
// tolerance is well below it; what is left is the references' four decimals and the
// polynomial's inversion.
constexpr double kTolerance = 0.01;

TEST(PtoFile, EveryProjectionMapsAsTheReferenceTool) {
    for (const char* name : {"rectilinear", "circular", "fullframe", "equirect", "dual"}) {
        const PtoProject project = ReadPtoFile(dataPath(std::string(name) + ".pto"));
        EXPECT_LT(worstError(project, std::string(name) + ".ref", false), kTolerance) << name;
    }
    const PtoProject moved = ReadPtoFile(dataPath("translated.pto"));
    EXPECT_LT(worstError(moved, "translated.ref", true), kTolerance);
    EXPECT_NEAR(moved.rig.getRigDiameter(), 2.0 * std::sqrt(0.01 + 0.0025 + 0.04), 1e-12);
}

TEST(PtoFile, ACircularCropBecomesTheImageCircle) {
    const PtoProject project = ReadPtoFile(dataPath("dual.pto"));
    ASSERT_EQ(project.rig.getNumberCameras(), 2);
    // Formats, windows and the lenses the second line takes from the first are checked by the
    // reference mapping above, the windows' report by the pto2rig_tool test.
    const CameraDefinition& right = project.rig.getCamera(1);
    // S1010,1990,10,990: a circle of radius 490 about pixel (1500, 500) from the top-left,
    // (1500.5, 499.5) in the file from the bottom-left.
    ASSERT_TRUE(right.hasImageCircle());
    EXPECT_NEAR(right.getImageCircleRadius(), 490.0, 1e-12);
    EXPECT_NEAR(right.getImageCircleCentre().x(), 500.5, 1e-12);
    EXPECT_NEAR(right.getImageCircleCentre().y(), 499.5, 1e-12);
}

TEST(PtoFile, DefectsNameTheLine) {
    auto message = [](const std::string& text) {
        return TestSupport::thrown<RigError>([&] { ParsePtoText(text, "rig.pto"); });
    };
    const std::string p = "p f2 w3600 h1800 v360\n";
    EXPECT_EQ(message(p + "# a comment\ni w100 h100 f0 v90\ni w100 h100 f0 v=7\n"),
              "rig.pto:4: 'v=7' does not refer to another image line");
    EXPECT_EQ(message(p + "i w100 h100 f0 v90 n\"a.jpg\"\ni w100 h100 f0 v90 n\"a.jpg\"\n"),
              "rig.pto:2: 'a.jpg' is shared with another image line but this line has no crop "
              "'S' to tell which part of it is this camera's");
    EXPECT_EQ(message(p + "i w100 h100 f0 v1x\n"), "rig.pto:2: 'v' must be a number, not '1x'");
    EXPECT_EQ(message(p + "i w200 h50 f4 v360\n"),
              "rig.pto:2: an equirectangular image must cover the whole sphere: 'v' 360 and the "
              "height half the width");
    EXPECT_EQ(message(p + "i w100 h100 f2 v180 S1,2,3\n"),
              "rig.pto:2: the crop 'S1,2,3' must be left,right,top,bottom in pixels");
    EXPECT_NE(message(p + "i w100 h100 f1e300 v90\n").find("f1e300 (unknown) is not supported"),
              std::string::npos);
    EXPECT_EQ(message(p), "rig.pto: the project has no image line ('i')");
}

TEST(PtoFile, ValuesTheRigCannotHoldAreNoted) {
    const PtoProject project = ParsePtoText("i w100 h80 f0 v90 g2 S10,90,0,80\n", "rig.pto");
    EXPECT_EQ(project.notes,
              std::vector<std::string>(
                  {"rig.pto:1: the rectangular crop 'S10,90,0,80' is left out: the rig takes the "
                   "whole image",
                   "rig.pto:1: the shear 'g', 't' is left out"}));
    EXPECT_FALSE(project.rig.getCamera(0).hasCropWindow());
}

}  // namespace
