// SPDX-License-Identifier: Apache-2.0
#include "vellacam/RefineRig.h"

#include <gtest/gtest.h>

#include <random>

#include <Eigen/Geometry>

#include "CalibrationError.h"
#include "SyntheticRig.h"
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

TEST(RefineRig, RecoversEachCameraFromMatchesOfARigTwoDegreesOff) {
    RigOptions options = RigOptions::parse({"--out", "unused", "--size", "640x480"});
    const CameraRigDefinition truth = Korvane::MakeRig::SyntheticRig(options).definition();
    options.rotationError = 2.0;
    const CameraRigDefinition recorded = Korvane::MakeRig::recordedRig(options, truth);
    const CameraTrack track = observe(truth, 1500, 0.05);

    const RigCorrection correction = RefineRig(recorded, {&track});
    ASSERT_TRUE(correction.ok) << correction.message;
    EXPECT_EQ(correction.matches, 1500);
    const CameraRigDefinition refined = CorrectedRig(recorded, correction.rotations);
    for (int c = 1; c < truth.getNumberCameras(); ++c) {
        EXPECT_GT(degreesOff(recorded, truth, c), 1.0);
        EXPECT_LT(degreesOff(refined, truth, c), 0.02) << "cam" << c + 1;
    }
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
