// SPDX-License-Identifier: Apache-2.0
// The convergence depth a warp was solved at: kept with the grids, saved, undone with them,
// and the node's word when it renders at another depth.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../TestHost.h"
#include "../TestRigSource.h"
#include "analysis/ControlPointsKnob.h"
#include "analysis/GridMapKnob.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Executable.h"
#include "px/image/Node.h"
#include "px/image/StringKnob.h"
#include "px/image/UndoStack.h"

using namespace PX::Image;
using namespace Korvane::Research;

namespace {

const char* const kGridText =
    "  version 1\n  total 1\n  frame 3 camera 1\n  2 1\n  0.5 -1 0 0 \n  ";
const char* const kGridTextAt5m =
    "  version 1\n  total 1\n  depth 5\n  frame 3 camera 1\n  2 1\n  0.5 -1 0 0 \n  ";

std::string scriptText(const GridMapKnob& knob) {
    std::ostringstream os;
    knob.to_script(os, nullptr, false);
    return os.str();
}

struct DepthFixture : NodeTests::RigFixture {
    DepthFixture() : RigFixture({"main", "cam1", "cam2", "cam3"}, 3) {
        sourceOp()->width = 320;
        sourceOp()->height = 240;
        sourceOp()->setRig(3, 0.0, 4.0);
    }
    GridMapKnob& grids() const { return *op()->knobManager().gridMap(); }
    TextKnob& warning() const { return *dynamic_cast<TextKnob*>(node->knob("warning")); }
    /// Validates `view` as the host does before each render, pre-validation first.
    void validate(const char* view) {
        const OutputContext c(1, Views::find(view));
        node->setUIContext(c);
        ASSERT_EQ(op()->doPreValidate(), Op::kPreValidateGoOn);
        op()->setOutputContext(c);
        node->storeKnobs(c);
        op()->invalidate();
        op()->validate();
    }
    /// A warp as Warp leaves it: one grid, its depth and the warped state.
    void storeWarp(double depth) {
        UndoStack::instance().begin("warp");
        grids().add_to_undo();
        Grid2D grid(2, 2);
        grid.points[1] = {1.5, 0.0};
        grids().setGrid(1, Views::find("cam2"), grid);
        grids().setSolvedDepth(depth);
        grids().stop_add_to_undo();
        UndoStack::instance().end();
        op()->knobManager().setIsWarped(true);
    }
};

TEST(SolveDepthText, SavedWithTheGridsAndReadBackOldTextsWithoutIt) {
    GridMapKnob knob(nullptr, "gridMap");
    ASSERT_TRUE(knob.from_script(kGridTextAt5m)) << knob.error();
    EXPECT_EQ(knob.solvedDepth(), 5.0);
    EXPECT_EQ(scriptText(knob), kGridTextAt5m);

    // A text saved before the depth was kept: the grids read, the depth is unknown.
    ASSERT_TRUE(knob.from_script(kGridText)) << knob.error();
    EXPECT_EQ(knob.gridCount(), 1);
    EXPECT_TRUE(std::isnan(knob.solvedDepth()));
    EXPECT_EQ(scriptText(knob), kGridText);

    // Fractions survive the stream's six digits; an empty store has no depth to keep.
    ASSERT_TRUE(knob.setSolvedDepth(4.25));
    ASSERT_TRUE(knob.from_script(scriptText(knob).c_str()));
    EXPECT_EQ(knob.solvedDepth(), 4.25);
    knob.clear();
    EXPECT_TRUE(std::isnan(knob.solvedDepth()));
    EXPECT_EQ(scriptText(knob), "");
    EXPECT_FALSE(knob.setSolvedDepth(0.0));
    EXPECT_FALSE(knob.setSolvedDepth(std::nan("")));
}

TEST(SolveDepthText, ABadDepthIsRefusedAndTheStoreStaysAsItWas) {
    GridMapKnob knob(nullptr, "gridMap");
    ASSERT_TRUE(knob.from_script(kGridTextAt5m));
    for (const char* depth : {"-2", "0", "nan", "far", ""}) {
        const std::string text =
            std::string("version 1 total 1 depth ") + depth + " frame 4 camera 0 1 1 0 0";
        EXPECT_FALSE(knob.from_script(text.c_str())) << depth;
        EXPECT_NE(knob.error().find("depth"), std::string::npos) << knob.error();
        EXPECT_EQ(knob.solvedDepth(), 5.0) << depth;
        EXPECT_TRUE(knob.getGrid(3, 2)) << depth;
        EXPECT_FALSE(knob.incomplete()) << depth;
    }
}

TEST(SolveDepthWarning, ShownWhileConvergeDiffersAndGoneWhenSetBackOrUndone) {
    NodeTests::TestHost host;
    DepthFixture f;
    f.node->setKnobFromUser("autoConvergenceDepth", "false");
    f.node->setKnobFromUser("convergenceDepth", "5");
    UndoStack::instance().clear();
    f.storeWarp(5.0);
    f.op()->knob_changed(Knob::showPanel);
    EXPECT_FALSE(f.warning().visible());

    // Within a thousandth of the depth the grids still hold.
    f.node->setKnobFromUser("convergenceDepth", "5.004");
    EXPECT_FALSE(f.warning().visible());

    f.node->setKnobFromUser("convergenceDepth", "10");
    ASSERT_TRUE(f.warning().visible());
    const std::string message = f.warning().text();
    EXPECT_NE(message.find("solved at a convergence depth of 5 m"), std::string::npos) << message;
    EXPECT_NE(message.find("Converge is now 10 m"), std::string::npos) << message;
    EXPECT_NE(message.find("Run Warp again, or set Converge back to 5 m."), std::string::npos)
        << message;
    // Opening the panel or switching the editing mode keeps it while the fault stays.
    f.op()->knob_changed(Knob::showPanel);
    EXPECT_TRUE(f.warning().visible());
    f.node->setKnobFromUser("interactionMode", "0");
    EXPECT_TRUE(f.warning().visible());

    f.node->setKnobFromUser("convergenceDepth", "5");
    EXPECT_FALSE(f.warning().visible());

    // Undo brings the 10 m back and the warning with it; undoing the warp itself ends it.
    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_TRUE(f.warning().visible());
    while (f.grids().gridCount() > 0) ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_TRUE(std::isnan(f.grids().solvedDepth()));
    EXPECT_FALSE(f.warning().visible());
    ASSERT_TRUE(UndoStack::instance().redo());
    EXPECT_EQ(f.grids().solvedDepth(), 5.0);
}

TEST(SolveDepthWarning, AutoTakesTheRigsDepthAndAResetForgetsTheSolveDepth) {
    NodeTests::TestHost host;
    DepthFixture f;
    f.storeWarp(10.0);  // solved before Auto followed the rig's 4 m
    f.validate("main");
    ASSERT_FLOAT_EQ(f.op()->knobManager().convergenceDepth(), 4.0f);
    const std::string message = f.warning().text();
    EXPECT_TRUE(f.warning().visible());
    EXPECT_NE(message.find("Converge is now 4 m (Auto follows the rig)"), std::string::npos)
        << message;
    EXPECT_NE(message.find("turn Auto off and set Converge back to 10 m"), std::string::npos)
        << message;

    // A reset forgets the grids and their depth.
    host.answers = {true};
    f.node->pressKnob("reset");
    EXPECT_EQ(f.grids().gridCount(), 0);
    EXPECT_TRUE(std::isnan(f.grids().solvedDepth()));
    EXPECT_FALSE(f.warning().visible());
}

TEST(SolveDepthWarning, AWarpedRenderWarnsTheHostOncePerChange) {
    NodeTests::TestHost host;
    DepthFixture f;
    f.node->setKnobFromUser("autoConvergenceDepth", "false");
    f.node->setKnobFromUser("convergenceDepth", "5");
    f.storeWarp(5.0);
    f.node->setKnobFromUser("outputMode", "Warped");
    f.node->setKnobFromUser("cameraOutputMode", "Unwarped");
    auto depthWarnings = [&host] {
        std::vector<std::string> found;
        for (const std::string& w : host.progressMessages)
            if (w.find("solved at a convergence depth") != std::string::npos) found.push_back(w);
        return found;
    };

    f.node->setKnobFromUser("convergenceDepth", "8");
    f.validate("cam1");  // Unwarped camera view: nothing to warn about
    EXPECT_TRUE(depthWarnings().empty());
    f.validate("main");
    f.validate("main");
    ASSERT_EQ(depthWarnings().size(), 1u);
    EXPECT_EQ(depthWarnings()[0].rfind("Warning: The warp was solved", 0), 0u);
    EXPECT_FALSE(f.op()->hasError()) << f.op()->errorMessage();

    f.node->setKnobFromUser("convergenceDepth", "9");
    f.validate("main");
    EXPECT_EQ(depthWarnings().size(), 2u);

    // Set back and changed again: the same depths are news again.
    f.node->setKnobFromUser("convergenceDepth", "5");
    f.validate("main");
    f.node->setKnobFromUser("convergenceDepth", "9");
    f.node->setKnobFromUser("cameraOutputMode", "Warped");
    f.validate("cam2");
    EXPECT_EQ(depthWarnings().size(), 3u);
}

TEST(SolveDepthWarp, WarpRecordsItsDepthAndNamesTheKeysItLeftAtAnother) {
    NodeTests::TestHost host;
    DepthFixture f;
    f.node->setKnobFromUser("autoConvergenceDepth", "false");
    f.node->setKnobFromUser("convergenceDepth", "6");
    f.validate("cam1");
    auto* keys = static_cast<ArrayKnob*>(f.node->knob("analysisKeyframe"));
    keys->setKeyAt(1);
    keys->setKeyAt(2);
    // A match for Warp to start from (one without features pulls no grid).
    f.op()->knobManager().controlPoints()->cameraTrackAt(1).getTracks().emplace_back();
    f.node->setKnobFromUser("executeType", "2");
    UndoStack::instance().clear();

    ExecuteResult r = execute(f.op(), {1, 2});
    ASSERT_TRUE(r.error.empty()) << r.error;
    EXPECT_EQ(f.grids().solvedDepth(), 6.0);
    EXPECT_EQ(f.grids().frames(), (std::set<int>{1, 2}));

    // Warp of every key at a new depth: no word about older grids.
    f.node->setKnobFromUser("convergenceDepth", "7");
    r = execute(f.op(), {1, 2});
    ASSERT_TRUE(r.error.empty()) << r.error;
    EXPECT_EQ(f.grids().solvedDepth(), 7.0);
    for (const std::string& w : host.progressMessages)
        EXPECT_EQ(w.find("are kept"), std::string::npos) << w;
    EXPECT_FALSE(f.warning().visible());

    // One key again at 3 m: the other one's grids were solved at 7 m and say so.
    f.node->setKnobFromUser("convergenceDepth", "3");
    r = execute(f.op(), {2});
    ASSERT_TRUE(r.error.empty()) << r.error;
    EXPECT_EQ(f.grids().solvedDepth(), 3.0);
    ASSERT_FALSE(host.progressMessages.empty());
    EXPECT_EQ(host.progressMessages.back(),
              "Warning: Warp solved at 3 m, but the grids of frame 1 were solved at 7 m and are "
              "kept. Warp every key again to render them at one depth.");

    // Undo of that Warp: the 7 m come back with the grids.
    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_EQ(f.grids().solvedDepth(), 7.0);
}

}  // namespace
