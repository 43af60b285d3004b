// SPDX-License-Identifier: Apache-2.0
#include "SyntheticRig.h"

#include <cmath>

#include <gtest/gtest.h>

using namespace Korvane::MakeRig;
using namespace Korvane::Research;

namespace {

RigOptions options(unsigned long long seed) {
    RigOptions o = RigOptions::parse({"--out", "unused", "--size", "160x120", "--up", "--down"});
    o.seed = seed;
    return o;
}

TEST(SyntheticRig, CamerasDeviateSlightlyFromTheNominalRingBySeed) {
    const SyntheticRig a(options(1));
    const SyntheticRig b(options(2));
    const SyntheticRig again(options(1));
    EXPECT_TRUE(a.definition() == again.definition());
    EXPECT_FALSE(a.definition() == b.definition());
    const auto& def = a.definition();
    EXPECT_DOUBLE_EQ(def.getRigDiameter(), 0.3);
    for (int c = 0; c < def.getNumberCameras(); ++c) {
        const auto& cam = def.getCamera(c);
        const Eigen::Vector3d nominal = c < 6    ? Eigen::Vector3d(0.0, 60.0 * c, 0.0)
                                        : c == 6 ? Eigen::Vector3d(-90.0, 0.0, 0.0)
                                                 : Eigen::Vector3d(90.0, 0.0, 0.0);
        const double off = (cam.getRotation() - nominal).cwiseAbs().maxCoeff();
        EXPECT_GT(off, 0.0) << "camera " << c + 1;
        EXPECT_LE(off, SyntheticRig::kRotationJitter) << "camera " << c + 1;
        EXPECT_NEAR(cam.getPosition().norm(), 0.15, 0.01) << "camera " << c + 1;
        // The optical axis points away from the rig centre, through the camera centre.
        const Eigen::Vector3d axis = cam.getCameraToWorldRotation() * Eigen::Vector3d::UnitZ();
        EXPECT_GT(axis.dot(cam.getPosition().normalized()), 0.99) << "camera " << c + 1;
    }
}

}  // namespace
