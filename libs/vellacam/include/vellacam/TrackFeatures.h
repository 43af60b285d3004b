// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>

#include "vellacam/CameraRigDefinition.h"
#include "vellacam/CameraTrack.h"
#include "vellacam/FeatureImageSource.h"
#include "vellacam/ProgressReporter.h"

namespace PX {
namespace Image {
class Op;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

/// What the images handed to TrackFeatures show, and so in which pixels the matches come back.
enum class MatchTypeEnum : int {
    /// Each input is its rig camera's own image; matches are in camera pixels.
    Camera = 1,
    /// Each input is its camera's footage projected into the rig's equirectangular panorama
    /// (longitude -180..180 degrees across, latitude -90..90 up, seen from the rig centre, as
    /// SphericalTransform's ideal latlong image); matches are in panorama pixels. A scene point
    /// sits at nearly the same panorama position in every camera, so candidates are looked for
    /// only near a feature's own position, within the parallax the rig diameter allows.
    Latlong = 2,
};

/// Tuning of TrackFeatures. The defaults are the ones measured on the synthetic footage
/// (libs/vellacam/README.md, "Camera matching").
struct TrackFeaturesOptions {
    /// Where features are found. Whichever it is, features are described by patches laid on
    /// the view sphere (see TrackFeatures), not by the detector's own descriptor.
    enum class Detector { Fast, Orb, Akaze, Sift };
    Detector detector = Detector::Fast;
    /// About the most features kept per camera image.
    int maxFeatures = 8000;
    /// A match needs a descriptor correlation of at least minMatchCorrelation, and 1 - r below
    /// `ratio` times that of the runner-up (Lowe's ratio test on unit descriptors), in both
    /// directions.
    double minMatchCorrelation = 0.7;
    double ratio = 0.8;
    /// Half width of the band around a feature's depth curve in which the other camera's
    /// candidates must lie, as an angle (degrees; in each camera the pixels it spans at the
    /// image centre, at least 3) or, when bandPixels > 0, in pixels. It absorbs what the
    /// rotation correction below leaves of the rig's calibration error.
    double bandDegrees = 0.6;
    double bandPixels = 0.0;
    /// Real rigs are calibrated to a degree or two. A first pass matches a share of the
    /// features (wideFeatures of each camera per pair) within wideBandDegrees of their depth
    /// curves, estimates from those matches the rotation each camera needs (RANSAC per pair,
    /// then least squares over every camera), and the matching proper runs on the corrected
    /// rig. Two fisheyes back to back also get each lens's angle from its axis corrected, from
    /// every arc of their overlap ring that agrees among itself. Off: the rig is taken as exact.
    bool correctRotation = true;
    double wideBandDegrees = 7.0;
    int wideFeatures = 250;
    /// The nearest scene depth considered, metres from the camera. 0: the rig diameter, at least
    /// 0.3 m.
    double minDepth = 0.0;
    /// Sub-pixel refinement: half side of the square patch aligned, in pixels, and the lowest
    /// normalised cross-correlation of the aligned patches for an observation to be kept.
    int patchRadius = 7;
    double minCorrelation = 0.93;
    /// Farthest an observation may move during refinement, pixels. Corners found in two
    /// lenses that see a point at different scales and sharpness (the rims of back-to-back
    /// fisheyes) lie a few pixels apart although the patches agree.
    double maxShift = 5.0;
};

/// Figures of one TrackFeatures call, for benchmarks and diagnostics. Seconds are wall time.
struct TrackFeaturesStats {
    double fetchSeconds = 0.0;
    double detectSeconds = 0.0;
    double matchSeconds = 0.0;
    double refineSeconds = 0.0;
    /// Features detected per camera (0 for a camera without an image).
    std::vector<int> features;
    /// Mutual, distinctive matches per camera pair (a < b) before chaining and refinement.
    std::map<std::pair<int, int>, int> pairMatches;
    /// Cameras left out: without an input (-1) or without a usable image.
    std::vector<int> missingCameras;
    /// Seconds of the wide pass and the rotation estimate.
    double correctSeconds = 0.0;
    /// The rotation correction applied to each camera (rig frame, put before its
    /// camera-to-world rotation; the identity without one), and the matches of the wide pass
    /// that agreed with it.
    std::vector<Eigen::Matrix3d> corrections;
    int correctionMatches = 0;
    /// The factor the correction put on each camera's angle from its optical axis (its focal
    /// length divided by it; 1 without one): only two fisheyes back to back get one.
    std::vector<double> lensFactors;
};

/// The name messages give camera `c` of `rig`: its view, else "cam" and its number (also for
/// an index the rig does not have).
std::string CameraName(const CameraRigDefinition& rig, int c);
/// The names of `cameras` for a message, comma-separated; past `named` of them only the first
/// `named` and how many more ("cam7, cam8 and 192 more").
std::string CameraList(const CameraRigDefinition& rig,
                       const std::vector<int>& cameras,
                       size_t named = 8);

/// Finds the camera matches of one frame: features seen by two or more overlapping cameras,
/// appended to `track` as FeatureTracks (camera index, position in pixels of that camera's
/// input, bottom-left origin, y up) with a display colour and no 3D point.
///
/// `inputs[c]` is the input of rig camera c (-1: none); its size must equal the rig's camera
/// count. Steps (libs/vellacam/README.md, "Camera matching"): every listed image is fetched and
/// its contrast normalised over the frame; FAST corners (by default) are found where the camera
/// overlaps another, spread so that every overlap gets its share, and described by patches on
/// the view sphere; the pairs of cameras that overlap (the rig's links, or, for a rig that
/// records none, those whose images share at least 1 % of their pixels at the convergence
/// depth) are matched: with `useRigGeometry` (Camera type), a candidate must lie within
/// bandPixels of the curve that the feature's ray draws in the other camera between minDepth
/// and infinity, and the match must pass the ratio test in both directions; pairwise matches
/// are chained into tracks, a track that would hold two features of one camera is dropped;
/// every observation but the first (lowest camera) is refined to sub-pixel accuracy by
/// aligning its patch, warped by the local mapping the rig predicts, with that of the first,
/// and dropped when the patches do not correlate or it leaves the band.
///
/// A camera without an image contributes nothing; a black or flat image has no features.
/// Cameras whose input is -1 are left out silently (the caller chose so); those whose input
/// gives no usable image are named in one warning to `source` per reason, however many. Only
/// the cameras with images take part after the fetch, so a rig of many cameras with few
/// inputs costs what a rig of those few does. Progress runs 0 to 1 over `progress` (may be null);
/// when it reports an interruption the call returns false at once and `track` is unchanged. Returns
/// false, leaving `track` unchanged, also when `inputs` does not have one entry per camera.
/// OpenCV's worker threads detect and match cameras in parallel; `source` and `progress` are
/// used only on the calling thread.
bool TrackFeatures(FeatureImageSource& source,
                   ProgressReporter* progress,
                   CameraTrack& track,
                   const CameraRigDefinition& rig,
                   MatchTypeEnum matchType,
                   bool useRigGeometry,
                   int frame,
                   const std::vector<int>& inputs,
                   const TrackFeaturesOptions& options = TrackFeaturesOptions(),
                   TrackFeaturesStats* stats = nullptr);

/// The same for the inputs of host operator `op` (MakeOpImageSource), with progress and
/// cancellation through the host (CreateProgressReporter). A camera with a crop window reads
/// that window of its input (CameraWindowSource), so cameras may share one input.
bool TrackFeatures(PX::Image::Op* op,
                   CameraTrack& track,
                   const CameraRigDefinition& rig,
                   MatchTypeEnum matchType,
                   bool useRigGeometry,
                   int frame,
                   const std::vector<int>& inputs);

}  // namespace Research
}  // namespace Korvane
