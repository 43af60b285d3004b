// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <QPointer>
#include <QVariant>

#include "constraints/ConstraintPoint.h"
#include "constraints/ConstraintTrackSet.h"
#include "px/image/Knob.h"
#include "px/image/MetaKeyFrameKnob.h"

namespace Korvane {
namespace Research {

class ConstraintItem;
class TreeModel;
class TreeView;

/// The store of the node's line constraints (script name `constraints`). The constraints live
/// in the panel's item model (TreeModel), which the knob owns and creates on first use; the
/// panel (TreeView) comes and goes with the node's panel, and the knob holds it through a
/// guarded pointer, so a closed panel reads as "nothing selected". Every operation that
/// depends on the selection sees none without an open panel.
///
/// Saved text, numbers in the stream's format, every line ended by a newline:
///
///       version 2
///       total <N> visible <0|1>
///       name <name> colour <r> <g> <b> size <S> strength <s> sampling <s> life <start> <end>
///           visible <0|1> selected <0|1>                   (one line, N times)
///         <view - 1> <K> <x> <y> <frame> ...               (S lines, views ascending)
///
/// with two blanks before each header and four before each track line, every value of a track
/// line followed by a blank, blanks in names written as '_'. With `quote`, a line holding only
/// '"' comes first and a '"' closes the text. Version 1 has no "selected" field.
///
/// Loading is one undo step. It refuses (false, no changed()) malformed text, a version other
/// than 1 or 2, negative or oversized counts (kMaxConstraints, kMaxTracks, kMaxKeys), views
/// outside 1..kMaxViews and colour components beyond the range of a float; the rows read before the
/// failure stay, and the error names the knob and says so; text after the announced total is
/// such a failure too. A knob that failed so saves a last line "incomplete", which a later load
/// reads whole but reports as an error (an undo or redo restores it quietly); removing every
/// constraint or reading a whole text clears it. An empty text removes every constraint. The
/// selection of the panel is restored by row after a load.
///
/// The lock guards the panel's reading of the selection against the executable's writes.
class ConstraintsKnob : public PX::Image::Knob, public PX::Image::MetaKeyFrameDelegate {
public:
    static constexpr int kMaxConstraints = 1 << 16;
    static constexpr int kMaxTracks = 1 << 16;
    static constexpr int kMaxKeys = 1 << 20;
    static constexpr int kMaxViews = 1024;

    ConstraintsKnob(PX::Image::Node* node, const std::string& name);
    ~ConstraintsKnob() override;

    const char* Class() const override { return "ConstraintsKnob"; }
    QWidget* make_widget(const PX::Image::WidgetContext& context) override;
    void reset_to_default() override {}
    bool isValueKnob() const override { return true; }
    bool not_default() const override { return true; }
    /// Constraints do not enter the render hash through the knob (see hashText).
    void append(PX::Image::Hash&, const PX::Image::OutputContext*) const override {}
    /// Every key frame of every point track of the selected constraints.
    int get_key_list(std::set<int>& keys) const override;
    bool keyframesDisplayed() const override { return true; }
    bool from_script(const char* text) override;
    bool to_script(std::ostream& os,
                   const PX::Image::OutputContext* context,
                   bool quote) const override;

    /// The model, created when missing.
    TreeModel* model();
    /// The open panel, null when closed.
    TreeView* view() const;
    void setView(TreeView* view);
    std::recursive_mutex& lock() const { return m_lock; }
    /// True while from_script runs: the panel then leaves change reports to the load, which
    /// makes one at its end, and none when it fails.
    bool loading() const { return m_loading; }

    /// Appends constraint "constraint_<row>" with a colour from its name, Strength 4, Sampling
    /// 20, life [start, end], no tracks, and makes it the panel's current, only selected row.
    /// False without an open panel.
    bool addConstraint(int start, int end);
    /// addConstraint over the user's frame, rounded (halves away from zero).
    bool addConstraintAtCurrentFrame();
    void removeAllConstraints();

    int constraintCount() const;
    /// The row exists and both its own and the top item's visible flags are on.
    bool isConstraintEnabled(int row) const;
    /// Start <= frame <= End.
    bool isConstraintAlive(int row, int frame) const;
    double constraintStrength(int row) const;
    double constraintSampling(int row) const;
    int constraintStart(int row) const;
    int constraintEnd(int row) const;
    std::array<double, 3> constraintColour(int row) const;
    int trackCount(int row) const;

    /// The row's tracks, for reading and replacing; null when the row does not exist. A caller
    /// that replaces them calls refreshViews(row) after.
    ConstraintTrackSet* trackSet(int row);
    const ConstraintTrackSet* trackSet(int row) const;
    void refreshViews(int row);

    /// Appends one point per point track of `row` at `frame` (views ascending, list order);
    /// false when the row does not exist.
    bool constraintPointsAtFrame(int frame, int row, std::vector<ConstraintPoint>& points) const;
    /// Stores the key frame -> (x, y) on point k of `row`, widening the row's life to the frame.
    bool setKey(int frame, int row, int k, double x, double y);
    /// The earliest key of point k; false when the point does not exist or has no key.
    bool firstKey(int row, int k, int* frame, int* view, double* x, double* y) const;
    /// Every frame with a key on a point track of `row`.
    std::set<int> keyFrames(int row) const;

    /// The rows passing the filters, ascending; returns their count.
    int collectRows(bool visibleOnly, bool selectedOnly, std::set<int>& rows) const;
    bool hasSelectedConstraints() const;
    bool isRowSelected(int row) const;

    // The panel's selection; all do nothing (or answer -1) without an open panel.
    void clearSelection();
    void selectRow(int row, bool exclusive);
    int currentRow() const;
    void selectAllRows();
    /// The panel's "Merge" and "Delete" on the selected rows.
    void mergeSelectedRows();
    void removeSelectedRows();

    /// Writes a value into one column of every selected row, as the panel's editor would (one
    /// undo step, then changed()); nothing without a selection. Strength and Sampling take a
    /// float, Start and End an int.
    void setSelectedStrength(float strength);
    void setSelectedSampling(float sampling);
    void setSelectedColour(double r, double g, double b);
    void setSelectedLife(int start, int end);
    /// Every frame with a key on any point track of any constraint.
    std::set<int> allKeyFrames() const;

    // The keys of the selected constraints, for the panel's key row ("Keys"). Adding a key at
    // a frame keys every point of the selected rows where the point lies at that frame;
    // deleting removes those frames' keys. Each edit is one undo step; nothing without a
    // selection.
    std::vector<float> getKeys() const override;
    void addKey(float frame) override;
    void deleteKeys(const std::vector<float>& frames) override;

    /// Appends the unquoted saved text, with its terminating zero, to `hash`.
    void hashText(PX::Image::Hash& hash) const;

private:
    void writeText(std::ostream& os) const;
    ConstraintItem* item(int row) const;
    /// Column `column` of `row`; invalid when the row does not exist.
    QVariant value(int row, int column) const;
    /// Sets the given columns of every selected row in one undo step; false when none is.
    bool writeSelected(const std::vector<std::pair<int, QVariant>>& columns);

    std::unique_ptr<TreeModel> m_model;
    // Guarded: the view may be closed (deleted) by the host at any time.
    QPointer<QObject> m_viewGuard;
    TreeView* m_view = nullptr;
    mutable std::recursive_mutex m_lock;
    bool m_loading = false;
    bool m_incomplete = false;  // a read failed part-way; cleared when all are removed
};

}  // namespace Research
}  // namespace Korvane
