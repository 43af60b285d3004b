// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include <Eigen/Core>

#include "vellacam/CameraRigDefinition.h"
#include "vellacam/CameraTrack.h"

namespace Korvane {
namespace Research {

class ProgressReporter;

struct RefineRigOptions {
    /// Scale of the Cauchy loss, pixels: residuals well above it (wrong matches) lose their
    /// pull.
    double lossScale = 1.0;
    /// Every camera that is refined needs this many matches with the others; a camera below it
    /// refuses the refinement.
    int minMatchesPerCamera = 20;
    int maxIterations = 50;
    /// Also refine each camera's focal length and optical centre, each held near its
    /// calibration by the sigmas below: one sigma off weighs as much as one match off by
    /// lossScale.
    bool refineLens = false;
    /// How far the calibration's focal lengths may be off, a fraction.
    double focalSigma = 0.01;
    /// How far its optical centres may be off, a fraction of the image circle's radius (half
    /// the smaller image side without a circle).
    double centreSigma = 0.01;
};

/// What RefineRig found: per camera the rotation to put before its camera-to-world rotation
/// (rig frame) and, with refineLens, the factor of its focal length and the shift of its
/// optical centre (pixels); the RMS reprojection error of the matches, before and after, in
/// pixels. With the lenses refined on three or more cameras, the camera positions stay and the
/// parallax of near points places the rig as a whole (a turn of every camera shows in the
/// corrections). Without, or on two cameras, the
/// rotations average to none (their angle-axis vectors sum to zero): each is its camera's own
/// error about the rig's mean orientation, the panorama keeps the rig's orientation, and what
/// the parallax shows of the rig's orientation against its camera positions turns the
/// positions instead (`positionTurn`, about the rig centre).
struct RigCorrection {
    bool ok = false;
    /// Why the rig was left alone, naming the camera at fault; empty when ok.
    std::string message;
    /// The user cancelled (ok false, no message).
    bool interrupted = false;
    std::vector<Eigen::Matrix3d> rotations;
    std::vector<double> focalScales;
    std::vector<Eigen::Vector2d> centreShifts;
    Eigen::Matrix3d positionTurn = Eigen::Matrix3d::Identity();
    int matches = 0;
    double rmsBefore = 0.0;
    double rmsAfter = 0.0;

    /// The rotation of camera c, degrees.
    double degrees(int c) const;

    /// Saved form, one line: the camera count, then per camera the rotation as an angle-axis
    /// vector in degrees, the focal-length factor and the centre shift in pixels, then, when
    /// the positions turn, "positions" and that turn's angle-axis vector in degrees
    /// (round-trip precision). Empty text is no correction.
    std::string toText() const;
    /// Reads toText()'s form for a rig of `cameras` cameras into `out` (ok set); false, with
    /// `out` untouched, for text of another form or camera count.
    static bool fromText(const std::string& text, int cameras, RigCorrection* out);
};

/// The rig refined from its matches: a robust bundle adjustment (Ceres, Cauchy loss) of every
/// camera's rotation against the matches' 3D points, the points refined with them, started
/// from the rotations on which the matches' rays agree best (the same estimate as camera
/// matching's wide pass) and points triangulated with those. Matches of every frame in
/// `frames` count, observed in camera pixels. Refuses (ok false, a message naming the camera)
/// when a camera with matches has fewer than minMatchesPerCamera, or none has any. With
/// `progress`, the start takes the first tenth of it and the solve the rest, a step per
/// iteration (of at most maxIterations), and 1 once the solve ends; once it reports an
/// interruption the refinement stops between iterations and returns `interrupted`.
RigCorrection RefineRig(const CameraRigDefinition& rig,
                        const std::vector<const CameraTrack*>& frames,
                        const RefineRigOptions& options = RefineRigOptions(),
                        ProgressReporter* progress = nullptr);

/// `rig` with each camera's rotation turned by the correction (cameras beyond the correction
/// unchanged).
CameraRigDefinition CorrectedRig(const CameraRigDefinition& rig,
                                 const std::vector<Eigen::Matrix3d>& rotations);
/// The same with focal lengths, centres and the turn of the positions too.
CameraRigDefinition CorrectedRig(const CameraRigDefinition& rig, const RigCorrection& correction);

}  // namespace Research
}  // namespace Korvane
