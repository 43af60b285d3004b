// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>

namespace PX {
namespace Image {

/// A 3 x 3 matrix of doubles, row-major: m(row, column). Rotations act on column vectors.
class Matrix3 {
public:
    /// The identity.
    Matrix3() : m_a{{1, 0, 0, 0, 1, 0, 0, 0, 1}} {}
    double& operator()(int row, int column) { return m_a[std::size_t(row * 3 + column)]; }
    double operator()(int row, int column) const { return m_a[std::size_t(row * 3 + column)]; }

    Matrix3 operator*(const Matrix3& o) const;
    std::array<double, 3> operator*(const std::array<double, 3>& v) const;
    Matrix3 transpose() const;
    bool operator==(const Matrix3& o) const { return m_a == o.m_a; }

    static Matrix3 rotationX(double radians);
    static Matrix3 rotationY(double radians);
    static Matrix3 rotationZ(double radians);
    /// Ry(y) * Rx(x) * Rz(z): rotate about Z first, then X, then Y (angles in radians).
    static Matrix3 rotationZXY(double x, double y, double z);
    /// The angles (x, y, z), radians, with rotationZXY(x, y, z) == *this for a rotation. x lies
    /// in [-pi/2, pi/2]; at x = +-pi/2 only y -/+ z is defined and z is returned as 0.
    std::array<double, 3> getZXYRotations() const;

private:
    std::array<double, 9> m_a;
};

}  // namespace Image
}  // namespace PX
