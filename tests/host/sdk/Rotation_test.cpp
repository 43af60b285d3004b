// SPDX-License-Identifier: Apache-2.0
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "px/image/Matrix3.h"
#include "px/image/Quaternion.h"

using namespace PX::Image;

namespace {

double maxDifference(const Matrix3& a, const Matrix3& b) {
    double d = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) d = std::max(d, std::fabs(a(i, j) - b(i, j)));
    return d;
}

}  // namespace

TEST(Rotation, ZXYAnglesRoundTripAndFollowTheAxisConvention) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> angle(-3.1, 3.1), tilt(-1.5, 1.5);
    for (int i = 0; i < 200; ++i) {
        const double x = tilt(rng), y = angle(rng), z = angle(rng);
        const Matrix3 m = Matrix3::rotationZXY(x, y, z);
        const auto a = m.getZXYRotations();
        EXPECT_NEAR(a[0], x, 1e-9) << i;
        EXPECT_NEAR(a[1], y, 1e-9) << i;
        EXPECT_NEAR(a[2], z, 1e-9) << i;
        EXPECT_LT(maxDifference(m * m.transpose(), Matrix3()), 1e-12);
    }
    // Z is applied first: +X rolled 90 degrees about Z, then panned 90 degrees about Y.
    const auto v = Matrix3::rotationZXY(0, M_PI / 2, M_PI / 2) * std::array<double, 3>{1, 0, 0};
    EXPECT_NEAR(v[0], 0, 1e-12);
    EXPECT_NEAR(v[1], 1, 1e-12);
    EXPECT_NEAR(v[2], 0, 1e-12);
    // Gimbal lock keeps the matrix even though the angles are not unique.
    const Matrix3 locked = Matrix3::rotationZXY(M_PI / 2, 0.3, 0.2);
    const auto a = locked.getZXYRotations();
    EXPECT_LT(maxDifference(Matrix3::rotationZXY(a[0], a[1], a[2]), locked), 1e-9);
}

TEST(Rotation, QuaternionsMatchAxisRotations) {
    const Quaternion qy = Quaternion::fromAxisAngle(0, 2, 0, 0.7);  // axis length does not matter
    EXPECT_LT(maxDifference(qy.matrix(), Matrix3::rotationY(0.7)), 1e-12);
    const Quaternion qx = Quaternion::fromAxisAngle(1, 0, 0, -0.4);
    EXPECT_LT(maxDifference((qy * qx).matrix(), Matrix3::rotationY(0.7) * Matrix3::rotationX(-0.4)),
              1e-12);
    EXPECT_LT(maxDifference((qy * qy.inverse()).matrix(), Matrix3()), 1e-12);
    EXPECT_EQ(Quaternion::fromAxisAngle(0, 0, 0, 1).matrix(), Matrix3());
}
