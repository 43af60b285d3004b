// SPDX-License-Identifier: Apache-2.0
#include "MatchGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace Korvane {
namespace Research {
namespace detail {

namespace {

// Rays are found by ProjectToWorld on a sphere far larger than any rig, so that every camera
// sits well inside it and the point's direction from the camera is the ray's to 1e-12.
constexpr double kRaySphere = 1.0e3;

double segmentDistance(const Eigen::Vector2d& p,
                       const Eigen::Vector2d& a,
                       const Eigen::Vector2d& b) {
    const Eigen::Vector2d ab = b - a;
    const double length2 = ab.squaredNorm();
    double t = length2 > 0.0 ? (p - a).dot(ab) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return (a + t * ab - p).norm();
}

}  // namespace

CameraRays::CameraRays(const CameraDefinition& camera)
    : m_transform(camera), m_centre(camera.getPosition()) {
    m_transform.setConvergenceDepth(std::max(kRaySphere, 10.0 * (m_centre.norm() + 1.0)));
}

bool CameraRays::ray(const Eigen::Vector2d& pixel, Eigen::Vector3d* direction) const {
    Eigen::Vector3d world;
    if (!m_transform.ProjectToWorld(pixel, &world)) return false;
    const Eigen::Vector3d d = world - m_centre;
    const double n = d.norm();
    if (!(n > 0.0)) return false;
    *direction = d / n;
    return true;
}

double pixelAngle(const CameraRays& camera) {
    const Eigen::Vector2d centre(0.5 * camera.width(), 0.5 * camera.height());
    Eigen::Vector3d a, b;
    if (!camera.ray(centre, &a) || !camera.ray(centre + Eigen::Vector2d(1.0, 0.0), &b)) return 0.0;
    return std::acos(std::clamp(a.dot(b), -1.0, 1.0));
}

bool tangentAxes(const CameraRays& camera,
                 const Eigen::Vector3d& direction,
                 double step,
                 Eigen::Matrix2d* axes) {
    Eigen::Vector3d u = Eigen::Vector3d::UnitY().cross(direction);
    // sin(25 degrees): nearer the poles the horizontal turns too fast with the direction.
    if (u.norm() < 0.42) u = Eigen::Vector3d::UnitX() - direction.x() * direction;
    u.normalize();
    const Eigen::Vector3d v = direction.cross(u);
    Eigen::Vector2d p, pu, pv;
    // A point at any distance along a direction from the camera has the image of that direction.
    if (!camera.project(camera.centre() + direction, &p) ||
        !camera.project(camera.centre() + direction + step * u, &pu) ||
        !camera.project(camera.centre() + direction + step * v, &pv))
        return false;
    axes->col(0) = pu - p;
    axes->col(1) = pv - p;
    return true;
}

DepthCurve::DepthCurve(const CameraRays& to,
                       const Eigen::Vector3d& origin,
                       const Eigen::Vector3d& direction,
                       double minDepth) {
    m_lower.setConstant(std::numeric_limits<double>::infinity());
    m_upper.setConstant(-std::numeric_limits<double>::infinity());
    Eigen::Vector2d previous;
    Eigen::Vector3d previousPoint;
    bool previousValid = false;
    for (int k = 0; k < kSamples; ++k) {
        // Inverse depth from 1 / minDepth down to 0 (the far sample).
        const double s = (1.0 - double(k) / (kSamples - 1)) / minDepth;
        const double depth = s > 1.0 / kFarDepth ? 1.0 / s : kFarDepth;
        const Eigen::Vector3d point = origin + depth * direction;
        Eigen::Vector2d image;
        const bool valid = to.project(point, &image);
        if (valid && previousValid) {
            m_pieces.push_back(previous);
            m_pieces.push_back(image);
            m_startPoints.push_back(previousPoint);
            m_lower = m_lower.cwiseMin(previous).cwiseMin(image);
            m_upper = m_upper.cwiseMax(previous).cwiseMax(image);
        }
        previous = image;
        previousPoint = point;
        previousValid = valid;
    }
}

double DepthCurve::distance(const Eigen::Vector2d& p) const {
    double best = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i + 1 < m_pieces.size(); i += 2)
        best = std::min(best, segmentDistance(p, m_pieces[i], m_pieces[i + 1]));
    return best;
}

double rayDepth(const Eigen::Vector3d& o1,
                const Eigen::Vector3d& d1,
                const Eigen::Vector3d& o2,
                const Eigen::Vector3d& d2,
                double minDepth) {
    // Closest points of two lines (d1, d2 unit): solve for t1, t2 in
    // [1, -c; c, -1] [t1; t2] = [d1.w; d2.w], w = o2 - o1, c = d1.d2.
    const Eigen::Vector3d w = o2 - o1;
    const double c = d1.dot(d2);
    const double denominator = 1.0 - c * c;
    if (denominator < 1e-12) return kFarDepth;
    const double t1 = (d1.dot(w) - c * d2.dot(w)) / denominator;
    const double t2 = (c * d1.dot(w) - d2.dot(w)) / denominator;
    if (!(t1 > 0.0) || !(t2 > 0.0)) return kFarDepth;
    return std::clamp(t1, minDepth, kFarDepth);
}

bool localMapping(const CameraRays& from,
                  const CameraRays& to,
                  const Eigen::Vector2d& pixel,
                  double depth,
                  Eigen::Matrix2d* jacobian) {
    // Central differences over one pixel; a step toward the image centre where a side falls
    // outside the frame.
    Eigen::Vector2d images[2][2];
    for (int axis = 0; axis < 2; ++axis)
        for (int side = 0; side < 2; ++side) {
            Eigen::Vector2d p = pixel;
            p[axis] += side == 0 ? -0.5 : 0.5;
            Eigen::Vector3d d;
            if (!from.ray(p, &d) || !to.project(from.centre() + depth * d, &images[axis][side]))
                return false;
        }
    jacobian->col(0) = images[0][1] - images[0][0];
    jacobian->col(1) = images[1][1] - images[1][0];
    return std::isfinite(jacobian->determinant()) && std::abs(jacobian->determinant()) > 1e-6;
}

std::vector<std::pair<int, int>> matchPairs(const CameraRigDefinition& rig, double depth) {
    std::vector<int> cameras(size_t(rig.getNumberCameras()));
    std::iota(cameras.begin(), cameras.end(), 0);
    return rig.overlappingPairs(cameras, depth);
}

void markOverlap(const CameraRays& camera,
                 const CameraRays& other,
                 double minDepth,
                 int cell,
                 int rows,
                 int columns,
                 std::vector<unsigned char>* cells) {
    const double depths[] = {minDepth, 2.0 * minDepth, 4.0 * minDepth, 16.0 * minDepth, kFarDepth};
    const int height = camera.height();
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            unsigned char& flag = (*cells)[size_t(r) * columns + c];
            if (flag) continue;
            // Row r counts from the top; the library's y from the bottom.
            const Eigen::Vector2d p(std::min((c + 0.5) * cell, double(camera.width())),
                                    std::max(height - (r + 0.5) * cell, 0.0));
            Eigen::Vector3d d;
            if (!camera.ray(p, &d)) continue;
            for (double depth : depths) {
                Eigen::Vector2d image;
                if (other.project(camera.centre() + depth * d, &image)) {
                    flag = 1;
                    break;
                }
            }
        }
}

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
