// SPDX-License-Identifier: Apache-2.0
// make_rig's real-rig options: the calibration error of rig.json and what the sensor does.
#include <cmath>

#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include "CalibrationError.h"
#include "MakeRigTest.h"
#include "RigOptions.h"
#include "SensorModel.h"
#include "vellacam/SphericalTransform.h"

using namespace Korvane::MakeRig;
using namespace Korvane::Research;

namespace {

RigOptions parse(const std::string& args) {
    return RigOptions::parse(MakeRigTest::words("--out unused " + args));
}

TEST(RealRig, RecordedRigIsOffByTheAskedErrorsAndExactWithout) {
    const RigOptions exact = parse("--size 320x240");
    const SyntheticRig rig(exact);
    EXPECT_TRUE(recordedRig(exact, rig.definition()) == rig.definition());

    const RigOptions off =
        parse("--size 320x240 --rotation-error 2 --focal-error 0.5 --centre-error 1.5");
    const SyntheticRig same(off);
    EXPECT_TRUE(same.definition() == rig.definition());  // the true rig does not change
    const CameraRigDefinition recorded = recordedRig(off, rig.definition());
    std::vector<Eigen::Vector3d> axes;
    for (int c = 0; c < rig.definition().getNumberCameras(); ++c) {
        const CameraDefinition& t = rig.definition().getCamera(c);
        const CameraDefinition& r = recorded.getCamera(c);
        const Eigen::AngleAxisd turn(t.getCameraToWorldRotation() *
                                     r.getCameraToWorldRotation().transpose());
        EXPECT_NEAR(turn.angle() * 180.0 / M_PI, 2.0, 1e-9);
        axes.push_back(turn.axis());
        EXPECT_NEAR(std::abs(r.getFocalLength() / t.getFocalLength() - 1.0), 0.005, 1e-12);
        EXPECT_NEAR((r.getCentreShift() - t.getCentreShift()).norm(), 1.5, 1e-12);
        EXPECT_EQ(r.getPosition(), t.getPosition());
        EXPECT_EQ(recorded.getLinks(c), rig.definition().getLinks(c));
    }
    EXPECT_GT((axes[0] - axes[1]).norm(), 0.1);  // each camera turns its own way
}

TEST(RealRig, CircularFisheyeHasItsCircleInTheRigAndHousingOutside) {
    const RigOptions o = parse("--size 200x180 --cameras 2 --circle 190 --vignetting 0.3");
    const SyntheticRig rig(o);
    const CameraDefinition& camera = rig.definition().getCamera(0);
    ASSERT_TRUE(camera.hasImageCircle());
    EXPECT_EQ(camera.getImageCircleCentre(), Eigen::Vector2d(100.0, 90.0));
    // The rim is where the lens puts 95 degrees from the axis.
    const Korvane::Research::SphericalTransform transform(camera);
    Eigen::Vector2d rim;
    const double a = 94.9 * M_PI / 180.0;
    ASSERT_TRUE(transform.ProjectFromWorld(
        camera.getPosition() +
            camera.getCameraToWorldRotation() * Eigen::Vector3d(std::sin(a), 0.0, std::cos(a)),
        &rim));
    EXPECT_NEAR((rim - camera.getImageCircleCentre()).norm(), camera.getImageCircleRadius(), 0.5);
    // The two lenses see each other's edge: they are linked.
    EXPECT_TRUE(rig.definition().isLinked(0, 1));

    const MetaDataHandler back = MakeRigTest::readBack(rig);
    EXPECT_TRUE(back.getRig() == rig.definition()) << "bit for bit, the circle included";
    EXPECT_EQ(back.getRigConvergence(), rig.convergence());

    // White light: housing outside the circle, the vignetting's fall inside.
    const SensorModel sensor(o, rig.definition());
    RenderedView view;
    view.width = 200;
    view.height = 180;
    view.rgb.assign(200 * 180 * 3, 1.0f);
    sensor.apply(0, 1, &view, RowPool(1));
    auto at = [&](int i, int row) { return view.rgb[(size_t(row) * 200 + size_t(i)) * 3 + 1]; };
    EXPECT_EQ(at(0, 0), SensorModel::kHousing);
    EXPECT_NEAR(at(100, 90), 1.0f, 1e-3f);
    EXPECT_NEAR(at(100, 90 - 80),
                1.0f - 0.3f * std::pow(80.0f / float(camera.getImageCircleRadius()), 2.0f),
                0.01f);
}

TEST(RealRig, CamerasDifferInExposureAndWhiteBalanceAndNoiseHasItsSpread) {
    const RigOptions o = parse("--size 64x48 --exposure 0.5 --white-balance 10 --noise 0.02");
    const SyntheticRig rig(o);
    const SensorModel sensor(o, rig.definition());
    double spread = 0.0;
    for (int c = 0; c < 6; ++c) {
        const Eigen::Vector3f g = sensor.gain(c);
        EXPECT_LE(std::abs(std::log2(g.y())), 0.5f + 1e-6f);
        EXPECT_LE(std::abs(g.x() / g.y() - 1.0f), 0.1f + 1e-6f);
        spread = std::max(spread, std::abs(double(g.y() / sensor.gain(0).y()) - 1.0));
    }
    EXPECT_GT(spread, 0.05);

    RenderedView view;
    view.width = 64;
    view.height = 48;
    view.rgb.assign(64 * 48 * 3, 0.5f);
    RenderedView again = view;
    sensor.apply(2, 7, &view, RowPool(1));
    sensor.apply(2, 7, &again, RowPool(3));
    EXPECT_EQ(view.rgb, again.rgb);  // the same for any thread count
    double sum = 0.0, sum2 = 0.0;
    const double mean = 0.5 * sensor.gain(2).y();
    for (size_t p = 0; p < view.rgb.size(); p += 3) {
        sum += view.rgb[p + 1] - mean;
        sum2 += (view.rgb[p + 1] - mean) * (view.rgb[p + 1] - mean);
    }
    const double n = double(view.rgb.size() / 3);
    EXPECT_NEAR(sum / n, 0.0, 0.002);
    EXPECT_NEAR(std::sqrt(sum2 / n), 0.02, 0.002);
}

}  // namespace
