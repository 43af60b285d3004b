// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "analysis/WarpInverse.h"
#include "external/RigLibrary.h"

namespace Korvane {
namespace Research {

class DizuvaRuviPlugin;

/// The spread of a set of misalignments, in pixels of a 2048 x 1024 panorama.
struct MisalignmentFigures {
    size_t points = 0;
    double median = 0.0;
    double p90 = 0.0;

    static MisalignmentFigures of(std::vector<double> values);
};

/// Ghosting left in a node's stitch, measured on ground truth: every scene point that two or
/// more cameras see is taken where each camera's warped image shows it, put into the panorama
/// through that camera at the depth the warp was solved at (the node's convergence depth for a
/// script that does not record it), and the RMS distance of these positions
/// from their mean is the point's misalignment. Unwarped: every camera as it is; warped: with
/// the node's grids at the key frame.
struct WarpQualityReport {
    std::vector<double> unwarped;
    std::vector<double> warped;
    /// Per observation, how far the camera puts the point from its true direction seen from
    /// the rig centre (panorama pixels), before and after the warp.
    std::vector<double> unwarpedOffset;
    std::vector<double> warpedOffset;
    /// The depth measured at, metres; whether it is the recorded solve depth; and the depth
    /// the node renders at now (Converge, or the rig's with "Auto").
    double depth = 0.0;
    bool atSolvedDepth = false;
    double renderDepth = 0.0;
};

/// The scene points of make_rig's `truth/points.<FFFF>.json` as matches: one observation per
/// camera that sees the point (0-based camera, exact image position). Throws
/// std::runtime_error naming the file when it cannot be read.
std::vector<FeatureTrack> readTruthMatches(const std::string& path);

/// Measures `node` at analysis key `frame` against `truth` (the points of that frame) and
/// appends the figures to `report`. Points with fewer than two cameras that reach the panorama
/// are left out. Throws std::runtime_error when the node has no rig.
void measureWarpQuality(DizuvaRuviPlugin& node,
                        int frame,
                        const std::vector<FeatureTrack>& truth,
                        WarpQualityReport& report);

/// How far apart a match's observations land once every camera is warped: each observation o
/// of camera c goes to its warped position (o itself when `grids` has no grid for c), then to
/// c's ideal latlong image (`transforms[c]`, at its convergence depth); the result is the RMS
/// distance of these positions from their mean, in pixels of the ideal image, longitudes taken
/// the short way round. None when fewer than two observations reach the ideal image.
/// `grids` is keyed by camera index.
std::optional<double> matchMisalignment(const FeatureTrack& match,
                                        const std::map<int, WarpInverse>& grids,
                                        const std::vector<SphericalTransform>& transforms);

/// The truth file of `frame` in make_rig's truth folder.
std::string truthPointsPath(const std::string& truthDir, int frame);

}  // namespace Research
}  // namespace Korvane
