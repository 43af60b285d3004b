// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Matrix3.h"

namespace PX {
namespace Image {

/// A rotation quaternion w + xi + yj + zk (unit length for rotations).
struct Quaternion {
    double w = 1.0, x = 0.0, y = 0.0, z = 0.0;

    /// The rotation by `radians` about the axis (ax, ay, az), which need not be unit length;
    /// a zero axis gives the identity.
    static Quaternion fromAxisAngle(double ax, double ay, double az, double radians);
    Quaternion operator*(const Quaternion& o) const;
    /// The conjugate divided by the squared norm.
    Quaternion inverse() const;
    double norm() const;
    /// The rotation matrix of the normalised quaternion.
    Matrix3 matrix() const;
};

}  // namespace Image
}  // namespace PX
