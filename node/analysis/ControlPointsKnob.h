// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "external/RigLibrary.h"
#include "px/image/Knob.h"

namespace Korvane {
namespace Research {

/// The store of camera matches (script name `controlPoints`): one CameraTrack per analysis key
/// frame, owned by the knob. Matching fills it; the warp solver and the viewer read it.
///
/// Saved text, in the stream's number format, each line ended by a newline:
///
///     version 2
///     frames <N>
///     Frame <frame> tracks <T>                      N blocks, frames ascending
///       <F> <camera> <x> <y> ... <user> <r> <g> <b> <rmse> <X> <Y> <Z>
///
/// one match line per track: F observations (0-based camera, pixel position), the user flag as
/// 1 or 0, the colour, then the 3D point, or "-1 0 0 0 " when the point is not valid; every value
/// is followed by a blank. With `quote`, a line holding only '"' comes first and a '"' last.
/// Version 1 texts carry only the observations; their matches keep the record defaults.
/// Two blocks of the same frame add their matches to one record.
///
/// Reading refuses, besides malformed text and any version but 1 and 2: negative counts, more
/// than kMaxFrames frames, kMaxTracks matches in a block, kMaxObservations observations in a
/// match, and cameras outside 0..kMaxCameras-1. A refused header (version, frames) leaves the
/// store as it was; later failures keep what was read so far (the records were deleted first),
/// say in the error what was kept, set the node's `isMatched` to what is held, and bring no
/// changed(). Text after the declared blocks is an error of the same kind. A store that
/// failed to read is incomplete: its text ends with a line "incomplete", which a later load
/// reads whole but reports as an error, so that a saved partial store never passes for a
/// whole one; clearing the store, or reading a whole one, makes it complete again. A text of
/// only whitespace empties the store.
///
/// The hash is the number of matches of each frame, in frame order, not their content.
class ControlPointsKnob : public PX::Image::Knob {
public:
    static constexpr int kMaxFrames = 1 << 20;
    static constexpr int kMaxTracks = 1 << 20;
    static constexpr int kMaxObservations = 1024;
    static constexpr int kMaxCameras = 1024;

    ControlPointsKnob(PX::Image::Node* node, const std::string& name);
    ~ControlPointsKnob() override;

    const char* Class() const override { return "ControlPointsKnob"; }
    void reset_to_default() override {}
    bool isValueKnob() const override { return true; }
    bool not_default() const override { return true; }
    void append(PX::Image::Hash& hash, const PX::Image::OutputContext* context) const override;
    bool from_script(const char* text) override;
    bool to_script(std::ostream& os,
                   const PX::Image::OutputContext* context,
                   bool quote) const override;

    /// The matches of `frame`, created empty when missing. The record lives until the store is
    /// cleared or read. Code that edits it brackets the edit with add_to_undo() and
    /// stop_add_to_undo() on this knob and calls changed() after, so that the edit is one undo
    /// step (call add_to_undo() before this, which may create the record).
    CameraTrack& cameraTrackAt(int frame);
    /// The matches of `frame`, null when there are none.
    const CameraTrack* findCameraTrack(int frame) const;
    /// Deletes every record, as one undo step.
    void clearCameraTracks();
    int frameCount() const { return int(m_tracks.size()); }
    /// True when some record holds a match.
    bool hasMatches() const;
    /// The mean over records of each record's mean RMS error; a record without matches counts
    /// as 0, an empty store gives 0.
    double matchError() const;
    /// The frames that have a record (empty ones included), ascending.
    std::vector<int> frames() const;

    /// True after a read that failed part-way (see the class comment).
    bool incomplete() const { return m_incomplete; }

private:
    bool fail(const std::string& why);
    /// fail() after the records were cleared: marks the store incomplete and says what it
    /// keeps.
    bool failKeeping(const std::string& why);
    /// The node's `isMatched` to what the store holds.
    void followState();

    std::map<int, std::unique_ptr<CameraTrack>> m_tracks;
    bool m_incomplete = false;
};

}  // namespace Research
}  // namespace Korvane
