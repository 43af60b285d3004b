// SPDX-License-Identifier: Apache-2.0
#include "vellacam/SphericalTransform.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using Korvane::Research::CameraDefinition;
using Korvane::Research::ProjectionTypeEnum;
using Korvane::Research::SphericalTransform;

namespace {

struct LensCase {
    std::string name;
    ProjectionTypeEnum projection;
    double focalLength;
    Eigen::Vector3d distortion;
    double pixelAspect;
    Eigen::Vector2d centreShift;
};

std::ostream& operator<<(std::ostream& os, const LensCase& c) { return os << c.name; }

CameraDefinition makeCamera(const LensCase& c) {
    CameraDefinition camera;
    camera.setFormat(640, 480, c.pixelAspect);
    camera.setProjection(c.projection);
    camera.setFocalLength(c.focalLength);
    camera.setDistortion(c.distortion);
    camera.setCentreShift(c.centreShift);
    camera.setPosition(Eigen::Vector3d(0.03, -0.02, 0.1));
    camera.setRotation(Eigen::Vector3d(10.0, 35.0, -5.0));
    return camera;
}

// Barrel (b < 0) and pincushion-like (a > 0) distortion of plausible strength.
const Eigen::Vector3d kBarrel(0.01, -0.06, 0.02);
const Eigen::Vector3d kMixed(0.03, 0.0, -0.04);
const Eigen::Vector2d kShift(7.5, -4.25);

std::vector<LensCase> lensCases() {
    const Eigen::Vector3d none = Eigen::Vector3d::Zero();
    const Eigen::Vector2d centred = Eigen::Vector2d::Zero();
    return {
        {"RectilinearAnamorphic", ProjectionTypeEnum::Rectilinear, 30.0, kMixed, 2.0, kShift},
        {"FisheyeDistorted", ProjectionTypeEnum::Fisheye, 9.0, kBarrel, 1.0, kShift},
        {"Latlong", ProjectionTypeEnum::Latlong, 0.0, none, 1.0, centred},
        {"LatlongDistorted", ProjectionTypeEnum::Latlong, 0.0, kMixed, 1.0, centred},
    };
}

/// Every pixel centre on a stride, plus random positions anywhere inside the frame.
std::vector<Eigen::Vector2d> samplesOver(int width, int height) {
    std::vector<Eigen::Vector2d> samples;
    for (int y = 0; y < height; y += 7)
        for (int x = 0; x < width; x += 7) samples.emplace_back(x + 0.5, y + 0.5);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(0.01, 0.99);
    for (int i = 0; i < 500; ++i) samples.emplace_back(u(rng) * width, u(rng) * height);
    return samples;
}

class ProjectionRoundTrip : public ::testing::TestWithParam<LensCase> {};

TEST_P(ProjectionRoundTrip, ImageToWorldAndToEveryIdealTypeAndBack) {
    SphericalTransform t(makeCamera(GetParam()));
    t.setConvergenceDepth(4.0);
    t.setOutputImageSize(2048, 1024);
    int projected[3] = {};
    for (const Eigen::Vector2d& px : samplesOver(640, 480)) {
        Eigen::Vector3d world;
        ASSERT_TRUE(t.ProjectToWorld(px, &world)) << "px=" << px.transpose();
        EXPECT_NEAR(world.norm(), 4.0, 1e-9);
        Eigen::Vector2d back;
        ASSERT_TRUE(t.ProjectFromWorld(world, &back)) << "px=" << px.transpose();
        EXPECT_LT((back - px).norm(), 1e-6) << "px=" << px.transpose();
        for (int type = 0; type <= 2; ++type) {
            const auto ideal = static_cast<ProjectionTypeEnum>(type);
            Eigen::Vector2d q;
            // A rectilinear ideal image cannot hold rays at 90 degrees or more off axis.
            if (!t.ProjectToIdeal(px, ideal, &q)) continue;
            ++projected[type];
            ASSERT_TRUE(t.ProjectFromIdeal(q, ideal, &back)) << "type " << type << " px=" << px;
            EXPECT_LT((back - px).norm(), 1e-6) << "type " << type << " px=" << px.transpose();
        }
    }
    const bool hasFocal = GetParam().projection != ProjectionTypeEnum::Latlong;
    for (int type = 0; type <= 2; ++type) {
        if (hasFocal || type == int(ProjectionTypeEnum::Latlong)) {
            EXPECT_GT(projected[type], 1000) << "type " << type;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllLenses,
                         ProjectionRoundTrip,
                         ::testing::ValuesIn(lensCases()),
                         [](const auto& info) { return info.param.name; });

CameraDefinition forwardCamera(ProjectionTypeEnum projection, double focal) {
    CameraDefinition camera;
    camera.setFormat(1000, 800);
    camera.setProjection(projection);
    camera.setFocalLength(focal);
    return camera;
}

TEST(LensGeometry, AxesAndScalesFollowTheDocumentedConventions) {
    // 18 mm on a 36 mm sensor: focal length of half the image width, 90 degrees across.
    const SphericalTransform pinhole(forwardCamera(ProjectionTypeEnum::Rectilinear, 18.0));
    Eigen::Vector2d px;
    ASSERT_TRUE(pinhole.ProjectFromWorld(Eigen::Vector3d(0, 0, 5), &px));
    EXPECT_LT((px - Eigen::Vector2d(500, 400)).norm(), 1e-9);
    ASSERT_TRUE(pinhole.ProjectFromWorld(Eigen::Vector3d(1, 0.5, 2), &px));
    EXPECT_LT((px - Eigen::Vector2d(750, 525)).norm(), 1e-9);  // +X right, +Y up

    const SphericalTransform fisheye(forwardCamera(ProjectionTypeEnum::Fisheye, 18.0 / M_PI));
    ASSERT_TRUE(fisheye.ProjectFromWorld(Eigen::Vector3d(1, 0, 0), &px));
    EXPECT_LT((px - Eigen::Vector2d(750, 400)).norm(), 1e-9);  // 90 degrees at r = f * pi / 2

    // A pan of 90 degrees turns the optical axis to +X.
    CameraDefinition panned = forwardCamera(ProjectionTypeEnum::Rectilinear, 18.0);
    panned.setRotation(Eigen::Vector3d(0, 90, 0));
    ASSERT_TRUE(SphericalTransform(panned).ProjectFromWorld(Eigen::Vector3d(3, 0, 0), &px));
    EXPECT_LT((px - Eigen::Vector2d(500, 400)).norm(), 1e-9);
}

// The coefficients' scale (half the smaller side) is pinned by PtoFile's reference mapping.
TEST(LensGeometry, AClearedUndistortFlagIgnoresTheCoefficients) {
    CameraDefinition camera = forwardCamera(ProjectionTypeEnum::Rectilinear, 18.0);
    camera.setDistortion(kBarrel);
    camera.setUndistort(false);
    Eigen::Vector2d px;
    ASSERT_TRUE(SphericalTransform(camera).ProjectFromWorld(Eigen::Vector3d(0, 200, 500), &px));
    EXPECT_NEAR(px.y(), 600.0, 1e-9);
}

TEST(LensGeometry, IdealLatlongPlacesDirectionsAsDocumented) {
    SphericalTransform t(forwardCamera(ProjectionTypeEnum::Fisheye, 8.0));
    t.setOutputImageSize(2000, 1000);
    t.setConvergenceDepth(2.0);
    const auto idealOf = [&](const Eigen::Vector3d& direction) {
        Eigen::Vector2d px;
        Eigen::Vector2d ideal(-1, -1);
        EXPECT_TRUE(t.ProjectFromWorld(direction, &px));
        EXPECT_TRUE(t.ProjectToIdeal(px, ProjectionTypeEnum::Latlong, &ideal));
        return ideal;
    };
    EXPECT_LT((idealOf({0, 0, 1}) - Eigen::Vector2d(1000, 500)).norm(), 1e-6);
    EXPECT_LT((idealOf({1, 0, 0}) - Eigen::Vector2d(1500, 500)).norm(), 1e-6);
    EXPECT_LT((idealOf({0, 1, 1}) - Eigen::Vector2d(1000, 750)).norm(), 1e-6);
}

// A perfect rig of six cameras on a ring, each looking outward.
std::vector<SphericalTransform> ringRig(double depth) {
    std::vector<SphericalTransform> rig;
    for (int c = 0; c < 6; ++c) {
        CameraDefinition camera = forwardCamera(ProjectionTypeEnum::Fisheye, 10.0);
        camera.setDistortion(kBarrel);
        const double yaw = 60.0 * c;
        camera.setRotation(Eigen::Vector3d(c % 2 ? 8.0 : -8.0, yaw, 3.0 * c));
        camera.setPosition(camera.getCameraToWorldRotation() * Eigen::Vector3d(0, 0, 0.15));
        rig.emplace_back(camera);
        rig.back().setConvergenceDepth(depth);
        rig.back().setOutputImageSize(4096, 2048);
    }
    return rig;
}

TEST(PerfectRig, IdealImagesCoincideAtTheConvergenceDepth) {
    std::mt19937 rng(5);
    std::normal_distribution<double> n;
    const double depth = 3.0;
    const std::vector<SphericalTransform> rig = ringRig(depth);
    const std::vector<SphericalTransform> wrongDepth = ringRig(1.0);
    int shared = 0;
    for (int i = 0; i < 300; ++i) {
        const Eigen::Vector3d point = depth * Eigen::Vector3d(n(rng), n(rng), n(rng)).normalized();
        std::vector<Eigen::Vector2d> ideals;
        std::vector<Eigen::Vector2d> wrongIdeals;
        for (size_t c = 0; c < rig.size(); ++c) {
            Eigen::Vector2d px;
            Eigen::Vector2d ideal;
            if (!rig[c].ProjectFromWorld(point, &px)) continue;
            ASSERT_TRUE(rig[c].ProjectToIdeal(px, ProjectionTypeEnum::Latlong, &ideal));
            ideals.push_back(ideal);
            ASSERT_TRUE(wrongDepth[c].ProjectToIdeal(px, ProjectionTypeEnum::Latlong, &ideal));
            wrongIdeals.push_back(ideal);
        }
        for (size_t k = 1; k < ideals.size(); ++k) {
            ++shared;
            EXPECT_LT((ideals[k] - ideals[0]).norm(), 1e-6) << "point " << point.transpose();
            // Parallax: at another depth the cameras disagree by whole pixels.
            EXPECT_GT((wrongIdeals[k] - wrongIdeals[0]).norm(), 1.0);
        }
    }
    EXPECT_GT(shared, 100);
}

TEST(NoImage, ReportsFalseAndLeavesTheOutputUntouched) {
    const Eigen::Vector2d sentinel2(-7, -7);
    const Eigen::Vector3d sentinel3(-7, -7, -7);
    Eigen::Vector2d px = sentinel2;
    Eigen::Vector3d world = sentinel3;
    SphericalTransform pinhole(forwardCamera(ProjectionTypeEnum::Rectilinear, 18.0));
    EXPECT_FALSE(pinhole.ProjectFromWorld(Eigen::Vector3d(0.1, 0, -2), &px));  // behind
    EXPECT_FALSE(pinhole.ProjectFromWorld(Eigen::Vector3d(3, 0, 2), &px));     // off the frame
    EXPECT_FALSE(pinhole.ProjectToWorld(Eigen::Vector2d(-0.5, 10), &world));
    EXPECT_FALSE(pinhole.ProjectToWorld(Eigen::Vector2d(10, 800.5), &world));
    EXPECT_FALSE(
        pinhole.ProjectFromIdeal(Eigen::Vector2d(1200, 10), ProjectionTypeEnum::Latlong, &px));

    // A camera outside the convergence sphere, looking away from it.
    CameraDefinition outside = forwardCamera(ProjectionTypeEnum::Rectilinear, 18.0);
    outside.setPosition(Eigen::Vector3d(0, 0, 5));
    SphericalTransform far(outside);
    far.setConvergenceDepth(1.0);
    EXPECT_FALSE(far.ProjectToWorld(Eigen::Vector2d(500, 400), &world));

    // A fisheye whose frame corners lie beyond 180 degrees off axis.
    const SphericalTransform wide(forwardCamera(ProjectionTypeEnum::Fisheye, 4.0));
    EXPECT_FALSE(wide.ProjectToWorld(Eigen::Vector2d(0.5, 0.5), &world));
    EXPECT_TRUE(wide.ProjectToWorld(Eigen::Vector2d(500, 400), &world));
    world = sentinel3;

    // A lens polynomial that turns inside the frame: its outer pixels have no ray.
    CameraDefinition folded = forwardCamera(ProjectionTypeEnum::Rectilinear, 18.0);
    folded.setDistortion(Eigen::Vector3d(0.0, 0.0, -0.5));
    EXPECT_FALSE(SphericalTransform(folded).ProjectToWorld(Eigen::Vector2d(999, 799), &world));

    // A definition without a format projects nothing.
    EXPECT_FALSE(SphericalTransform().ProjectToWorld(Eigen::Vector2d(0, 0), &world));
    EXPECT_FALSE(SphericalTransform().ProjectFromWorld(Eigen::Vector3d(0, 0, 1), &px));

    EXPECT_EQ(px, sentinel2);
    EXPECT_EQ(world, sentinel3);
    EXPECT_THROW(pinhole.setConvergenceDepth(0.0), std::invalid_argument);
    EXPECT_THROW(pinhole.setOutputImageSize(0, 10), std::invalid_argument);
}

}  // namespace
