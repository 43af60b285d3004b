// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "constraints/TriangulationLeastSquaresFunction.h"
#include "constraints/WarpConstraint.h"
#include "external/ComputeFramework.h"
#include "external/RigLibrary.h"
#include "px/image/Format.h"

namespace PX {
namespace Image {
class Op;
}
}  // namespace PX

namespace Korvane {
namespace Research {

class ConstraintTracker;
class ControlPointsKnob;
class KnobManager;
class RigContext;

/// The work behind the node's executable part. The host runs an execution on its main thread:
/// begin(), then execute() for every frame that skipFrame() keeps, then end(). What a frame
/// does depends on `executeType`: 0 or 1 camera matching, 2 the warp solve, 3 constraint
/// tracking; any other value is the node error "Invalid execute type %d.".
class AnalysisExecutor {
public:
    explicit AnalysisExecutor(PX::Image::Op* node);
    ~AnalysisExecutor();
    AnalysisExecutor(AnalysisExecutor&&) noexcept;
    AnalysisExecutor& operator=(AnalysisExecutor&&) noexcept;
    void attach(RigContext* rig, KnobManager* knobs);

    /// `device` renders; `cpu` is the fallback.
    void begin(ComputeContext device, ComputeContext cpu);
    void execute(double frame);
    void end();
    /// `frame` is taken to the nearest whole frame, halves away from zero. Types 0 to 2 keep
    /// analysis keys only; type 3 the frames the constraint tracker wants (a due constraint
    /// with a key there or at the step frame before). Unattached: skip all.
    bool skipFrame(double frame) const;
    bool executing() const { return m_executing; }

    static int roundFrame(double frame);

    /// Camera matching at the host's current frame (nearest whole frame): with `executeType` 0
    /// ("Match") the frame's matches are replaced by freshly found ones, with 1 ("Match New")
    /// only a frame without matches is matched. Inputs are the camera views' (in latlong rigs,
    /// camera images projected into the panorama, whose matches are moved into camera pixels);
    /// every match's 3D point is then refined by triangulateMatch. One undo step. False, with
    /// the store as it was, when the node is not attached, the rig's camera count differs from
    /// the number of camera views, or the user cancelled; true otherwise, also for a frame
    /// left alone.
    bool matchFrame();

    /// The line-constraint samples of camera view `view` at `frame`, as warp constraints that
    /// pull them onto their fitted great circles, filed under `frame` in `out`. `transforms`:
    /// the rig's cameras at the convergence depth when the caller has them already.
    void gatherWarpConstraints(int frame,
                               int view,
                               WarpConstraintSink& out,
                               const std::vector<SphericalTransform>* transforms = nullptr) const;

    /// The warp solve at the host's current frame F (nearest whole frame, halves away from
    /// zero): for every camera view, one GridWarpSolver system over the analysis keys whose key
    /// index lies within `temporalWindow` of F's (camera matches and line constraints of each
    /// key, smoothness, consistency), and its grid at F stored in `gridMap`, all in one undo
    /// step with the convergence depth it solved at. A view whose solve fails keeps what the store
    /// had for it. Progress is reported per view; a cancel is honoured only after every view of F
    /// is done: the grids stored stay, `changed` is not called and the result is false. Also false,
    /// with nothing stored, without the node, its knobs, rig, grid store or an input image, or when
    /// the window is empty. Reads the stored knob values.
    bool warpFrame();

    /// A camera pair needs this many matches at a frame (that can pull the warp: a target and
    /// an RMS error within `warpThreshold`) for the warp to use them; fewer are left out, with a
    /// warning naming the pair, the frame and the count (node/analysis/README.md has the
    /// figures).
    static constexpr int kMinPairMatches = 20;
    /// Another threshold, for tests of the solve itself on a handful of matches.
    void setMinPairMatches(int count) { m_minPairMatches = count; }

