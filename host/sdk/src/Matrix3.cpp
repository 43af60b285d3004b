// SPDX-License-Identifier: Apache-2.0
#include "px/image/Matrix3.h"

#include <algorithm>
#include <cmath>

namespace PX {
namespace Image {

Matrix3 Matrix3::operator*(const Matrix3& o) const {
    Matrix3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r(i, j) = (*this)(i, 0) * o(0, j) + (*this)(i, 1) * o(1, j) + (*this)(i, 2) * o(2, j);
    return r;
}

std::array<double, 3> Matrix3::operator*(const std::array<double, 3>& v) const {
    std::array<double, 3> r{};
    for (int i = 0; i < 3; ++i)
        r[size_t(i)] = (*this)(i, 0) * v[0] + (*this)(i, 1) * v[1] + (*this)(i, 2) * v[2];
    return r;
}

Matrix3 Matrix3::transpose() const {
    Matrix3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) r(i, j) = (*this)(j, i);
    return r;
}

Matrix3 Matrix3::rotationX(double a) {
    Matrix3 r;
    r(1, 1) = std::cos(a), r(1, 2) = -std::sin(a);
    r(2, 1) = std::sin(a), r(2, 2) = std::cos(a);
    return r;
}

Matrix3 Matrix3::rotationY(double a) {
    Matrix3 r;
    r(0, 0) = std::cos(a), r(0, 2) = std::sin(a);
    r(2, 0) = -std::sin(a), r(2, 2) = std::cos(a);
    return r;
}

Matrix3 Matrix3::rotationZ(double a) {
    Matrix3 r;
    r(0, 0) = std::cos(a), r(0, 1) = -std::sin(a);
    r(1, 0) = std::sin(a), r(1, 1) = std::cos(a);
    return r;
}

Matrix3 Matrix3::rotationZXY(double x, double y, double z) {
    return rotationY(y) * rotationX(x) * rotationZ(z);
}

std::array<double, 3> Matrix3::getZXYRotations() const {
    // For M = Ry(y) Rx(x) Rz(z): M(1,2) = -sin x, M(0,2) = cos x sin y, M(2,2) = cos x cos y,
    // M(1,0) = cos x sin z, M(1,1) = cos x cos z.
    const Matrix3& m = *this;
    const double sx = std::clamp(-m(1, 2), -1.0, 1.0);
    const double x = std::asin(sx);
    if (std::fabs(sx) < 1.0 - 1e-12)
        return {x, std::atan2(m(0, 2), m(2, 2)), std::atan2(m(1, 0), m(1, 1))};
    return {x, std::atan2(-m(2, 0), m(0, 0)), 0.0};
}

}  // namespace Image
}  // namespace PX
