// SPDX-License-Identifier: Apache-2.0
// Rig geometry for camera matching: rays of pixels, the curve a ray draws in another camera
// over a range of depths, and the local mapping of a small patch from one camera to another.
// Positions are image pixels of the library (bottom-left origin, y up); points are rig frame,
// metres.
#pragma once

#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <Eigen/LU>

#include "vellacam/CameraRigDefinition.h"
#include "vellacam/SphericalTransform.h"

namespace Korvane {
namespace Research {
namespace detail {

/// One camera's rays and projections. Immutable; const calls may run on many threads.
class CameraRays {
public:
    explicit CameraRays(const CameraDefinition& camera);

    bool isValid() const { return m_transform.isValid(); }
    const CameraDefinition& camera() const { return m_transform.getCamera(); }
    const Eigen::Vector3d& centre() const { return m_centre; }
    int width() const { return m_transform.getCamera().getFormatWidth(); }
    int height() const { return m_transform.getCamera().getFormatHeight(); }

    /// Unit direction, rig frame, of the ray through `pixel`; false when it has none.
    bool ray(const Eigen::Vector2d& pixel, Eigen::Vector3d* direction) const;
    /// Image of the rig-frame point `world`; false when it has none.
    bool project(const Eigen::Vector3d& world, Eigen::Vector2d* pixel) const {
        return m_transform.ProjectFromWorld(world, pixel);
    }

private:
    SphericalTransform m_transform;
    Eigen::Vector3d m_centre;
};

/// Angle in radians between the rays of the centre pixel of `camera` and of its right-hand
/// neighbour: the camera's angular resolution; 0 when it has no such rays.
double pixelAngle(const CameraRays& camera);

/// The pixel offsets in `camera` of one step of `step` radians from the ray `direction` (of
/// image position `pixel`) along the two axes of the plane tangent to the view sphere there, as
/// the columns of `axes`. The axes are fixed in the rig frame: the first is horizontal (+Y
/// cross the ray), the second points up; within 25 degrees of straight up or down the first is
/// +X made tangent instead. Two cameras that see one point so sample its surroundings alike,
/// whatever their lenses and orientations. False when an image is missing.
bool tangentAxes(const CameraRays& camera,
                 const Eigen::Vector3d& direction,
                 double step,
                 Eigen::Matrix2d* axes);

/// Distance at which a ray's point stands in for a point at infinity, metres.
constexpr double kFarDepth = 1.0e4;

/// The curve that the points of a ray (from `origin` along unit `direction`) at depths from
/// `minDepth` to infinity draw in camera `to`, sampled evenly in inverse depth (image motion
/// is close to linear in it) and kept as the straight pieces between samples that both have
/// an image. Pieces are start/end pairs, flattened: [a0, b0, a1, b1, ...].
class DepthCurve {
public:
    static constexpr int kSamples = 13;

    DepthCurve(const CameraRays& to,
               const Eigen::Vector3d& origin,
               const Eigen::Vector3d& direction,
               double minDepth);

    const std::vector<Eigen::Vector2d>& pieces() const { return m_pieces; }
    /// For each piece (pieces()[2 i], pieces()[2 i + 1]), the point on the ray its start is.
    const std::vector<Eigen::Vector3d>& startPoints() const { return m_startPoints; }
    bool empty() const { return m_pieces.empty(); }
    /// Distance from `p` to the nearest piece; infinity for an empty curve.
    double distance(const Eigen::Vector2d& p) const;
    /// Bounding box of the pieces, (min, max).
    Eigen::Vector2d lower() const { return m_lower; }
    Eigen::Vector2d upper() const { return m_upper; }

private:
    std::vector<Eigen::Vector2d> m_pieces;
    std::vector<Eigen::Vector3d> m_startPoints;
    Eigen::Vector2d m_lower;
    Eigen::Vector2d m_upper;
};

/// Distance along ray (o1, d1) of the point nearest to ray (o2, d2), clamped to
/// [minDepth, kFarDepth]; kFarDepth for parallel rays or a point behind either camera.
double rayDepth(const Eigen::Vector3d& o1,
                const Eigen::Vector3d& d1,
                const Eigen::Vector3d& o2,
                const Eigen::Vector3d& d2,
                double minDepth);

/// The 2 x 2 Jacobian of the map from camera `from`'s pixels near `pixel` to camera `to`'s,
/// for a surface at `depth` metres along the rays of `from` (a sphere about `from`, locally a
/// plane facing it). False when a needed ray or image is missing.
bool localMapping(const CameraRays& from,
                  const CameraRays& to,
                  const Eigen::Vector2d& pixel,
                  double depth,
                  Eigen::Matrix2d* jacobian);

/// The pairs (a < b) of cameras to match: the rig's links; for a rig that records none, the
/// pairs where at least 1 % of a coarse grid of one camera's pixels, put on the sphere of
/// `depth` metres about the rig centre, has an image in the other.
std::vector<std::pair<int, int>> matchPairs(const CameraRigDefinition& rig, double depth);

/// A coarse map of where camera `cameraIndex` can see points that camera `other` sees too,
/// for any depth from `minDepth` to infinity: cells of `cell` pixels, row 0 at the top of the
/// image (the order of image files and OpenCV), 1 where a cell's centre ray meets `other`.
/// `cells` is (rows, columns); cells already set are kept, so calls for several other cameras
/// add up.
void markOverlap(const CameraRays& camera,
                 const CameraRays& other,
                 double minDepth,
                 int cell,
                 int rows,
                 int columns,
                 std::vector<unsigned char>* cells);

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
