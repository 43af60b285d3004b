// SPDX-License-Identifier: Apache-2.0
#include "px/image/Quaternion.h"

#include <cmath>

namespace PX {
namespace Image {

Quaternion Quaternion::fromAxisAngle(double ax, double ay, double az, double radians) {
    const double len = std::sqrt(ax * ax + ay * ay + az * az);
    if (len == 0.0) return {};
    const double s = std::sin(radians / 2) / len;
    return {std::cos(radians / 2), ax * s, ay * s, az * s};
}

Quaternion Quaternion::operator*(const Quaternion& o) const {
    return {w * o.w - x * o.x - y * o.y - z * o.z,
            w * o.x + x * o.w + y * o.z - z * o.y,
            w * o.y - x * o.z + y * o.w + z * o.x,
            w * o.z + x * o.y - y * o.x + z * o.w};
}

double Quaternion::norm() const { return std::sqrt(w * w + x * x + y * y + z * z); }

Quaternion Quaternion::inverse() const {
    const double n2 = w * w + x * x + y * y + z * z;
    if (n2 == 0.0) return {};
    return {w / n2, -x / n2, -y / n2, -z / n2};
}

Matrix3 Quaternion::matrix() const {
    const double n = norm();
    const double a = n > 0 ? w / n : 1, b = n > 0 ? x / n : 0, c = n > 0 ? y / n : 0,
                 d = n > 0 ? z / n : 0;
    Matrix3 m;
    m(0, 0) = 1 - 2 * (c * c + d * d), m(0, 1) = 2 * (b * c - a * d), m(0, 2) = 2 * (b * d + a * c);
    m(1, 0) = 2 * (b * c + a * d), m(1, 1) = 1 - 2 * (b * b + d * d), m(1, 2) = 2 * (c * d - a * b);
    m(2, 0) = 2 * (b * d - a * c), m(2, 1) = 2 * (c * d + a * b), m(2, 2) = 1 - 2 * (b * b + c * c);
    return m;
}

}  // namespace Image
}  // namespace PX
