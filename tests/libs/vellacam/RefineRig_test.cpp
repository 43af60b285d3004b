// SPDX-License-Identifier: Apache-2.0
#include "vellacam/RefineRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include <Eigen/Geometry>

#include "CalibrationError.h"
#include "SyntheticRig.h"
#include "vellacam/ProgressReporter.h"
#include "vellacam/ProgressSink.h"
#include "vellacam/SphericalTransform.h"

using namespace Korvane::Research;
using Korvane::MakeRig::RigOptions;

namespace {

/// How far camera c of `a` is turned from that of `b`, in camera 1's frame (a turn of the whole
/// rig, which only the parallax of near points shows, left out), degrees.
double degreesOff(const CameraRigDefinition& a, const CameraRigDefinition& b, int c) {
    auto relative = [c](const CameraRigDefinition& rig) -> Eigen::Matrix3d {
        const Eigen::Matrix3d first = rig.getCamera(0).getCameraToWorldRotation();
        const Eigen::Matrix3d other = rig.getCamera(c).getCameraToWorldRotation();
        return first.transpose() * other;
    };
    return Eigen::AngleAxisd(relative(a) * relative(b).transpose()).angle() * 180.0 / M_PI;
}

Eigen::Vector3d angleAxis(const Eigen::Matrix3d& rotation) {
    const Eigen::AngleAxisd a(rotation);
    return a.angle() * a.axis();
}

/// The rotations that turn each camera of `from` into that of `to`, all turned together so
/// that their angle-axis vectors sum to zero: each camera's own error about the rig's mean.
std::vector<Eigen::Matrix3d> turnsAboutTheMean(const CameraRigDefinition& from,
                                               const CameraRigDefinition& to) {
    std::vector<Eigen::Matrix3d> turns;
    for (int c = 0; c < from.getNumberCameras(); ++c)
        turns.push_back(to.getCamera(c).getCameraToWorldRotation() *
                        from.getCamera(c).getCameraToWorldRotation().transpose());
    for (int iteration = 0; iteration < 20; ++iteration) {
        Eigen::Vector3d mean = Eigen::Vector3d::Zero();
        for (const Eigen::Matrix3d& turn : turns) mean += angleAxis(turn) / double(turns.size());
        if (mean.norm() < 1e-15) break;
        const Eigen::Matrix3d back = Eigen::AngleAxisd(-mean.norm(), mean.normalized()).matrix();
        for (Eigen::Matrix3d& turn : turns) turn = back * turn;
    }
    return turns;
}

double degrees(const Eigen::Matrix3d& rotation) {
    return Eigen::AngleAxisd(rotation).angle() * 180.0 / M_PI;
}

/// Points 1 to 8 m from a default-like rig (6 fisheyes at 640 x 480), observed exactly by the
/// true rig's cameras with 0.1 px of noise, some observations moved far (wrong matches).
CameraTrack observe(const CameraRigDefinition& truth, int points, double outliers) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<SphericalTransform> cameras;
    for (int c = 0; c < truth.getNumberCameras(); ++c) cameras.emplace_back(truth.getCamera(c));
    CameraTrack track(1);
    while (int(track.getTracks().size()) < points) {
        const double yaw = 2.0 * M_PI * unit(rng), pitch = 1.2 * (unit(rng) - 0.5);
        const Eigen::Vector3d P =
            (1.0 + 7.0 * unit(rng)) * Eigen::Vector3d(std::sin(yaw) * std::cos(pitch),
                                                      std::sin(pitch),
                                                      std::cos(yaw) * std::cos(pitch));
        FeatureTrack match;
        for (int c = 0; c < truth.getNumberCameras(); ++c) {
            Eigen::Vector2d image;
            if (!cameras[size_t(c)].ProjectFromWorld(P, &image)) continue;
            image += Eigen::Vector2d(noise(rng), noise(rng));
            if (unit(rng) < outliers) {
                const double turn = 2.0 * M_PI * unit(rng);
                image += 30.0 * Eigen::Vector2d(std::cos(turn), std::sin(turn));
            }
            match.getFeatures().emplace_back(c, Feature(image));
        }
        if (match.getFeatures().size() >= 2) track.getTracks().push_back(match);
    }
    return track;
}

/// A default-like rig (6 fisheyes at 640 x 480) and its record with every camera 2 degrees off.
std::pair<CameraRigDefinition, CameraRigDefinition> rigTwoDegreesOff() {
    RigOptions options = RigOptions::parse({"--out", "unused", "--size", "640x480"});
    const CameraRigDefinition truth = Korvane::MakeRig::SyntheticRig(options).definition();
    options.rotationError = 2.0;
    return {truth, Korvane::MakeRig::recordedRig(options, truth)};
}