    /// The camera matches of `frame` seen by camera view `view`, as warp constraints filed
    /// under `frame` in `out`: for each match whose triangulated point P is valid, whose RMS
    /// error is at most `warpThreshold` and which has a feature of the view's camera (the first
    /// one is the observed position o), the target t is where the direction of P, seen from the
    /// rig centre, meets the convergence sphere in this camera (the mean of every observing
    /// camera's ideal latlong position of P at depth |P|, brought back through this camera at
    /// `convergenceDepth`). The constraint has position t, displacement o - t and weight
    /// (`userMatchStrength` for user matches, else `matchStrength`) times the kernel factor of
    /// r = RMS / `warpThreshold`: None 1, Linear 1 - r, Gaussian exp(-5 r^2). False when the
    /// node parts are missing, `view` is no camera of the rig or there is no match store;
    /// reading never creates a record in the store.
    bool gatherMatchConstraints(int frame, int view, WarpConstraintSink& out) const;

private:
    struct MatchTargets;
    bool gatherMatchConstraints(int frame,
                                int view,
                                MatchTargets& targets,
                                WarpConstraintSink& out) const;
    /// The full-size format of the cameras' images: that of the first camera in `inputs`
    /// whose input has an image, or, when that camera reads a crop window of a shared input,
    /// the window's size (the camera's format); the empty format when no input has an image.
    PX::Image::Format inputFormat(const std::vector<int>& inputs) const;
    /// The node input of each rig camera, by camera index; -1 where no camera view carries it
    /// or the camera is left out of the execution (leaveOutCamerasWithoutImage).
    std::vector<int> cameraInputs() const;
    /// At the first frame of a Match or Warp: the cameras whose input has no image there are
    /// left out of the whole execution, with one warning. A rig file may name many more
    /// cameras than the footage has views; asking every missing one for an image at every key
    /// would cost time and a message each time.
    void leaveOutCamerasWithoutImage(int frame);
    /// The cameras taking part in the execution (with an input, not left out) that overlap
    /// none of the others taking part, as matching pairs them; they get no matches and no warp.
    std::vector<int> camerasOverlappingNone() const;
    /// At the first frame of a Match or Warp: one warning naming those cameras.
    void warnOfCamerasOverlappingNone();
    /// The rig's transforms at `depth` and the error scale of footage `format` wide.
    static TriangulationContext triangulationContext(const CameraRigDefinition& rig,
                                                     const PX::Image::Format& format,
                                                     double depth);
    /// Counts the matches of each pair at every frame of `window`, warns about the pairs of
    /// `frame` with fewer than kMinPairMatches, and, when no pair of `frame` has enough, makes
    /// it a node error that suggests Refine Rig and returns false.
    bool guardPairs(int frame, const std::set<int>& window, MatchTargets& targets);
    /// Every stored match triangulated again with the current rig (one undo step), and the
    /// match error recomputed.
    void refineStoredMatches();
    /// Whether some analysis key has camera matches or some enabled line constraint has
    /// points: without either a Warp has nothing to pull the grids with.
    bool hasWarpInput() const;
    /// At the end of a Warp that solved at another depth than the grids before it: one
    /// warning naming the keys whose older grids stay, solved at the old depth.
    void warnOfOlderGrids() const;

    PX::Image::Op* m_node;
    RigContext* m_rig = nullptr;
    KnobManager* m_knobs = nullptr;
    ComputeContext m_device;
    ComputeContext m_cpu;
    bool m_executing = false;
    /// Cameras left out of the running Match or Warp, once the first frame has been probed.
    std::optional<std::set<int>> m_leftOut;
    /// Constraint tracking state, from the begin to the end of an execution of type 3.
    std::unique_ptr<ConstraintTracker> m_tracker;
    int m_minPairMatches = kMinPairMatches;
    /// The running Warp: the store's solve depth when it began and the frames it solved.
    double m_depthBeforeWarp = 0.0;
    std::set<int> m_warpedFrames;
    /// The running Warp was refused at its begin: its frames do nothing.
    bool m_nothingToWarp = false;
};

}  // namespace Research
}  // namespace Korvane
