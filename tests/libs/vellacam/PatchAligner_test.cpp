// SPDX-License-Identifier: Apache-2.0
// Sub-pixel patch alignment where the rig's predicted local map is off, as near the rim of a
// wide fisheye whose lens model errs by some percent, and the two cameras' exposures differ.
#include "PatchAligner.h"

#include <cmath>
#include <functional>

#include <gtest/gtest.h>
#include <Eigen/Geometry>

using namespace Korvane::Research::detail;

namespace {

constexpr int kSize = 96;

// A texture with corners in every direction: sines of wavelengths 7 to 17 px.
double texture(const Eigen::Vector2d& p) {
    return 120.0 + 40.0 * std::sin(0.61 * p.x() + 0.23 * p.y()) +
           35.0 * std::sin(-0.17 * p.x() + 0.52 * p.y() + 1.0) +
           30.0 * std::sin(0.37 * p.x() - 0.41 * p.y() + 2.0) +
           20.0 * std::sin(0.83 * p.x() + 0.71 * p.y() + 0.5);
}

// An image of `value` at library positions (pixel centres at +0.5, y up), rows top first.
SampledImage render(const std::function<double(const Eigen::Vector2d&)>& value) {
    std::vector<float> pixels(size_t(kSize) * kSize);
    for (int row = 0; row < kSize; ++row)
        for (int i = 0; i < kSize; ++i)
            pixels[size_t(row) * kSize + size_t(i)] =
                float(value(Eigen::Vector2d(i + 0.5, kSize - 0.5 - row)));
    return SampledImage(kSize, kSize, std::move(pixels));
}

Eigen::Matrix2d rotation(double degrees) {
    return Eigen::Rotation2Dd(degrees * M_PI / 180.0).toRotationMatrix();
}

struct Scene {
    Eigen::Vector2d referencePixel{40.0, 44.0};
    Eigen::Vector2d truePosition{50.3, 47.6};
    Eigen::Matrix2d trueMap;  // target q = truePosition + trueMap (p - referencePixel)
    SampledImage reference, target;

    Scene(const Eigen::Matrix2d& map, double gain, double offset) : trueMap(map) {
        reference = render(texture);
        const Eigen::Matrix2d inverse = map.inverse();
        target = render([&](const Eigen::Vector2d& q) {
            return gain * texture(referencePixel + inverse * (q - truePosition)) + offset;
        });
    }

    // Aligns the 7 px patch at the reference pixel of `from` into `to`, starting at `start`,
    // allowing at most `maxShift` pixels of travel.
    bool align(const SampledImage& from,
               const SampledImage& to,
               const Eigen::Vector2d& start,
               const Eigen::Matrix2d& predicted,
               double maxShift,
               PatchAlignment* aligned) const {
        return alignPatch(from, referencePixel, to, start, predicted, 7, maxShift, 1.5, aligned);
    }
    bool align(const Eigen::Vector2d& start,
               const Eigen::Matrix2d& predicted,
               double maxShift,
               PatchAlignment* aligned) const {
        return align(reference, target, start, predicted, maxShift, aligned);
    }
};

// Back-to-back fisheyes: the lens model predicts a turn of the patch but gets the radial scale
// 18 % wrong and the tangential 10 %; the second lens is darker. The corner found in the
// target sits a pixel and a half off the point.
TEST(PatchAligner, FindsThePointWhenThePredictedMapAndTheExposureAreOff) {
    const Eigen::Matrix2d predicted = rotation(35.0);
    const Scene scene(predicted * Eigen::Vector2d(1.18, 0.9).asDiagonal(), 0.6, 25.0);
    PatchAlignment aligned;
    ASSERT_TRUE(
        scene.align(scene.truePosition + Eigen::Vector2d(1.2, -0.9), predicted, 5.0, &aligned));
    EXPECT_LT((aligned.position - scene.truePosition).norm(), 0.05);
    EXPECT_GT(aligned.correlation, 0.99);
    EXPECT_LT((aligned.mapping - scene.trueMap).norm(), 0.03);
}

// With the map right the fit keeps it, and lands on the point from three pixels away.
TEST(PatchAligner, KeepsAnExactPredictionAndRefusesAShiftBeyondTheLimit) {
    const Eigen::Matrix2d exact = rotation(-120.0);
    const Scene scene(exact, 1.0, 0.0);
    const Eigen::Vector2d start = scene.truePosition + Eigen::Vector2d(-2.0, 2.0);
    PatchAlignment aligned;
    ASSERT_TRUE(scene.align(start, exact, 5.0, &aligned));
    EXPECT_LT((aligned.position - scene.truePosition).norm(), 0.02);
    EXPECT_LT((aligned.mapping - exact).norm(), 0.01);
    EXPECT_FALSE(scene.align(start, exact, 1.0, &aligned));
}

// A patch of another place correlates poorly however the map bends; a flat one fixes nothing.
TEST(PatchAligner, AnotherPlaceCorrelatesPoorlyAndAFlatPatchIsRefused) {
    const Scene scene(Eigen::Matrix2d::Identity(), 1.0, 0.0);
    const Eigen::Matrix2d identity = Eigen::Matrix2d::Identity();
    const SampledImage other = render([](const Eigen::Vector2d& q) {
        return texture(Eigen::Vector2d(1.7 * q.y() + 11.0, 0.8 * q.x() - 5.0));
    });
    PatchAlignment aligned;
    if (scene.align(scene.reference, other, scene.truePosition, identity, 5.0, &aligned)) {
        EXPECT_LT(aligned.correlation, 0.9);
    }
    const SampledImage flat = render([](const Eigen::Vector2d&) { return 100.0; });
    EXPECT_FALSE(scene.align(flat, scene.target, scene.truePosition, identity, 5.0, &aligned));
}

}  // namespace
