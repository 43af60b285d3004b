// SPDX-License-Identifier: Apache-2.0
#include "plugin/PanelActions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <set>

#include <Eigen/Geometry>

#include "../QtApplication.h"
#include "../TestHost.h"
#include "../TestRigSource.h"
#include "analysis/ControlPointsKnob.h"
#include "analysis/GridMapKnob.h"
#include "constraints/ConstraintsKnob.h"
#include "constraints/TreeView.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Knob.h"
#include "px/image/MetaKeyFrameKnob.h"
#include "px/image/Node.h"
#include "px/image/OutputContext.h"
#include "px/image/StringKnob.h"
#include "px/image/UndoStack.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/SphericalTransform.h"

using namespace PX::Image;
using namespace Korvane::Research;
using NodeTests::RigFixture;
using NodeTests::TestHost;

namespace {

const char* const kMatchesQuestion =
    "Proceeding will reset the existing camera matches. Are you sure?";
const char* const kWarpQuestion = "Proceeding will reset existing warp. Are you sure?";

// A node of three cameras over frames 1 to 100, with a host that answers questions.
class PanelActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        f.sourceOp()->firstFrame = 1;
        f.sourceOp()->lastFrame = 100;
        op()->rigContext().reloadRig(false);
    }

    DizuvaRuviPlugin* op() const { return f.op(); }
    KnobManager& knobs() const { return op()->knobManager(); }
    Knob* knob(const char* name) const { return f.node->knob(name); }
    double value(const char* name) const {
        return static_cast<ArrayKnob*>(knob(name))->get_value();
    }
    std::vector<int> keys() const {
        std::vector<int> out;
        for (float k : knobs().getKeys()) out.push_back(int(k));
        return out;
    }
    void setKeys(std::initializer_list<int> frames) {
        for (int k : frames) knobs().actions().addKey(k);
    }
    // A match in the store at `frame` with the given error.
    void addMatch(int frame, double rmse) {
        FeatureTrack match;
        match.getFeatures().push_back({0, Feature(Eigen::Vector2d(1, 1))});
        match.setPoint(Point(Eigen::Vector3d(0, 0, 1), rmse));
        knobs().controlPoints()->cameraTrackAt(frame).getTracks().push_back(match);
    }
    int view(const char* name) const { return Views::find(name); }

    TestHost host;
    RigFixture f{{"main", "cam1", "cam2", "cam3"}, 3};
};

TEST_F(PanelActionsTest, KeyAllKeysEveryStepBelowTheLastFrameAndAsksBeforeDroppingMatches) {
    knob("keyStep")->from_script("30");
    f.node->pressKnob("addAllAnalysisKeys");
    EXPECT_EQ(keys(), (std::vector<int>{1, 31, 61, 91}));
    EXPECT_TRUE(host.questions.empty());  // nothing matched yet: no question

    // Matched: a no keeps everything, a yes clears keys, matches and the state knobs.
    addMatch(31, 2.0);
    knobs().setIsMatched(true);
    knobs().setMatchError(2.0f);
    host.answers = {false};
    f.node->pressKnob("deleteAllAnalysisKeys");
    EXPECT_EQ(keys(), (std::vector<int>{1, 31, 61, 91}));
    EXPECT_EQ(knobs().controlPoints()->frameCount(), 1);

    host.answers = {true};
    knob("matchNew")->enable(true);
    f.node->pressKnob("deleteAllAnalysisKeys");
    EXPECT_EQ(host.questions, (std::vector<std::string>{kMatchesQuestion, kMatchesQuestion}));
    EXPECT_TRUE(keys().empty());
    EXPECT_EQ(knobs().controlPoints()->frameCount(), 0);
    EXPECT_FALSE(knobs().isMatched());
    EXPECT_EQ(knobs().matchError(), 0.0f);
    EXPECT_FALSE(knob("matchNew")->enabled());

    // Key All replaces the keys: a step landing on the last frame keys nothing there, nor does
    // a range of a single frame.
    f.sourceOp()->lastFrame = 61;
    f.node->pressKnob("addAllAnalysisKeys");
    EXPECT_EQ(keys(), (std::vector<int>{1, 31}));
    f.sourceOp()->lastFrame = 1;
    f.node->pressKnob("addAllAnalysisKeys");
    EXPECT_TRUE(keys().empty());
}

