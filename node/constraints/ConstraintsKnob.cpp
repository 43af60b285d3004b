// SPDX-License-Identifier: Apache-2.0
#include "constraints/ConstraintsKnob.h"

#include <cmath>
#include <limits>
#include <ostream>
#include <sstream>

#include <QItemSelectionModel>
#include <QVector3D>

#include "common/TextTokens.h"
#include "constraints/TreeModel.h"
#include "constraints/TreeView.h"
#include "px/image/Colour.h"
#include "px/image/Hash.h"

namespace Korvane {
namespace Research {

namespace {

// The undo step of a load closes on every way out of it.
class UndoStep {
public:
    explicit UndoStep(PX::Image::Knob& knob) : m_knob(knob) { m_knob.add_to_undo(); }
    ~UndoStep() { m_knob.stop_add_to_undo(); }
    UndoStep(const UndoStep&) = delete;
    UndoStep& operator=(const UndoStep&) = delete;

private:
    PX::Image::Knob& m_knob;
};

int roundFrame(double frame) { return int(std::round(frame)); }  // halves away from zero

std::array<double, 3> colourOfName(const std::string& name) {
    PX::Image::Hash hash;
    hash.append(name.c_str(), name.size() + 1);
    double hue = double(hash.value()) / 18446744073709551616.0;  // 2^64
    if (hue >= 1.0) hue = 0.0;  // the top few values round up to 2^64 in a double
    const std::array<float, 3> rgb = PX::Image::HSVtoRGB(float(hue), 0.75f, 0.95f);
    return {rgb[0], rgb[1], rgb[2]};
}

}  // namespace

ConstraintsKnob::ConstraintsKnob(PX::Image::Node* node, const std::string& name)
    : Knob(node, name, "Lines") {}

ConstraintsKnob::~ConstraintsKnob() {
    // The panel may outlive the knob for a moment; it must not call back into it.
    if (TreeView* open = view()) {
        open->setKnob(nullptr);
        open->setModel(nullptr);  // the model dies with the knob
    }
}

TreeModel* ConstraintsKnob::model() {
    if (!m_model) m_model = std::make_unique<TreeModel>();
    return m_model.get();
}

void ConstraintsKnob::setView(TreeView* view) {
    m_view = view;
    m_viewGuard = view;
}

TreeView* ConstraintsKnob::view() const { return m_viewGuard ? m_view : nullptr; }

QWidget* ConstraintsKnob::make_widget(const PX::Image::WidgetContext& context) {
    auto* view = new TreeView(this, context.parent);
    setView(view);
    return view;
}

ConstraintItem* ConstraintsKnob::item(int row) const {
    return m_model ? m_model->constraint(row) : nullptr;
}

// --- adding and removing -------------------------------------------------------------------

bool ConstraintsKnob::addConstraint(int start, int end) {
    if (!view() || !m_model) return false;
    const int row = m_model->constraintCount();
    if (!m_model->insertRows(row, 1, m_model->topIndex())) return false;
    const std::string name = "constraint_" + std::to_string(row);
    const std::array<double, 3> rgb = colourOfName(name);
    ConstraintItem* it = m_model->constraint(row);
    it->setData(TreeModel::Name, QString::fromStdString(name));
    it->setData(TreeModel::Visible, true);
    it->setData(TreeModel::Colour, QVector3D(float(rgb[0]), float(rgb[1]), float(rgb[2])));
    it->setData(TreeModel::Views, QString());
    it->setData(TreeModel::Strength, 4.0f);
    it->setData(TreeModel::Sampling, 20.0f);
    it->setData(TreeModel::Start, start);
    it->setData(TreeModel::End, end);
    Q_EMIT m_model->dataChanged(m_model->constraintIndex(row, 0),
                                m_model->constraintIndex(row, TreeModel::ColumnCount - 1));
    selectRow(row, true);
    changed();
    return true;
}

bool ConstraintsKnob::addConstraintAtCurrentFrame() {
    const int frame = roundFrame(uiContext().frame());
    return addConstraint(frame, frame);
}

void ConstraintsKnob::removeAllConstraints() {
    m_incomplete = false;
    if (m_model && m_model->constraintCount() > 0)
        m_model->removeRows(0, m_model->constraintCount(), m_model->topIndex());
}

// --- queries -------------------------------------------------------------------------------

int ConstraintsKnob::constraintCount() const { return m_model ? m_model->constraintCount() : 0; }

bool ConstraintsKnob::isConstraintEnabled(int row) const {
    const ConstraintItem* it = item(row);
    return it && it->data(TreeModel::Visible).toBool() &&
           m_model->top()->data(TreeModel::Visible).toBool();
}

bool ConstraintsKnob::isConstraintAlive(int row, int frame) const {
    return item(row) && constraintStart(row) <= frame && frame <= constraintEnd(row);
}

QVariant ConstraintsKnob::value(int row, int column) const {
    const ConstraintItem* it = item(row);
    return it ? it->data(column) : QVariant();  // an invalid variant reads as 0
}

double ConstraintsKnob::constraintStrength(int row) const {
    return value(row, TreeModel::Strength).toDouble();
}

double ConstraintsKnob::constraintSampling(int row) const {
    return value(row, TreeModel::Sampling).toDouble();
}

int ConstraintsKnob::constraintStart(int row) const { return value(row, TreeModel::Start).toInt(); }

int ConstraintsKnob::constraintEnd(int row) const { return value(row, TreeModel::End).toInt(); }

std::array<double, 3> ConstraintsKnob::constraintColour(int row) const {
    const ConstraintItem* it = item(row);
    if (!it) return {0, 0, 0};
    const QVector3D c = it->data(TreeModel::Colour).value<QVector3D>();
    return {c.x(), c.y(), c.z()};
}

int ConstraintsKnob::trackCount(int row) const {
    const ConstraintItem* it = item(row);
    return it ? it->tracks().size() : 0;
}

ConstraintTrackSet* ConstraintsKnob::trackSet(int row) {
    ConstraintItem* it = item(row);
    return it ? &it->tracks() : nullptr;
}

const ConstraintTrackSet* ConstraintsKnob::trackSet(int row) const {
    const ConstraintItem* it = item(row);
    return it ? &it->tracks() : nullptr;
}

void ConstraintsKnob::refreshViews(int row) {
    if (m_model) m_model->refreshViewsText(row);
}

bool ConstraintsKnob::constraintPointsAtFrame(int frame,
                                              int row,
                                              std::vector<ConstraintPoint>& points) const {
    const ConstraintItem* it = item(row);
    if (!it) return false;
    for (const auto& [view, tracks] : it->tracks().views())
        for (const PointTrack& track : tracks) {
            ConstraintPoint p;
            p.view = view;
            if (positionAtFrame(track, frame, view, &p.x, &p.y)) points.push_back(p);
        }
    return true;
}

bool ConstraintsKnob::setKey(int frame, int row, int k, double x, double y) {
    ConstraintItem* it = item(row);
    int view = 0;
    PointTrack* track = it ? it->tracks().point(k, &view) : nullptr;
    if (!track) return false;
    track->setKey(SLIB::Context(frame, view), SLIB::Feature(x, y));
    if (frame < constraintStart(row)) it->setData(TreeModel::Start, frame);
    if (frame > constraintEnd(row)) it->setData(TreeModel::End, frame);
    Q_EMIT m_model->dataChanged(m_model->constraintIndex(row, TreeModel::Start),
                                m_model->constraintIndex(row, TreeModel::End));
    m_model->refreshViewsText(row);
    return true;
}

bool ConstraintsKnob::firstKey(int row, int k, int* frame, int* view, double* x, double* y) const {
    const ConstraintItem* it = item(row);
    const PointTrack* track = it ? it->tracks().point(k) : nullptr;
    if (!track || track->empty()) return false;
    const auto& first = *track->keys().begin();
    *frame = first.first.frame;
    *view = first.first.view;
    *x = first.second.x;
    *y = first.second.y;
    return true;
}

std::set<int> ConstraintsKnob::keyFrames(int row) const {
    std::set<int> frames;
    if (const ConstraintItem* it = item(row))
        for (const auto& [view, tracks] : it->tracks().views())
            for (const PointTrack& track : tracks)
                for (const auto& key : track.keys()) frames.insert(key.first.frame);
    return frames;
}

int ConstraintsKnob::get_key_list(std::set<int>& keys) const {
    std::set<int> rows;
    collectRows(false, true, rows);
    for (int row : rows) keys.merge(keyFrames(row));
    return int(keys.size());
}

// --- selection -----------------------------------------------------------------------------

bool ConstraintsKnob::isRowSelected(int row) const {
    if (!view() || !m_model || !view()->selectionModel() || !item(row)) return false;
    return view()->selectionModel()->isSelected(m_model->constraintIndex(row));
}

int ConstraintsKnob::collectRows(bool visibleOnly, bool selectedOnly, std::set<int>& rows) const {
    int count = 0;
    for (int row = 0; row < constraintCount(); ++row) {
        if (visibleOnly && !isConstraintEnabled(row)) continue;
        if (selectedOnly && !isRowSelected(row)) continue;
        rows.insert(row);
        ++count;
    }
    return count;
}

bool ConstraintsKnob::hasSelectedConstraints() const {
    std::set<int> rows;
    return collectRows(false, true, rows) > 0;
}

void ConstraintsKnob::clearSelection() {
    if (view() && view()->selectionModel()) view()->selectionModel()->clearSelection();
}

void ConstraintsKnob::selectRow(int row, bool exclusive) {
    if (!view() || !m_model || !view()->selectionModel() || !item(row)) return;
    // Not Current: that flag would replace the rows selected before instead of adding to them.
    QItemSelectionModel::SelectionFlags how =
        QItemSelectionModel::Select | QItemSelectionModel::Rows;
    if (exclusive) how |= QItemSelectionModel::Clear;
    view()->selectionModel()->setCurrentIndex(m_model->constraintIndex(row), how);
}

int ConstraintsKnob::currentRow() const {
    if (!view() || !m_model || !view()->selectionModel()) return -1;
    return m_model->constraintRow(view()->selectionModel()->currentIndex());
}

void ConstraintsKnob::selectAllRows() {
    for (int row = 0; row < constraintCount(); ++row) selectRow(row, row == 0);
}

void ConstraintsKnob::mergeSelectedRows() {
    if (view()) view()->mergeSelectedRows();
}

void ConstraintsKnob::removeSelectedRows() {
    if (view()) view()->removeSelectedRows();
}

bool ConstraintsKnob::writeSelected(const std::vector<std::pair<int, QVariant>>& columns) {
    std::set<int> rows;
    if (!m_model || collectRows(false, true, rows) == 0) return false;
    add_to_undo();
    for (int row : rows)
        for (const auto& [column, value] : columns)
            m_model->setData(m_model->index(row, column, m_model->topIndex()), value, Qt::EditRole);
    stop_add_to_undo();
    changed();
    return true;
}

void ConstraintsKnob::setSelectedStrength(float strength) {
    writeSelected({{TreeModel::Strength, strength}});
}

void ConstraintsKnob::setSelectedSampling(float sampling) {
    writeSelected({{TreeModel::Sampling, sampling}});
}

void ConstraintsKnob::setSelectedColour(double r, double g, double b) {
    writeSelected({{TreeModel::Colour, QVector3D(float(r), float(g), float(b))}});
}

void ConstraintsKnob::setSelectedLife(int start, int end) {
    writeSelected({{TreeModel::Start, start}, {TreeModel::End, end}});
}

std::set<int> ConstraintsKnob::allKeyFrames() const {
    std::set<int> frames;
    for (int row = 0; row < constraintCount(); ++row) {
        const std::set<int> keys = keyFrames(row);
        frames.insert(keys.begin(), keys.end());
    }
    return frames;
}

std::vector<float> ConstraintsKnob::getKeys() const {
    std::set<int> frames;
    get_key_list(frames);
    return std::vector<float>(frames.begin(), frames.end());
}

void ConstraintsKnob::addKey(float frame) {
    const int f = int(std::lround(frame));
    std::set<int> rows;
    if (collectRows(false, true, rows) == 0) return;
    add_to_undo();
    for (int row : rows) {
        ConstraintItem* it = item(row);
        for (auto& [view, tracks] : it->tracks().views())
            for (PointTrack& track : tracks) {
                double x, y;
                if (positionAtFrame(track, f, view, &x, &y))
                    track.setKey(SLIB::Context(f, view), SLIB::Feature(x, y));
            }
        if (f < constraintStart(row)) it->setData(TreeModel::Start, f);
        if (f > constraintEnd(row)) it->setData(TreeModel::End, f);
        refreshViews(row);
    }
    stop_add_to_undo();
    changed();
}

void ConstraintsKnob::deleteKeys(const std::vector<float>& frames) {
    std::set<int> rows;
    if (collectRows(false, true, rows) == 0) return;
    add_to_undo();
    for (int row : rows) {
        for (auto& [view, tracks] : item(row)->tracks().views())
            for (PointTrack& track : tracks)
                for (float frame : frames)
                    track.keys().erase(SLIB::Context(int(std::lround(frame)), view));
        refreshViews(row);
    }
    stop_add_to_undo();
    changed();
}

// --- saved text ----------------------------------------------------------------------------

void ConstraintsKnob::writeText(std::ostream& os) const {
    const int total = constraintCount();
    const bool allVisible = !m_model || m_model->top()->data(TreeModel::Visible).toBool();
    os << "  version 2\n  total " << total << " visible " << (allVisible ? 1 : 0) << '\n';
    for (int row = 0; row < total; ++row) {
        const ConstraintItem* it = item(row);
        std::string name = it->data(TreeModel::Name).toString().toStdString();
        for (char& c : name)
            if (c == ' ') c = '_';
        const std::array<double, 3> rgb = constraintColour(row);
        os << "  name " << name << " colour " << rgb[0] << ' ' << rgb[1] << ' ' << rgb[2]
           << " size " << it->tracks().size() << " strength " << constraintStrength(row)
           << " sampling " << constraintSampling(row) << " life " << constraintStart(row) << ' '
           << constraintEnd(row) << " visible " << (it->data(TreeModel::Visible).toBool() ? 1 : 0)
           << " selected " << (isRowSelected(row) ? 1 : 0) << " \n";
        for (const auto& [view, tracks] : it->tracks().views())
            for (const PointTrack& track : tracks) {
                os << "    " << view - 1 << ' ' << track.size() << ' ';
                for (const auto& [context, feature] : track.keys())
                    os << feature.x << ' ' << feature.y << ' ' << context.frame << ' ';
                os << '\n';
            }
    }
    if (m_incomplete) os << "  " << kIncompleteMark << '\n';
}

bool ConstraintsKnob::to_script(std::ostream& os,
                                const PX::Image::OutputContext*,
                                bool quote) const {
    if (quote) os << "\"\n";
    writeText(os);
    if (quote) os << '"';
    return true;
}

void ConstraintsKnob::hashText(PX::Image::Hash& hash) const {
    std::ostringstream os;
    writeText(os);
    const std::string text = os.str();
    hash.append(text.c_str(), text.size() + 1);
}

bool ConstraintsKnob::from_script(const char* text) {
    UndoStep step(*this);
    struct Loading {
        bool& flag;
        explicit Loading(bool& f) : flag(f) { flag = true; }
        ~Loading() { flag = false; }
    } loading(m_loading);
    TextTokens in(text ? text : "");
    if (in.atEnd()) {
        removeAllConstraints();
        changed();
        return true;
    }
    int version = 0, total = 0, allVisible = 0;
    if (!in.expect("version") || !in.integer(version) || (version != 1 && version != 2)) {
        setError("knob '" + name() + "': expected \"version 1\" or \"version 2\"");
        return false;
    }
    if (!in.expect("total") || !in.integer(total) || total < 0 || total > kMaxConstraints ||
        !in.expect("visible") || !in.integer(allVisible)) {
        setError("knob '" + name() +
                 "': expected \"total <count> visible <0|1>\", count from 0 to " +
                 std::to_string(kMaxConstraints));
        return false;
    }

    std::set<int> selected;
    collectRows(false, true, selected);
    const int current = currentRow();
    TreeModel* m = model();
    removeAllConstraints();
    m->top()->setData(TreeModel::Visible, allVisible != 0);
    // Both cells of the top item: the panel reports a change of one cell as a user's edit, and
    // a load reports its own change only once it succeeded.
    Q_EMIT m->dataChanged(m->topIndex(TreeModel::Name), m->topIndex(TreeModel::Visible));

    auto restoreSelection = [&] {
        for (int row : selected)
            if (row < constraintCount()) selectRow(row, false);
        if (current >= 0 && current < constraintCount() && view() && view()->selectionModel())
            view()->selectionModel()->setCurrentIndex(m->constraintIndex(current),
                                                      QItemSelectionModel::NoUpdate);
    };
    auto fail = [&](int n, const std::string& why) {
        m_incomplete = true;
        setError("knob '" + name() + "': constraint " + std::to_string(n + 1) + ": " + why +
                 "; the knob keeps the " + std::to_string(m->constraintCount()) +
                 " constraint(s) read, the last perhaps in part, and a save marks it " +
                 kIncompleteMark);
        if (m->constraintCount() > 0) m->refreshViewsText(m->constraintCount() - 1);
        restoreSelection();
        return false;
    };

    for (int n = 0; n < total; ++n) {
        std::string name;
        double r = 0, g = 0, b = 0, strength = 0, sampling = 0;
        int size = 0, start = 0, end = 0, visible = 0, isSelected = 0;
        if (!in.expect("name") || !in.word(name) || !in.expect("colour") || !in.number(r) ||
            !in.number(g) || !in.number(b) || !in.expect("size") || !in.integer(size) || size < 0 ||
            size > kMaxTracks || !in.expect("strength") || !in.number(strength) ||
            !in.expect("sampling") || !in.number(sampling) || !in.expect("life") ||
            !in.integer(start) || !in.integer(end) || !in.expect("visible") ||
            !in.integer(visible) ||
            (version == 2 && (!in.expect("selected") || !in.integer(isSelected))))
            return fail(n,
                        "malformed header (name, colour, size up to " + std::to_string(kMaxTracks) +
                            ", strength, sampling, life, visible" +
                            (version == 2 ? ", selected)" : ")"));
        // The colour is kept in floats; a component beyond their range would save as "inf".
        for (double c : {r, g, b})
            if (std::abs(c) > double(std::numeric_limits<float>::max()))
                return fail(n, "colour component " + std::to_string(c) + " out of range");
        const int row = m->constraintCount();
        m->insertRows(row, 1, m->topIndex());
        ConstraintItem* it = m->constraint(row);
        it->setData(TreeModel::Name, QString::fromStdString(name));
        it->setData(TreeModel::Visible, visible != 0);
        it->setData(TreeModel::Colour, QVector3D(float(r), float(g), float(b)));
        it->setData(TreeModel::Strength, strength);
        it->setData(TreeModel::Sampling, sampling);
        it->setData(TreeModel::Start, start);
        it->setData(TreeModel::End, end);
        for (int t = 0; t < size; ++t) {
            int viewIndex = 0, keys = 0;
            if (!in.integer(viewIndex) || viewIndex < 0 || viewIndex >= kMaxViews ||
                !in.integer(keys) || keys < 0 || keys > kMaxKeys)
                return fail(n,
                            "track " + std::to_string(t + 1) + ": expected a view from 0 to " +
                                std::to_string(kMaxViews - 1) + " and a key count up to " +
                                std::to_string(kMaxKeys));
            PointTrack track;
            for (int k = 0; k < keys; ++k) {
                double x = 0, y = 0;
                int frame = 0;
                if (!in.number(x) || !in.number(y) || !in.integer(frame))
                    return fail(n, "track " + std::to_string(t + 1) + ": expected \"x y frame\"");
                track.setKey(SLIB::Context(frame, viewIndex + 1), SLIB::Feature(x, y));
            }
            it->tracks().views()[viewIndex + 1].push_back(std::move(track));
        }
        m->refreshViewsText(row);
        Q_EMIT m->dataChanged(m->constraintIndex(row, 0),
                              m->constraintIndex(row, TreeModel::ColumnCount - 1));
    }
    const StoreTail tail = readStoreTail(in);
    if (tail == StoreTail::Extra)
        return fail(
            total,
            "the total says " + std::to_string(total) + " constraint(s) but more text follows");
    // Saved after a failed read: some constraints may be missing (as the analysis stores).
    m_incomplete = tail == StoreTail::IncompleteMark;
    restoreSelection();
    changed();
    if (m_incomplete && !doingUndoRedo()) {
        setError("knob '" + name() +
                 "': saved from an incomplete read: some constraints may be "
                 "missing; the knob keeps the " +
                 std::to_string(total) + " it holds");
        return false;
    }
    return true;
}

}  // namespace Research
}  // namespace Korvane
