// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include "constraints/WarpConstraint.h"
#include "external/ComputeFramework.h"
#include "px/image/Format.h"

namespace PX {
namespace Image {
class Op;
}
}  // namespace PX

namespace Korvane {
namespace Research {

class ControlPointsKnob;
class KnobManager;
class RigContext;

/// The work behind the node's executable part. The host runs an execution on its main thread:
/// begin(), then execute() for every frame that skipFrame() keeps, then end(). What a frame
/// does depends on `executeType`: 0 or 1 camera matching, 2 the warp solve, 3 constraint
/// tracking; any other value is the node error "Invalid execute type %d.".
class AnalysisExecutor {
public:
    explicit AnalysisExecutor(PX::Image::Op* node) : m_node(node) {}
    void attach(RigContext* rig, KnobManager* knobs);

    /// `device` renders; `cpu` is the fallback.
    void begin(ComputeContext device, ComputeContext cpu);
    void execute(double frame);
    void end();
    /// `frame` is taken to the nearest whole frame, halves away from zero. Types 0 to 2 keep
    /// analysis keys only; type 3 keeps frames with constraint keys. Unattached: skip all.
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
    /// The store's match error: the mean over its records of each record's mean RMSE; a record
    /// without matches counts as 0; no records give 0.
    static double matchError(const ControlPointsKnob& store);

    /// The line-constraint samples of camera view `view` at `frame`, as warp constraints that
    /// pull them onto their fitted great circles, filed under `frame` in `out`.
    void gatherWarpConstraints(int frame, int view, WarpConstraintSink& out) const;

private:
    /// After a matching run: the store reports its change, `isMatched` and `matchError` follow.
    void finishMatching();
    /// The full-size format of the source's camera views (the first of `inputs` that has an
    /// image); the empty format when none has.
    PX::Image::Format inputFormat(const std::vector<int>& inputs) const;

    PX::Image::Op* m_node;
    RigContext* m_rig = nullptr;
    KnobManager* m_knobs = nullptr;
    ComputeContext m_device;
    ComputeContext m_cpu;
    bool m_executing = false;
};

}  // namespace Research
}  // namespace Korvane