TEST_F(PanelActionsTest, ResetAlwaysAsksAndANoKeepsTheWarp) {
    Grid2D grid(2, 2);
    grid.at(1, 1) = Eigen::Vector2d(3, 4);
    knobs().gridMap()->setGrid(10, view("cam1"), grid);
    knobs().setIsWarped(true);

    host.answers = {false};
    f.node->pressKnob("reset");
    EXPECT_EQ(knobs().gridMap()->gridCount(), 1);
    EXPECT_TRUE(knobs().isWarped());

    host.answers = {true};
    f.node->pressKnob("reset");
    EXPECT_EQ(knobs().gridMap()->gridCount(), 0);

    // Without a warp it still asks; yes leaves the state off.
    host.answers = {true};
    f.node->pressKnob("reset");
    EXPECT_EQ(host.questions.size(), 3u);
    EXPECT_EQ(host.questions.back(), kWarpQuestion);
    EXPECT_FALSE(knobs().isWarped());
    EXPECT_FALSE(knob("reset")->enabled());
}

TEST_F(PanelActionsTest, NextAndPreviousStepThroughTheCameraViewsAndBackToTheMainView) {
    struct Step {
        const char* from;
        const char* button;
        const char* to;
    } steps[] = {
        {"main", "nextView", "cam1"},
        {"main", "previousView", "cam3"},
        {"cam1", "nextView", "cam2"},
        {"cam3", "nextView", "main"},
        {"cam1", "previousView", "main"},
        {"cam2", "previousView", "cam1"},
    };
    for (const Step& s : steps) {
        f.node->setKnobFromUser("outputView", s.from);
        f.node->pressKnob(s.button);
        EXPECT_EQ(knobs().outputView(), view(s.to)) << s.from << " " << s.button;
    }
}

TEST_F(PanelActionsTest, CentringTurnsTheCameraAxisOntoThePanoramaCentreInEveryOrder) {
    const auto* rig = &op()->rigContext().rig();
    for (int order = 0; order < 6; ++order) {
        for (const char* cam : {"cam2", "cam3"}) {
            knob("rotationOrder")->from_script(std::to_string(order).c_str());
            f.node->setKnobFromUser("outputView", cam);
            f.node->pressKnob("centerOutputView");
            const Eigen::Vector3d axis =
                rig->getCamera(view(cam) - view("cam1")).getCameraToWorldRotation() *
                Eigen::Vector3d::UnitZ();
            const auto seen =
                knobs().viewRotationMatrix() * std::array<double, 3>{axis.x(), axis.y(), axis.z()};
            EXPECT_NEAR(seen[0], 0.0, 1e-9) << order << cam;
            EXPECT_NEAR(seen[1], 0.0, 1e-9) << order << cam;
            EXPECT_NEAR(seen[2], 1.0, 1e-9) << order << cam;
        }
    }
    f.node->pressKnob("resetRotation");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(static_cast<ArrayKnob*>(knob("rotationAngles"))->get_value(i), 0.0);
}