TEST(RefineRig, RecoversEachCameraFromMatchesOfARigTwoDegreesOff) {
    const auto [truth, recorded] = rigTwoDegreesOff();
    const CameraTrack track = observe(truth, 1500, 0.05);

    const RigCorrection correction = RefineRig(recorded, {&track});
    ASSERT_TRUE(correction.ok) << correction.message;
    EXPECT_EQ(correction.matches, 1500);
    const CameraRigDefinition refined = CorrectedRig(recorded, correction);
    for (int c = 1; c < truth.getNumberCameras(); ++c) {
        EXPECT_GT(degreesOff(recorded, truth, c), 1.0);
        EXPECT_LT(degreesOff(refined, truth, c), 0.02) << "cam" << c + 1;
    }
    // The corrections average to none, and each is its camera's own error about the rig's
    // mean orientation: no turn of the whole rig is left in them.
    Eigen::Vector3d sum = Eigen::Vector3d::Zero();
    for (const Eigen::Matrix3d& turn : correction.rotations) sum += angleAxis(turn);
    EXPECT_LT(sum.norm() * 180.0 / M_PI, 1e-3);
    const std::vector<Eigen::Matrix3d> expected = turnsAboutTheMean(recorded, truth);
    for (int c = 0; c < truth.getNumberCameras(); ++c)
        EXPECT_LT(degrees(correction.rotations[size_t(c)].transpose() * expected[size_t(c)]), 0.02)
            << "cam" << c + 1;
    // What the parallax shows of the rig's turn against its positions turns the positions,
    // about the rig centre, keeping their distances.
    for (int c = 0; c < truth.getNumberCameras(); ++c)
        EXPECT_NEAR(refined.getCamera(c).getPosition().norm(),
                    recorded.getCamera(c).getPosition().norm(),
                    1e-12);
}

/// Two 200-degree fisheyes back to back, 3 cm apart, at 640 x 640.
CameraRigDefinition backToBackPair() {
    CameraRigDefinition rig;
    rig.setNumberCameras(2);
    for (int c = 0; c < 2; ++c) {
        CameraDefinition camera;
        camera.setFormat(640, 640);
        camera.setProjection(ProjectionTypeEnum::Fisheye);
        camera.setSensorSize(Eigen::Vector2d(36, 36));
        camera.setFieldOfView(200.0);
        camera.setPosition(Eigen::Vector3d(0, 0, c == 0 ? 0.015 : -0.015));
        camera.setRotation(Eigen::Vector3d(0, c == 0 ? 0.0 : 180.0, 0));
        rig.setCamera(c, camera);
    }
    rig.setRigDiameter(0.03);
    return rig;
}

/// `rig` with each camera turned by 0.03 rad about an axis of its own.
CameraRigDefinition turnedPair(const CameraRigDefinition& rig) {
    CameraRigDefinition turned = rig;
    for (int c = 0; c < 2; ++c) {
        CameraDefinition camera = turned.getCamera(c);
        const Eigen::Vector3d axis = Eigen::Vector3d(c == 0 ? 1.0 : -0.3, 0.5, c == 0 ? 0.2 : 1.0);
        camera.setCameraToWorldRotation(Eigen::AngleAxisd(0.03, axis.normalized()).matrix() *
                                        camera.getCameraToWorldRotation());
        turned.setCamera(c, camera);
    }
    return turned;
}

/// Points `nearest` to `farthest` metres away within 6 degrees of the plane between the lenses
/// of a back-to-back pair, which both see, observed exactly by `truth`.
CameraTrack observeRing(const CameraRigDefinition& truth, double nearest, double farthest) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<SphericalTransform> cameras{SphericalTransform(truth.getCamera(0)),
                                            SphericalTransform(truth.getCamera(1))};
    CameraTrack track(1);
    while (track.getTracks().size() < 400) {
        const double yaw = 2.0 * M_PI * unit(rng), pitch = 1.2 * (unit(rng) - 0.5);
        const Eigen::Vector3d d(
            std::sin(yaw) * std::cos(pitch), std::sin(pitch), 0.2 * (unit(rng) - 0.5));
        const Eigen::Vector3d P = (nearest + (farthest - nearest) * unit(rng)) * d.normalized();
        FeatureTrack match;
        for (int c = 0; c < 2; ++c) {
            Eigen::Vector2d image;
            if (cameras[size_t(c)].ProjectFromWorld(P, &image))
                match.getFeatures().emplace_back(c, Feature(image));
        }
        if (match.getFeatures().size() == 2) track.getTracks().push_back(match);
    }
    return track;
}

