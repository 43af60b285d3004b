// SPDX-License-Identifier: Apache-2.0
// View navigation driven by viewer events, delivered through the host's viewer interface as a
// viewer delivers them.
#include <cmath>

#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include "../TestRigSource.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/UndoStack.h"
#include "px/image/ViewerContext.h"
#include "viewer/MouseRotateKnob.h"
#include "viewer/MouseZoomKnob.h"

using namespace PX::Image;
using namespace Korvane::Research;
using NodeTests::RigFixture;

namespace {

constexpr int kW = 2048, kH = 1024;
constexpr unsigned kCtrlAlt = ViewerContext::kCtrl | ViewerContext::kAlt;

class ViewerEvents : public ::testing::Test {
protected:
    ViewerEvents() : f({"main", "cam1", "cam2", "cam3"}) {}

    bool send(ViewerContext::Event e,
              float x,
              float y,
              int button,
              unsigned state,
              const std::string& view = "main") {
        ViewerContext ctx;
        ctx.setEvent(e);
        ctx.setMouse(x, y);
        ctx.setButton(button);
        ctx.setState(state);
        ctx.setViewport(kW, kH);
        ctx.setView(Views::find(view));
        return ctx.deliver(*f.node->op());
    }
    MouseRotateKnob& rotate() {
        return *static_cast<MouseRotateKnob*>(f.node->knob("mouseRotate"));
    }
    MouseZoomKnob& zoom() { return *static_cast<MouseZoomKnob*>(f.node->knob("mouseZoom")); }
    const ViewNavigationKnobs& navigation() { return f.op()->knobManager().viewNavigation(); }

    RigFixture f;
};

// The incremental rotation written out independently, with Eigen's quaternions.
Eigen::Quaterniond increment(float x0, float y0, float x1, float y1) {
    const float pi = float(M_PI);
    const float a = x0 * 2 * pi / kW - (kW - 1) * pi / kW;
    const float b = (y1 - y0) * pi / kH;
    const float c = x1 * 2 * pi / kW - (kW - 1) * pi / kW;
    return Eigen::Quaterniond(Eigen::AngleAxisd(a, Eigen::Vector3d::UnitY())) *
           Eigen::Quaterniond(Eigen::AngleAxisd(b, Eigen::Vector3d::UnitX())) *
           Eigen::Quaterniond(Eigen::AngleAxisd(-c, Eigen::Vector3d::UnitY()));
}

void expectRotation(const Quaternion& q, const Eigen::Quaterniond& e) {
    EXPECT_NEAR(q.w, e.w(), 1e-6);
    EXPECT_NEAR(q.x, e.x(), 1e-6);
    EXPECT_NEAR(q.y, e.y(), 1e-6);
    EXPECT_NEAR(q.z, e.z(), 1e-6);
}

bool isIdentity(const Quaternion& q) { return q.w == 1 && q.x == 0 && q.y == 0 && q.z == 0; }

}  // namespace

TEST_F(ViewerEvents, CtrlWithoutAltOrAnotherButtonIsNotConsumed) {
    EXPECT_FALSE(send(ViewerContext::PUSH, 100, 100, 1, ViewerContext::kCtrl));
    EXPECT_FALSE(send(ViewerContext::DRAG, 300, 100, 1, ViewerContext::kCtrl));
    EXPECT_FALSE(send(ViewerContext::RELEASE, 300, 100, 1, ViewerContext::kCtrl));
    EXPECT_FALSE(send(ViewerContext::PUSH, 100, 100, 2, kCtrlAlt)) << "the middle button";
    EXPECT_FALSE(send(ViewerContext::PUSH, 100, 100, 1, kCtrlAlt, "cam2"))
        << "camera views are not navigated";
    EXPECT_TRUE(isIdentity(rotate().rotation()));
    EXPECT_EQ(zoom().zoom(), 0.0f);
}

TEST_F(ViewerEvents, ADragTurnsByTheIncrementsAndIsOneUndoStepThatReachesTheMetadata) {
    f.sourceOp()->setRig(3);
    auto* op = f.op();
    op->fetchMetaData();  // the node reads the rig
    const Hash before = op->hash();
    const size_t undoSteps = UndoStack::instance().undoCount();

    EXPECT_TRUE(send(ViewerContext::PUSH, 1000, 500, 1, kCtrlAlt));
    EXPECT_TRUE(send(ViewerContext::DRAG, 1100, 520, 1, kCtrlAlt));
    EXPECT_TRUE(send(ViewerContext::DRAG, 1150, 480, 1, kCtrlAlt));
    const Eigen::Quaterniond expected =
        increment(1100, 520, 1150, 480) * increment(1000, 500, 1100, 520);
    expectRotation(rotate().rotation(), expected);
    EXPECT_NE(op->hash(), before) << "the drag shows while it lasts";
    EXPECT_TRUE(send(ViewerContext::RELEASE, 1150, 480, 1, kCtrlAlt));
    EXPECT_FALSE(send(ViewerContext::DRAG, 1300, 480, 1, kCtrlAlt)) << "the drag is over";
    expectRotation(rotate().rotation(), expected);
    EXPECT_EQ(UndoStack::instance().undoCount(), undoSteps + 1);

    // Downstream, the rig rotation is the view rotation's transpose times the rig's (none here).
    MetaDataHandler out;
    out.updateMetaDataBundle(op->fetchMetaData());
    const Eigen::Vector3d angles = out.getRigRotation() * M_PI / 180.0;
    const Eigen::Matrix3d rig = (Eigen::AngleAxisd(angles.y(), Eigen::Vector3d::UnitY()) *
                                 Eigen::AngleAxisd(angles.x(), Eigen::Vector3d::UnitX()) *
                                 Eigen::AngleAxisd(angles.z(), Eigen::Vector3d::UnitZ()))
                                    .toRotationMatrix();
    // The view rotation is m^-1 (no Euler angles): its transpose is m itself.
    EXPECT_LT((rig - expected.toRotationMatrix()).norm(), 1e-6);

    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_TRUE(isIdentity(rotate().rotation()));
    EXPECT_EQ(op->hash(), before);
    ASSERT_TRUE(UndoStack::instance().redo());
    expectRotation(rotate().rotation(), expected);
}

