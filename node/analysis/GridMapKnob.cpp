// SPDX-License-Identifier: Apache-2.0
#include "analysis/GridMapKnob.h"

#include <mutex>

#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>
#include <sstream>

#include "common/TextTokens.h"
#include "px/image/Node.h"

namespace Korvane {
namespace Research {

namespace {

// The grid part of the saved text; the hash texts are exactly this. Built in a string and
// written at once: a stream's per-call overhead is most of the cost of 40 MB of text.
void writeGrid(std::ostream& os, const Grid2D& grid, bool defaultFormat) {
    std::string text =
        "  " + std::to_string(grid.width) + ' ' + std::to_string(grid.height) + "\n  ";
    text.reserve(grid.points.size() * 24 + 16);
    int column = 0;
    for (const Eigen::Vector2d& p : grid.points) {
        appendNumber(text, os, defaultFormat, p.x());
        text += ' ';
        appendNumber(text, os, defaultFormat, p.y());
        text += ' ';
        if (++column == grid.width) {
            text += "\n  ";
            column = 0;
        }
    }
    os.write(text.data(), std::streamsize(text.size()));
}

void appendGrid(PX::Image::Hash& hash, const Grid2D& grid) {
    std::ostringstream text;
    writeGrid(text, grid, true);
    const std::string s = text.str();
    hash.append(s.c_str(), s.size() + 1);  // with its terminating zero
}

}  // namespace

std::string DepthText(double metres) {
    char text[32];
    std::snprintf(text, sizeof text, "%g m", metres);
    return text;
}

bool DepthsDiffer(double solved, double depth) { return std::abs(depth - solved) > 1e-3 * solved; }

GridMapKnob::GridMapKnob(PX::Image::Node* node, const std::string& name) : Knob(node, name, "") {}

bool GridMapKnob::sizeAllowed(int width, int height) {
    return width >= 1 && height >= 1 && width <= kMaxGridSide && height <= kMaxGridSide &&
           long(width) * long(height) <= kMaxGridVertices;
}

void GridMapKnob::append(PX::Image::Hash& hash, const PX::Image::OutputContext* context) const {
    if (!context) return;
    const double frame = std::round(context->frame());  // halves away from zero
    if (!(std::abs(frame) <= double(std::numeric_limits<int>::max()))) return;
    const auto it = m_grids.find(SLIB::Context(int(frame), context->view()));
    if (it != m_grids.end()) appendGrid(hash, it->second);
}

void GridMapKnob::hashAll(PX::Image::Hash& hash) const {
    // Every validation of the node asks for this; with hundreds of keys the grid texts take
    // a good part of a second, so the value is kept until the store changes.
    std::lock_guard<std::mutex> lock(m_hashMutex);
    if (!m_hashValid) {
        PX::Image::Hash all;
        for (const auto& entry : m_grids) appendGrid(all, entry.second);
        m_hashAll = all;
        m_hashValid = true;
    }
    hash.append(m_hashAll);
}

void GridMapKnob::storeChanged() {
    std::lock_guard<std::mutex> lock(m_hashMutex);
    m_hashValid = false;
}

bool GridMapKnob::to_script(std::ostream& os, const PX::Image::OutputContext*, bool quote) const {
    if (quote) os << "\"\n";
    if (!m_grids.empty() || m_incomplete) {
        const bool defaultFormat = hasDefaultNumberFormat(os);
        os << "  version 1\n  total " << m_grids.size();
        if (std::isfinite(m_solvedDepth)) os << "\n  depth " << m_solvedDepth;
        for (const auto& entry : m_grids) {
            os << "\n  frame " << entry.first.frame << " camera " << entry.first.view - 1 << '\n';
            writeGrid(os, entry.second, defaultFormat);
        }
        if (m_incomplete) os << (m_grids.empty() ? "\n" : "") << "  " << kIncompleteMark << '\n';
    }
    if (quote) os << '"';
    return true;
}

bool GridMapKnob::fail(const std::string& why) {
    setError("knob '" + name() + "': " + why);
    return false;
}

bool GridMapKnob::failKeeping(const std::string& why) {
    m_incomplete = true;
    followState();
    return fail(why + "; the store keeps the " + std::to_string(m_grids.size()) +
                " grid(s) read before, and a save marks it " + kIncompleteMark);
}

void GridMapKnob::followState() {
    if (PX::Image::Knob* state = node() ? node()->knob("isWarped") : nullptr)
        state->from_script(m_grids.empty() ? "false" : "true");
}

bool GridMapKnob::from_script(const char* text) {
    storeChanged();
    TextTokens in(text ? text : "");
    if (in.atEnd()) {
        m_grids.clear();
        m_frames.clear();
        m_solvedDepth = kUnknownDepth;
        changed();
        return true;
    }
    int version = 0, count = 0;
    if (!in.expect("version") || !in.integer(version) || version != 1)
        return fail("expected \"version 1\"");
    if (!in.expect("total") || !in.integer(count)) return fail("expected \"total\" and a count");
    if (count > kMaxGrids) return fail("more than " + std::to_string(kMaxGrids) + " grids");
    double depth = kUnknownDepth;
    TextTokens probe = in;  // the depth line is optional: older texts go on with a frame
    if (probe.expect("depth")) {
        in = probe;
        if (!in.number(depth) || !(depth > 0.0))
            return fail("expected \"depth\" and a positive convergence depth in metres");
    }

    m_solvedDepth = depth;
    m_grids.clear();
    m_frames.clear();
    for (int n = 0; n < count; ++n) {
        const std::string entry = "entry " + std::to_string(n + 1) + ": ";
        int frame = 0, camera = 0, width = 0, height = 0;
        if (!in.expect("frame") || !in.integer(frame) || !in.expect("camera") ||
            !in.integer(camera))
            return failKeeping(entry + "expected \"frame <frame> camera <camera>\"");
        if (camera < 0 || camera >= kMaxCameras)
            return failKeeping(entry + "camera " + std::to_string(camera) + " outside 0 to " +
                               std::to_string(kMaxCameras - 1));
        const SLIB::Context key(frame, camera + 1);
        if (m_grids.count(key))
            return failKeeping(entry + "a second grid for frame " + std::to_string(frame) +
                               " camera " + std::to_string(camera));
        if (!in.integer(width) || !in.integer(height))
            return failKeeping(entry + "expected a grid size");
        if (!sizeAllowed(width, height))
            return failKeeping(entry + "grid size " + std::to_string(width) + " x " +
                               std::to_string(height) + " outside the limits");
        Grid2D grid(width, height);
        for (Eigen::Vector2d& p : grid.points)
            if (!in.number(p.x()) || !in.number(p.y())) break;
        if (in.failed()) return failKeeping(entry + "missing or unreadable grid point");
        m_grids.emplace(key, std::move(grid));
        m_frames.insert(frame);
    }
    const StoreTail tail = readStoreTail(in);
    if (tail == StoreTail::Extra)
        return failKeeping("the total says " + std::to_string(count) +
                           " grid(s) but more text follows");
    m_incomplete = tail == StoreTail::IncompleteMark;  // as ControlPointsKnob
    if (m_incomplete) followState();
    changed();
    return !m_incomplete || doingUndoRedo() ||
           fail(
               "saved from an incomplete read: grids of some keys may be missing; the store "
               "keeps the " +
               std::to_string(m_grids.size()) + " grid(s) it holds; Warp again to complete it");
}

std::shared_ptr<Grid2D> GridMapKnob::getGrid(int frame, int view) const {
    const auto it = m_grids.find(SLIB::Context(frame, view));
    return it == m_grids.end() ? nullptr : std::make_shared<Grid2D>(it->second);
}

bool GridMapKnob::setGrid(int frame, int view, const Grid2D& grid) {
    storeChanged();
    if (!sizeAllowed(grid.width, grid.height) ||
        grid.points.size() != size_t(grid.width) * size_t(grid.height) || view < 1 ||
        view > kMaxCameras)
        return false;
    add_to_undo();
    m_grids[SLIB::Context(frame, view)] = grid;
    m_frames.insert(frame);
    stop_add_to_undo();
    changed();
    return true;
}

bool GridMapKnob::setSolvedDepth(double depth) {
    if (!(depth > 0.0) || !std::isfinite(depth)) return false;
    add_to_undo();
    m_solvedDepth = depth;
    stop_add_to_undo();
    changed();
    return true;
}

void GridMapKnob::clear() {
    storeChanged();
    add_to_undo();
    m_grids.clear();
    m_frames.clear();
    m_solvedDepth = kUnknownDepth;
    m_incomplete = false;
    stop_add_to_undo();
    changed();
}

int GridMapKnob::previousKey(int frame) const {
    auto it = m_frames.upper_bound(frame);
    return it == m_frames.begin() ? -1 : *--it;
}

int GridMapKnob::nextKey(int frame) const {
    const auto it = m_frames.lower_bound(frame);
    return it == m_frames.end() ? -1 : *it;
}

}  // namespace Research
}  // namespace Korvane