TEST(RefineRig, TwoCamerasTooCloseForParallaxKeepTheRigsOrientation) {
    // Scene 20 to 60 m away: no parallax shows how the rig as a whole is turned, so the
    // correction splits the cameras' disagreement between them and the panorama keeps the
    // rig's mean orientation.
    const CameraRigDefinition truth = backToBackPair();
    const CameraRigDefinition recorded = turnedPair(truth);
    const CameraTrack track = observeRing(truth, 20.0, 60.0);
    const RigCorrection correction = RefineRig(recorded, {&track});
    ASSERT_TRUE(correction.ok) << correction.message;
    EXPECT_LT(correction.rmsAfter, 0.01);
    const std::vector<Eigen::Matrix3d> expected = turnsAboutTheMean(recorded, truth);
    for (int c = 0; c < 2; ++c)
        EXPECT_LT(degrees(correction.rotations[size_t(c)].transpose() * expected[size_t(c)]), 0.01)
            << "cam" << c + 1;
    EXPECT_NEAR(correction.degrees(0), correction.degrees(1), 1e-3);
}

TEST(RefineRig, TwoLensRingHoldsFocalLengthsNearTheCalibration) {
    // On the ring two back-to-back lenses share, a focal length trades against the depth of
    // the points: unheld, the solve is free to drift it. Held near the calibration, the
    // lenses fit the centres the ring does see, and the rig keeps its orientation.
    const CameraRigDefinition truth = backToBackPair();
    CameraRigDefinition recorded = turnedPair(truth);
    const Eigen::Vector2d shifts[2] = {Eigen::Vector2d(3.0, -2.0), Eigen::Vector2d(-2.5, 1.5)};
    for (int c = 0; c < 2; ++c) {
        CameraDefinition camera = recorded.getCamera(c);
        camera.setCentreShift(shifts[c]);
        camera.setFocalLength(camera.getFocalLength() * (c == 0 ? 1.005 : 0.995));
        recorded.setCamera(c, camera);
    }
    const CameraTrack track = observeRing(truth, 1.0, 8.0);
    RefineRigOptions options;
    options.refineLens = true;
    const RigCorrection correction = RefineRig(recorded, {&track}, options);
    ASSERT_TRUE(correction.ok) << correction.message;
    EXPECT_LT(correction.rmsAfter, 0.05);
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(correction.focalScales[size_t(c)], 1.0, 0.01) << "cam" << c + 1;
        EXPECT_LT((shifts[c] + correction.centreShifts[size_t(c)]).norm(), 0.6 * shifts[c].norm())
            << "cam" << c + 1;
    }
    Eigen::Vector3d sum = angleAxis(correction.rotations[0]) + angleAxis(correction.rotations[1]);
    EXPECT_LT(sum.norm() * 180.0 / M_PI, 1e-3);
}

TEST(RefineRig, NarrowRectilinearOverlapsKeepTheLensesNearTheCalibration) {
    // Eight rectilinear cameras overlap in narrow strips, where a shift of a camera's optical
    // centre looks almost like a turn of it: left free, the centres wander off with the noise
    // of the matches while the turns take up the difference.
    RigOptions options = RigOptions::parse(
        {"--out", "unused", "--size", "640x480", "--cameras", "8", "--lens", "rectilinear"});
    const CameraRigDefinition truth = Korvane::MakeRig::SyntheticRig(options).definition();
    options.rotationError = 2.0;
    options.focalError = 0.3;
    options.centreError = 1.5;
    const CameraRigDefinition recorded = Korvane::MakeRig::recordedRig(options, truth);
    const CameraTrack track = observe(truth, 1500, 0.05);
    RefineRigOptions refine;
    refine.refineLens = true;
    const RigCorrection correction = RefineRig(recorded, {&track}, refine);
    ASSERT_TRUE(correction.ok) << correction.message;
    const CameraRigDefinition refined = CorrectedRig(recorded, correction);
    for (int c = 0; c < truth.getNumberCameras(); ++c) {
        const CameraDefinition &got = refined.getCamera(c), &want = truth.getCamera(c);
        EXPECT_LT((got.getCentreShift() - want.getCentreShift()).norm(), 2.0) << "cam" << c + 1;
        EXPECT_NEAR(got.getFocalLength() / want.getFocalLength(), 1.0, 0.004) << "cam" << c + 1;
    }
}