// Each row: a knob the user changes, what is set up first, and what must hold after.
TEST_F(PanelActionsTest, KnobChangesFollowTheirTable) {
    struct Row {
        const char* knob;
        std::function<void()> before;
        std::function<void()> check;
    };
    const Row rows[] = {
        {"match",
         [&] { knob("matchNew")->enable(true); },
         [&] { EXPECT_FALSE(knob("matchNew")->enabled()); }},
        {"warp",
         [&] { knob("reset")->enable(false); },
         [&] { EXPECT_TRUE(knob("reset")->enabled()); }},
        {"interactionMode",
         [&] { knob("warning")->show(); },
         [&] { EXPECT_FALSE(knob("warning")->visible()); }},
        {"rectilinearProjection",
         [&] { knob("rectilinearProjection")->from_script("1"); },
         [&] { EXPECT_EQ(int(knobs().viewNavigation().projection()), 0); }},
        {"addConstraintKey",
         [&] { knob("matchNew")->enable(false); },
         [&] {
             EXPECT_EQ(keys(), std::vector<int>{1});  // the input's first frame
             EXPECT_TRUE(knob("matchNew")->enabled());
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.knob);
        row.before();
        f.node->pressKnob(row.knob);
        row.check();
    }
    // The life buttons without a selected row set the knobs, from the viewer's frame.
    const struct {
        const char* button;
        double frame;
        double start, end;
    } ranges[] = {{"constraintFrameRangeToCurrent", 40.5, 1, 41},
                  {"constraintFrameRangeCurrent", 250, 100, 100},
                  {"constraintFrameRangeFromCurrent", 20, 20, 100},
                  {"constraintFrameRangeInput", 20, 1, 100}};
    for (const auto& r : ranges) {
        f.node->setUIContext(OutputContext(r.frame, 0));
        f.node->pressKnob(r.button);
        EXPECT_EQ(value("constraintStartFrame"), r.start) << r.button;
        EXPECT_EQ(value("constraintEndFrame"), r.end) << r.button;
    }
}

TEST_F(PanelActionsTest, EditModeShowsTheUnwarpedImageOfTheViewInTheViewer) {
    f.node->setUIContext(OutputContext(1, view("cam2")));
    knob("addPoint")->from_script("1");
    f.node->pressKnob("addPoint");
    EXPECT_EQ(knobs().cameraOutputMode(), KnobManager::CameraOutputMode::Unwarped);
    EXPECT_EQ(knobs().outputMode(), KnobManager::CameraOutputMode::Warped);

    f.node->setUIContext(OutputContext(1, view("main")));
    f.node->pressKnob("addPoint");
    EXPECT_EQ(knobs().outputMode(), KnobManager::CameraOutputMode::Unwarped);
}

TEST_F(PanelActionsTest, OpeningThePanelKeysTheOutputFrameAndFollowsTheStores) {
    f.node->op()->setOutputContext(OutputContext(140.7, 0));
    op()->knob_changed(Knob::showPanel);
    EXPECT_EQ(keys(), std::vector<int>{100});  // truncated, then limited to the input range

    setKeys({10});
    addMatch(100, 1.0);
    knobs().setIsWarped(true);
    knob("warning")->show();
    op()->knob_changed(Knob::showPanel);
    EXPECT_TRUE(knob("matchNew")->enabled());  // 10 has no matches
    EXPECT_TRUE(knob("reset")->enabled());
    EXPECT_FALSE(knob("warning")->visible());

    addMatch(10, 1.0);
    op()->knob_changed(Knob::showPanel);
    EXPECT_FALSE(knob("matchNew")->enabled());
}

TEST_F(PanelActionsTest, KeyListEditsKeepTheKeysAndMatchNewUpToDate) {
    auto* list = static_cast<MetaKeyFrameKnob*>(knob("metaAnalysisKeys"));
    f.node->setUIContext(OutputContext(30, 0));
    list->addKeyAtCurrentFrame();
    f.node->setUIContext(OutputContext(10, 0));
    list->addKeyAtCurrentFrame();
    EXPECT_EQ(list->keys(), (std::vector<float>{10, 30}));
    EXPECT_EQ(knobs().keyIndex(30), 1);
    EXPECT_EQ(knobs().keyIndex(20), -1);
    std::set<int> shown;
    knob("displayAnalysisKeys")->get_key_list(shown);
    EXPECT_EQ(shown, (std::set<int>{10, 30}));

    addMatch(10, 1.0);
    addMatch(30, 1.0);
    knobs().setIsMatched(true);
    knob("matchNew")->enable(false);
    list->addKeyAtCurrentFrame();  // not a new key
    EXPECT_FALSE(knob("matchNew")->enabled());
    f.node->setUIContext(OutputContext(20, 0));
    list->addKeyAtCurrentFrame();
    EXPECT_TRUE(knob("matchNew")->enabled());
    list->deleteKeys({10, 20});
    EXPECT_FALSE(knob("matchNew")->enabled());  // every key left has matches
    EXPECT_EQ(knob("analysisKeyframe")->toScriptText(), "{curve 30=0}");
}

// isMatched, the editing mode, isWarped and Reset after Match and Warp are the analysis
// end-to-end test's.
TEST_F(PanelActionsTest, AfterAnExecutionTheStateKnobsDescribeTheStores) {
    addMatch(10, 4.0);
    addMatch(10, 0.0);
    knobs().controlPoints()->cameraTrackAt(20);  // a key without matches counts as 0
    knobs().actions().afterExecution(0);
    EXPECT_FLOAT_EQ(knobs().matchError(), 1.0f);

    knobs().gridMap()->setGrid(10, view("cam1"), Grid2D(2, 2));
    f.node->setKnobFromUser("outputView", "cam2");
    knobs().actions().afterExecution(2);
    EXPECT_EQ(knobs().outputView(), view("main"));
    EXPECT_EQ(knobs().outputMode(), KnobManager::CameraOutputMode::Warped);
}

TEST_F(PanelActionsTest, ConstraintButtonsAndKnobsActOnTheSelectedRows) {
    NodeTests::ensureQtApplication();
    auto* constraints = static_cast<ConstraintsKnob*>(knob("constraints"));
    std::unique_ptr<QWidget> panel(constraints->make_widget({}));
    auto setLife = [&](int start, int end) {
        static_cast<ArrayKnob*>(knob("constraintStartFrame"))->set_value(start);
        static_cast<ArrayKnob*>(knob("constraintEndFrame"))->set_value(end);
    };
    for (int row = 0; row < 3; ++row) {
        setLife(10 * row, 10 * row + 5);
        f.node->pressKnob("addConstraint");
    }
    ASSERT_EQ(constraints->constraintCount(), 3);
    EXPECT_EQ(constraints->constraintStart(2), 20);
    EXPECT_EQ(constraints->constraintEnd(2), 25);

    // Opening the panel clears the selection and disables what needs one.
    op()->knob_changed(Knob::showPanel);
    EXPECT_FALSE(constraints->hasSelectedConstraints());
    for (const char* name : {"mergeConstraints", "deleteConstraints", "trackConstraints"})
        EXPECT_FALSE(knob(name)->enabled()) << name;

    constraints->selectRow(0, true);
    constraints->selectRow(2, false);
    f.node->setKnobFromUser("constraintStrength", "7");
    f.node->setKnobFromUser("constraintSampling", "5");
    f.node->setKnobFromUser("constraintColour", "{0.25 0.5 1}");
    EXPECT_EQ(constraints->constraintStrength(0), 7.0);
    EXPECT_EQ(constraints->constraintStrength(1), 4.0);  // not selected
    EXPECT_EQ(constraints->constraintSampling(2), 5.0);
    EXPECT_EQ(constraints->constraintColour(2), (std::array<double, 3>{0.25, 0.5, 1}));
    f.node->setUIContext(OutputContext(12, 0));
    f.node->pressKnob("constraintFrameRangeToCurrent");
    EXPECT_EQ(constraints->constraintStart(0), 1);
    EXPECT_EQ(constraints->constraintEnd(2), 12);
    EXPECT_EQ(constraints->constraintEnd(1), 15);
    ASSERT_TRUE(UndoStack::instance().undo());  // one step per edit
    EXPECT_EQ(constraints->constraintEnd(2), 25);

    f.node->pressKnob("constraints");
    EXPECT_TRUE(knob("mergeConstraints")->enabled());
    f.node->pressKnob("mergeConstraints");
    EXPECT_EQ(constraints->constraintCount(), 2);
    constraints->selectRow(1, true);
    f.node->pressKnob("deleteConstraints");
    EXPECT_EQ(constraints->constraintCount(), 1);
    f.node->pressKnob("selectAllConstraints");
    EXPECT_TRUE(constraints->isRowSelected(0));

    // Constraint keys become analysis keys.
    ASSERT_TRUE(constraints->model());
    PointTrack track;
    track.setKey(Korvane::SLIB::Context(40, view("cam1")), Korvane::SLIB::Feature(1, 2));
    track.setKey(Korvane::SLIB::Context(44, view("cam1")), Korvane::SLIB::Feature(1, 3));
    constraints->trackSet(0)->views()[view("cam1")].push_back(track);
    f.node->pressKnob("constraints");
    EXPECT_TRUE(knob("addConstraintKeys")->enabled());
    knob("matchNew")->enable(false);
    f.node->pressKnob("addConstraintKeys");
    EXPECT_EQ(keys(), (std::vector<int>{1, 40, 44}));  // 1: keyed when the panel opened
    EXPECT_TRUE(knob("matchNew")->enabled());
    EXPECT_FALSE(knob("addConstraintKeys")->enabled());
}

double degreesBetween(const CameraDefinition& a, const CameraDefinition& b) {
    return Eigen::AngleAxisd(a.getCameraToWorldRotation() *
                             b.getCameraToWorldRotation().transpose())
               .angle() *
           180.0 / M_PI;
}

}  // namespace

