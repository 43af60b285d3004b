// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "external/RigLibrary.h"
#include "external/VisionLibrary.h"
#include "px/image/Format.h"

namespace PX {
namespace Image {
class Op;
}
}  // namespace PX

namespace Korvane {
namespace Research {

class ConstraintsKnob;
class KnobManager;
class RigContext;

/// Constraint tracking, for the length of one execution of type 3: the points of the chosen
/// constraints follow the image content forward, from each constraint's Start to its End,
/// every "Step" frames, one frame per trackFrame().
///
/// A frame f tracks the rows that are due at it (Start <= f <= End, f - Start a multiple of the
/// step s) and whose points have keys at p = f - s: every point with a key exactly at p is
/// followed from the image of its view at p to the image at f, and where the tracker keeps it
/// and it lies inside the input format, the point gets a key at f. A lost point gets no key and,
/// with no key at f, is not followed at f + s either. Positions are the views' full-size input
/// pixels (bottom-left origin); they are brought into the proxy pixels of the fetched images
/// and back, and, for a rig of latlong cameras (whose inputs hold each camera's footage in the
/// panorama while its points stay in the pixels of the fisheye behind it), through the
/// camera's latlong image at the convergence depth.
///
/// Images are fetched as Rec. 709 luminance, once per (frame, view), and dropped once no later
/// frame can need them (frames up to f - s after frame f); the tracker keeps the pyramid of each
/// image in the same way. Everything goes with the object.
class ConstraintTracker {
public:
    ConstraintTracker(PX::Image::Op* node, RigContext* rig, KnobManager* knobs);
    ~ConstraintTracker();

    /// Start of an execution: the rows to track are the enabled (own and top visible flag) and
    /// selected constraints; the tracker gets the input format, "Patch Size", no detection, and
    /// the acceptance value 1 - 2 x "Error Threshold". `format` is the rig's full-size input
    /// format. Reads the live knob values.
    void start(const PX::Image::Format& format);

    /// The frame filter: true when some tracked row is due at `frame` and has a key at it (its
    /// start) or at the step frame before it, with the live "Step". The keys the execution
    /// writes count, so the frames of a track are kept one after the other.
    bool wantsFrame(int frame) const;

    /// Tracks the user's current frame (nearest whole frame) with the stored knob values, in
    /// one undo step on the constraints knob. False, with nothing written, when the step is
    /// below 1 or no rows are tracked, "Patch Size" is below 3 (node error "Patch Size %d is too
    /// small to track: it must be at least %d."), a view's input is missing, an image cannot be
    /// read (node error "Cannot read view %d at frame %d!"), or the user cancelled before the first
    /// view; false after the views done so far when the tracker fails on a view (node error
    /// "Tracking failure for view %d at frame %d!") or the user cancels between views. True
    /// otherwise, also when nothing was due.
    bool trackFrame();

    const std::set<int>& rows() const { return m_rows; }
    const SLIB::FeatureTracking::FeatureTracker& tracker() const { return m_tracker; }
    int cachedImages() const { return int(m_images.size()); }

private:
    /// The row and the point index of a tracker track.
    struct Tag {
        int row = 0;
        int k = 0;
    };
    /// Fetches the image of `view` at `frame` into the cache. False when the view has no input
    /// (quietly) or its image cannot be read (with the node error).
    bool cacheImage(int frame, int view);
    /// Full-size input pixels to the pixels of the fetched image of `view`, and back; false
    /// where the latlong conversion has no answer.
    bool toImage(int view, double* x, double* y) const;
    bool fromImage(int view, double* x, double* y) const;
    const SphericalTransform* latlongCamera(int view) const;
    /// True when `row` is due at `frame` for step `step`.
    bool isDue(int row, int frame, int step) const;

    PX::Image::Op* m_node;
    RigContext* m_rig;
    KnobManager* m_knobs;
    std::set<int> m_rows;
    SLIB::FeatureTracking::FeatureTracker m_tracker;
    std::map<SLIB::Context, SLIB::FeatureTracking::TrackingImage> m_images;
    PX::Image::Format m_format;
    /// By host view, the camera through which points of a latlong rig are converted; empty for
    /// other rigs.
    std::map<int, SphericalTransform> m_latlong;
};

}  // namespace Research
}  // namespace Korvane
