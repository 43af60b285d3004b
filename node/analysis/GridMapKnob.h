// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "analysis/Grid2D.h"
#include "external/VisionLibrary.h"
#include "px/image/Knob.h"

namespace Korvane {
namespace Research {

/// A convergence depth as messages write it: "5 m", "4.5 m", "12.3457 m".
std::string DepthText(double metres);

/// Whether grids solved at convergence depth `solved` are off when rendered at `depth`: the
/// two differ by more than a thousandth of `solved`. Never true while `solved` is unknown (NaN).
bool DepthsDiffer(double solved, double depth);

/// The store of solved warp grids (script name `gridMap`): one Grid2D per (analysis key frame,
/// camera view), where the view is the host's view number of the camera, camera index + 1. It is
/// saved with the host script, enters the node's hash and answers the renderer's queries.
///
/// Saved text (version 1), written in the stream's number format (hash texts use a fresh
/// stream: six significant digits); cameras are written 0-based:
///
///       version 1
///       total <entries>
///       depth <metres>           when the depth the grids were solved at is known
///       frame <frame> camera <view - 1>
///       <width> <height>
///       <x> <y> <x> <y> ...      one line of `width` points per grid row, each "x y "
///
/// every line indented by two spaces, and after each grid a line holding only the indent. An
/// empty store writes nothing. Texts saved before the depth line existed read with the depth
/// unknown. With `quote`, a '"' and a newline come first and a '"' last.
///
/// Reading refuses, besides malformed text: more than kMaxGrids entries, a side outside
/// 1..kMaxGridSide, more than kMaxGridVertices vertices, a camera outside 0..kMaxCameras-1. A
/// refused header (version, total, depth) leaves the store as it was; a failure after it leaves the
/// entries read before the failing one (the store was cleared first), says so, sets the
/// node's `isWarped` to what is held, and brings no changed(). Text after the declared entries
/// is such a failure too. The store is then incomplete, and its text ends with a line
/// "incomplete" that a later load reads whole but reports as an error (as ControlPointsKnob
/// does); clear() or a whole read makes it complete again.
///
/// Writers (setGrid, clear) open an undo step on this knob around their write, so a caller that
/// opens one around several writes makes one action one undo step; each completed write calls
/// changed(). Main thread only, like every knob.
class GridMapKnob : public PX::Image::Knob {
public:
    static constexpr int kMaxGridSide = 4096;
    static constexpr int kMaxGridVertices = 1 << 20;
    static constexpr int kMaxGrids = 1 << 20;
    static constexpr int kMaxCameras = 1024;

    GridMapKnob(PX::Image::Node* node, const std::string& name);

    const char* Class() const override { return "GridMapKnob"; }
    void reset_to_default() override {}
    bool isValueKnob() const override { return true; }
    bool not_default() const override { return true; }
    /// The text of the grid at the context's frame (nearest whole frame, halves away from zero)
    /// and view, with its terminating zero; nothing when there is no such grid.
    void append(PX::Image::Hash& hash, const PX::Image::OutputContext* context) const override;
    bool from_script(const char* text) override;
    bool to_script(std::ostream& os,
                   const PX::Image::OutputContext* context,
                   bool quote) const override;

    /// Appends every grid's text in key order, as append() does for one.
    void hashAll(PX::Image::Hash& hash) const;

    /// A copy of the grid at (frame, view); null when there is none.
    std::shared_ptr<Grid2D> getGrid(int frame, int view) const;
    /// Inserts or replaces the grid at (frame, view). False, and nothing changes, when the grid
    /// could not be read back: a side or vertex count beyond the limits, a point count other
    /// than width x height, or a view outside 1..kMaxCameras.
    bool setGrid(int frame, int view, const Grid2D& grid);
    /// Forgets every grid and the solve depth.
    void clear();
    /// The convergence depth (metres) the stored grids were solved at: NaN when the store is
    /// empty or its text did not say.
    double solvedDepth() const { return m_grids.empty() ? kUnknownDepth : m_solvedDepth; }
    /// Records the depth the grids were solved at, in an undo step of its own like setGrid.
    /// False, and nothing changes, for a depth that is not finite and positive.
    bool setSolvedDepth(double depth);
    int gridCount() const { return int(m_grids.size()); }
    /// The frames holding grids.
    const std::set<int>& frames() const { return m_frames; }
    /// The largest frame holding grids that is <= frame, -1 when none.
    int previousKey(int frame) const;
    /// The smallest frame holding grids that is >= frame, -1 when none.
    int nextKey(int frame) const;

    static bool sizeAllowed(int width, int height);

    bool incomplete() const { return m_incomplete; }

private:
    bool fail(const std::string& why);
    bool failKeeping(const std::string& why);
    /// The node's `isWarped` to what the store holds.
    void followState();

    /// Forgets the kept hash of the whole store; every writer calls it first.
    void storeChanged();

    static constexpr double kUnknownDepth = std::numeric_limits<double>::quiet_NaN();

    std::map<SLIB::Context, Grid2D> m_grids;
    double m_solvedDepth = kUnknownDepth;
    std::set<int> m_frames;
    bool m_incomplete = false;
    mutable std::mutex m_hashMutex;
    mutable bool m_hashValid = false;
    mutable PX::Image::Hash m_hashAll;
};

}  // namespace Research
}  // namespace Korvane