TEST_F(PanelActionsTest, RefineRigTurnsTheNodesRigAndUndoTakesItBackExactly) {
    f.sourceOp()->width = 640;
    f.sourceOp()->height = 480;
    f.sourceOp()->setRig(3);
    op()->rigContext().reloadRig(false);
    const CameraRigDefinition input = op()->rigContext().inputRig();
    ASSERT_EQ(input.getNumberCameras(), 3);
    // The cameras truly stand as the source says, but camera 2 is turned by 1 degree.
    CameraRigDefinition truth = input;
    CameraDefinition turned = truth.getCamera(1);
    turned.setCameraToWorldRotation(
        Eigen::AngleAxisd(M_PI / 180.0, Eigen::Vector3d(0.3, 1, 0.2).normalized()) *
        turned.getCameraToWorldRotation());
    truth.setCamera(1, turned);
    std::vector<SphericalTransform> seen;
    for (int c = 0; c < 3; ++c) seen.emplace_back(truth.getCamera(c));
    auto addObserved = [&](int frame, int count) {
        for (int k = 0; k < count; ++k) {
            const double yaw = 2.0 * M_PI * k / count, pitch = 0.5 * std::sin(7.0 * k);
            const Eigen::Vector3d P =
                (1.5 + (k % 5)) * Eigen::Vector3d(std::sin(yaw) * std::cos(pitch),
                                                  std::sin(pitch),
                                                  std::cos(yaw) * std::cos(pitch));
            FeatureTrack match;
            for (int c = 0; c < 3; ++c) {
                Eigen::Vector2d image;
                if (seen[size_t(c)].ProjectFromWorld(P, &image))
                    match.getFeatures().emplace_back(c, Feature(image));
            }
            if (match.getFeatures().size() >= 2)
                knobs().controlPoints()->cameraTrackAt(frame).getTracks().push_back(match);
        }
    };

    // Too few matches: a message, nothing changed, nothing to undo.
    addObserved(1, 6);
    const size_t undoSteps = UndoStack::instance().undoCount();
    f.node->pressKnob("refineRig");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find("the rig is unchanged"), std::string::npos) << host.messages[0];
    EXPECT_EQ(knob("rigCorrection")->toScriptText(), "");
    EXPECT_EQ(UndoStack::instance().undoCount(), undoSteps);
    EXPECT_TRUE(op()->rigContext().rig() == input);

    addObserved(1, 400);
    f.node->pressKnob("refineRig");
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.questions.empty()) << "without a warp there is nothing to lose";
    EXPECT_NE(knob("rigCorrection")->toScriptText(), "");
    EXPECT_EQ(UndoStack::instance().undoCount(), undoSteps + 1);
    const CameraRigDefinition& refined = op()->rigContext().rig();
    for (int c = 0; c < 3; ++c)
        EXPECT_LT(degreesBetween(refined.getCamera(c), truth.getCamera(c)), 0.01) << c;
    const std::string readout = static_cast<TextKnob*>(knob("rigCorrectionDegrees"))->text();
    EXPECT_NE(readout.find("cam2 1.00"), std::string::npos) << readout;
    // The renders get the refined rig too.
    MetaDataHandler rendered;
    rendered.updateMetaDataBundle(op()->fetchMetaData());
    EXPECT_LT(degreesBetween(rendered.getCamera(1), truth.getCamera(1)), 0.01);

    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_EQ(knob("rigCorrection")->toScriptText(), "");
    EXPECT_TRUE(op()->rigContext().rig() == input);
    EXPECT_EQ(static_cast<TextKnob*>(knob("rigCorrectionDegrees"))->text(), "none");

    // Over a warp, a yes drops the grids with the correction in one step that undo takes back.
    Grid2D grid(4, 4);
    grid.points[5] = {3.0, -2.0};
    ASSERT_TRUE(knobs().gridMap()->setGrid(1, view("cam2"), grid));
    knobs().setIsWarped(true);
    const size_t warpedSteps = UndoStack::instance().undoCount();
    host.answers = {true};
    f.node->pressKnob("refineRig");
    EXPECT_EQ(host.questions, std::vector<std::string>{kWarpQuestion});
    EXPECT_EQ(knobs().gridMap()->gridCount(), 0);  // the rest is the realistic-warp e2e test's
    EXPECT_EQ(UndoStack::instance().undoCount(), warpedSteps + 1);
    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_EQ(knob("rigCorrection")->toScriptText(), "");
    ASSERT_EQ(knobs().gridMap()->gridCount(), 1);
    EXPECT_EQ(knobs().gridMap()->getGrid(1, view("cam2"))->points[5], Eigen::Vector2d(3.0, -2.0));
    EXPECT_TRUE(knobs().isWarped());
}