TEST_F(ViewerEvents, ShiftLocksTheMotionToTheAxisItLeansToByMoreThanFivePixels) {
    EXPECT_TRUE(send(ViewerContext::PUSH, 1000, 500, 1, kCtrlAlt));
    const unsigned locked = kCtrlAlt | ViewerContext::kShift;
    EXPECT_TRUE(send(ViewerContext::DRAG, 1003, 504, 1, locked));
    EXPECT_EQ(rotate().axisLock(), MouseRotateKnob::Free) << "within the margin";
    EXPECT_TRUE(send(ViewerContext::DRAG, 1020, 503, 1, locked));
    EXPECT_EQ(rotate().axisLock(), MouseRotateKnob::Horizontal);
    // Horizontal: the vertical motion is dropped, only a turn about Y is left.
    Eigen::Quaterniond expected = increment(1003, 504, 1020, 504) * increment(1000, 500, 1003, 504);
    expectRotation(rotate().rotation(), expected);
    EXPECT_TRUE(send(ViewerContext::DRAG, 1022, 560, 1, locked));
    EXPECT_EQ(rotate().axisLock(), MouseRotateKnob::Vertical);
    expected = increment(1020, 504, 1020, 560) * expected;
    expectRotation(rotate().rotation(), expected);
    EXPECT_TRUE(send(ViewerContext::RELEASE, 1022, 560, 1, locked));
    EXPECT_EQ(rotate().axisLock(), MouseRotateKnob::Free);
}

TEST_F(ViewerEvents, ANudgeTurnsFromTheViewportCentre) {
    ViewerContext ctx;
    ctx.setEvent(ViewerContext::NUDGE);
    ctx.setNudge(10, 0);
    ctx.setViewport(kW, kH);
    ctx.setView(Views::find("main"));
    EXPECT_TRUE(ctx.deliver(*f.node->op()));
    expectRotation(rotate().rotation(), increment(kW / 2, kH / 2, kW / 2 + 10, kH / 2));
}

TEST_F(ViewerEvents, AThousandPixelZoomDragRightHalvesTheViewAngleAndLargeZoomClamps) {
    const double s = 36.0, focal = 16.0;
    EXPECT_DOUBLE_EQ(navigation().zoomedFocalLength(), focal);
    EXPECT_FALSE(send(ViewerContext::PUSH, 100, 300, 3, ViewerContext::kAlt));
    EXPECT_TRUE(send(ViewerContext::PUSH, 100, 300, 3, kCtrlAlt));
    EXPECT_TRUE(send(ViewerContext::DRAG, 600, 320, 3, kCtrlAlt));
    EXPECT_TRUE(send(ViewerContext::RELEASE, 1100, 300, 3, kCtrlAlt)) << "adds the last motion";
    EXPECT_FLOAT_EQ(zoom().zoom(), 1.0f);
    const double halfAngle = 2.0 * std::atan2(s, focal) / 2.0;
    EXPECT_NEAR(navigation().zoomedFocalLength(), s / std::tan(halfAngle / 2.0), 1e-9);

    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_EQ(zoom().zoom(), 0.0f) << "the whole drag is one step";

    // Vertical motion zooms too: dy wins when it is the larger.
    EXPECT_TRUE(send(ViewerContext::PUSH, 0, 0, 3, kCtrlAlt));
    EXPECT_TRUE(send(ViewerContext::DRAG, 10, -250, 3, kCtrlAlt));
    EXPECT_TRUE(send(ViewerContext::DRAG, 10, -250, 3, 0)) << "Ctrl+Alt let go ends it";
    EXPECT_FLOAT_EQ(zoom().zoom(), -0.25f);

    zoom().setZoom(1000.0f);
    EXPECT_NEAR(navigation().zoomedFocalLength(), s / std::tan(0.001 / 2.0), 1e-6)
        << "the view angle clamps at 0.001";
}

TEST_F(ViewerEvents, CtrlTabTogglesTheViewProjection) {
    ViewerContext ctx;
    ctx.setEvent(ViewerContext::KEY);
    ctx.setKey(ViewerContext::KeyTab);
    ctx.setViewport(kW, kH);
    EXPECT_FALSE(ctx.deliver(*f.node->op())) << "Tab alone";
    ctx.setState(ViewerContext::kCtrl);
    EXPECT_TRUE(ctx.deliver(*f.node->op()));
    EXPECT_EQ(f.node->knob("rectilinearProjection")->toScriptText(), "true");
    EXPECT_EQ(navigation().projection(), ViewNavigationKnobs::Projection::Rectilinear);
    EXPECT_TRUE(ctx.deliver(*f.node->op()));
    EXPECT_EQ(navigation().projection(), ViewNavigationKnobs::Projection::Spherical);
}
