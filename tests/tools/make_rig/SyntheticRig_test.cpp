// SPDX-License-Identifier: Apache-2.0
#include "SyntheticRig.h"

#include <cmath>

#include <gtest/gtest.h>

#include "MakeRigTest.h"

using namespace Korvane::MakeRig;
using namespace Korvane::Research;

namespace {

RigOptions options(LensKind lens, bool upDown, unsigned long long seed = 1) {
    RigOptions o = RigOptions::parse({"--out", "unused", "--size", "160x120"});
    o.lens = lens;
    o.up = o.down = upDown;
    o.seed = seed;
    return o;
}

class SyntheticRigLens : public testing::TestWithParam<LensKind> {};

TEST_P(SyntheticRigLens, RigFileReadsBackAsTheRenderedRig) {
    const SyntheticRig rig(options(GetParam(), true));
    const MetaDataHandler handler = MakeRigTest::readBack(rig);
    EXPECT_TRUE(handler.getRig() == rig.definition());  // bit for bit, links included
    EXPECT_EQ(handler.getRigConvergence(), rig.convergence());
    EXPECT_EQ(handler.getNumberCameras(), 8);
}

TEST_P(SyntheticRigLens, NeighboursOverlapAndOppositesDoNot) {
    const SyntheticRig rig(options(GetParam(), true));
    const auto& def = rig.definition();
    for (int c = 0; c < 6; ++c) {
        EXPECT_TRUE(def.isLinked(c, (c + 1) % 6)) << "ring camera " << c + 1;
        EXPECT_FALSE(def.isLinked(c, (c + 3) % 6)) << "ring camera " << c + 1;
        // A 90-degree rectilinear ring leaves a gap to the up and down cameras.
        const bool poles = GetParam() == LensKind::Fisheye;
        EXPECT_EQ(def.isLinked(c, 6), poles) << "up camera and ring camera " << c + 1;
        EXPECT_EQ(def.isLinked(c, 7), poles) << "down camera and ring camera " << c + 1;
    }
    EXPECT_FALSE(def.isLinked(6, 7));
}

INSTANTIATE_TEST_SUITE_P(Lenses,
                         SyntheticRigLens,
                         testing::Values(LensKind::Fisheye, LensKind::Rectilinear),
                         [](const auto& info) {
                             return info.param == LensKind::Fisheye ? "Fisheye" : "Rectilinear";
                         });

TEST(SyntheticRig, CamerasDeviateSlightlyFromTheNominalRingBySeed) {
    const SyntheticRig a(options(LensKind::Fisheye, true, 1));
    const SyntheticRig b(options(LensKind::Fisheye, true, 2));
    const SyntheticRig again(options(LensKind::Fisheye, true, 1));
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