TEST(RefineRig, CorrectionTextRoundTripsAndOldTextStillReads) {
    RigCorrection correction;
    correction.rotations = {Eigen::AngleAxisd(0.01, Eigen::Vector3d::UnitX()).matrix(),
                            Eigen::AngleAxisd(-0.02, Eigen::Vector3d::UnitY()).matrix()};
    correction.focalScales = {1.001, 0.999};
    correction.centreShifts = {Eigen::Vector2d(0.5, -0.25), Eigen::Vector2d::Zero()};
    correction.positionTurn = Eigen::AngleAxisd(0.003, Eigen::Vector3d::UnitZ()).matrix();
    RigCorrection read;
    ASSERT_TRUE(RigCorrection::fromText(correction.toText(), 2, &read));
    EXPECT_TRUE(read.positionTurn.isApprox(correction.positionTurn, 1e-15));
    EXPECT_TRUE(read.rotations[1].isApprox(correction.rotations[1], 1e-15));
    EXPECT_EQ(read.toText(), correction.toText());

    // Text saved before the positions turned reads with them unturned.
    RigCorrection old;
    ASSERT_TRUE(RigCorrection::fromText("1 0.5 0 0 1 0 0", 1, &old));
    EXPECT_TRUE(old.positionTurn.isIdentity());
    RigCorrection untouched;
    for (const char* bad : {"1 0.5 0 0 1 0 0 positions 1 2",
                            "1 0.5 0 0 1 0 0 positions 1 2 3 4",
                            "1 0.5 0 0 1 0 0 turn 1 2 3"})
        EXPECT_FALSE(RigCorrection::fromText(bad, 1, &untouched)) << bad;
    EXPECT_FALSE(untouched.ok);
}

/// Keeps every fraction; reports an interruption once it has `interruptAfter` of them.
class RecordingSink : public ProgressSink {
public:
    explicit RecordingSink(std::size_t interruptAfter) : m_interruptAfter(interruptAfter) {}
    void progressFraction(double fraction) override { fractions.push_back(fraction); }
    bool interrupted() const override { return fractions.size() >= m_interruptAfter; }
    std::vector<double> fractions;

private:
    std::size_t m_interruptAfter;
};

TEST(RefineRig, ReportsProgressWithoutChangingTheResultAndStopsWhenCancelled) {
    const auto [truth, recorded] = rigTwoDegreesOff();
    const CameraTrack track = observe(truth, 600, 0.05);
    const RigCorrection quiet = RefineRig(recorded, {&track});
    ASSERT_TRUE(quiet.ok) << quiet.message;

    const auto watched = std::make_shared<RecordingSink>(std::size_t(-1));
    ProgressReporter reporter(watched);
    const RigCorrection reported = RefineRig(recorded, {&track}, {}, &reporter);
    EXPECT_EQ(reported.toText(), quiet.toText());
    ASSERT_GE(watched->fractions.size(), 4u) << "the start and a step per iteration";
    EXPECT_TRUE(std::is_sorted(watched->fractions.begin(), watched->fractions.end()));
    EXPECT_DOUBLE_EQ(watched->fractions[1], 0.1) << "the start is the first tenth";
    EXPECT_EQ(watched->fractions.back(), 1.0) << "the end dismisses the host's bar";

    // Cancelled after the second iteration of the solve: no correction, no message.
    const auto cancelling = std::make_shared<RecordingSink>(4);
    ProgressReporter cancelled(cancelling);
    const RigCorrection stopped = RefineRig(recorded, {&track}, {}, &cancelled);
    EXPECT_FALSE(stopped.ok);
    EXPECT_TRUE(stopped.interrupted);
    EXPECT_TRUE(stopped.message.empty()) << stopped.message;
    ASSERT_EQ(cancelling->fractions.size(), 5u) << "the start, two iterations, the end";
    EXPECT_EQ(cancelling->fractions.back(), 1.0);
}

TEST(RefineRig, TooFewMatchesAreRefusedNamingTheCamera) {
    RigOptions options = RigOptions::parse({"--out", "unused", "--size", "640x480"});
    const CameraRigDefinition truth = Korvane::MakeRig::SyntheticRig(options).definition();
    const CameraTrack few = observe(truth, 12, 0.0);
    const RigCorrection refused = RefineRig(truth, {&few});
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("matches, at least 20 are needed"), std::string::npos)
        << refused.message;
    EXPECT_EQ(refused.message.rfind("camera cam", 0), 0u) << refused.message;
    for (int c = 0; c < truth.getNumberCameras(); ++c)
        EXPECT_TRUE(refused.rotations[size_t(c)].isIdentity());
    const CameraTrack none(1);
    EXPECT_FALSE(RefineRig(truth, {&none}).ok);
}

}  // namespace
