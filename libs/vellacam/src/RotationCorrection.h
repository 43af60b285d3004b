// SPDX-License-Identifier: Apache-2.0
// The rotation that each camera of a rig needs so that its matches agree with the rig's
// geometry: real rigs are calibrated to a degree or two, which moves a match far outside the
// narrow band that camera matching searches.
#pragma once

#include <vector>

#include <Eigen/Core>

namespace Korvane {
namespace Research {
namespace detail {

/// A candidate match between cameras a and b: the unit rays, rig frame, that the recorded rig
/// gives its two observations.
struct RayMatch {
    int a = 0;
    int b = 0;
    Eigen::Vector3d rayA;
    Eigen::Vector3d rayB;
};

struct RotationCorrectionOptions {
    /// Nearest depth of a point along a ray, metres from its camera.
    double minDepth = 0.3;
    /// A match agrees with a correction when its rays meet within this angle, radians.
    double inlierAngle = 0.4 * 3.14159265358979323846 / 180.0;
    /// Most RANSAC hypotheses per camera pair; fewer (at least 50) once a sample of three
    /// agreeing matches has come up with 99 % certainty.
    int hypotheses = 3000;
    /// A pair needs this many agreeing matches to take part in the correction.
    int minInliers = 12;
    /// Per camera, the unit optical axis (rig frame) about which the angle of its rays may be
    /// scaled as well (a lens-curve or focal error); a zero vector for a camera whose lens is
    /// taken as exact. Empty: rotations only. With any axis, each pair is also searched for
    /// further sets of matches that agree among themselves (other arcs of the overlap), each
    /// of at least minArcInliers, once the best set is taken out.
    std::vector<Eigen::Vector3d> axes;
    int minArcInliers = 6;
    unsigned long long seed = 1;
};

/// The angle between the ray `rayB` of camera b (at `centreB`) and the nearest direction in
/// which b sees a point of the ray from `centreA` along `rayA` at depths from `minDepth` to
/// infinity: 0 when the two rays meet in front of both cameras. Radians.
double rayDistance(const Eigen::Vector3d& centreA,
                   const Eigen::Vector3d& rayA,
                   const Eigen::Vector3d& centreB,
                   const Eigen::Vector3d& rayB,
                   double minDepth);

/// Per camera, the rotation Q_c (rig frame) to put before its camera-to-world rotation so that
/// the matches' rays meet: Q_a rayA and Q_b rayB, cast from the camera centres, must meet at a
/// depth of at least minDepth. Each pair is first cleaned by RANSAC (three matches give a
/// correction of b relative to a; the one most matches agree with wins), then every camera's
/// correction is refined together by iteratively reweighted Gauss-Newton (Cauchy weights) over
/// the agreeing matches of every pair. A rotation of the whole rig changes nothing but the
/// parallax of near points, so a faint pull toward no correction keeps the corrections' mean
/// near zero. Cameras in no usable pair get the identity. `inlier`, when given, flags the
/// matches that agree with the result. False (identities) when no pair has enough agreeing
/// matches.
///
/// With `options.axes`, `radialFactors` (when given) receives per camera the factor k on the
/// angle theta of its rays from its optical axis (theta becomes k theta before the rotation;
/// 1 for a camera without an axis): an equidistant fisheye's focal length divided by k. Two
/// lenses back to back see such an error at opposite seams in opposite directions, which no
/// rotation can take up.
bool estimateRotationCorrections(const std::vector<Eigen::Vector3d>& centres,
                                 const std::vector<RayMatch>& matches,
                                 const RotationCorrectionOptions& options,
                                 std::vector<Eigen::Matrix3d>* corrections,
                                 std::vector<bool>* inlier = nullptr,
                                 std::vector<double>* radialFactors = nullptr);

/// `ray` with its angle theta from the unit `axis` made k theta, in the plane of the two.
Eigen::Vector3d scaleAngleFromAxis(const Eigen::Vector3d& axis,
                                   const Eigen::Vector3d& ray,
                                   double k);

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
