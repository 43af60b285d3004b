// SPDX-License-Identifier: Apache-2.0
#include "px/image/UndoStack.h"

#include <gtest/gtest.h>

#include "TestOps.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Node.h"

using namespace PX::Image;

namespace {

struct UndoTest : TestOps::RecorderTest {
    void write(const std::string& name, double v) {
        Knob* k = node->knob(name);
        k->add_to_undo();
        static_cast<ArrayKnob*>(k)->set_value(v);
        k->stop_add_to_undo();
    }

    UndoStack& undo = UndoStack::instance();
};

}  // namespace

TEST_F(UndoTest, OneEditIsOneStepAndUndoRestoresThePreviousText) {
    node->setKnobFromUser("gain", "2");
    node->setKnobFromUser("gain", "3");
    ASSERT_EQ(undo.undoCount(), 2u);
    EXPECT_EQ(undo.undoName(), "gain");

    op->log.clear();
    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(text("gain"), "2");
    EXPECT_EQ(op->log, std::vector<std::string>{"changed gain"}) << "undo must reach knob_changed";
    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(text("gain"), "1");
    EXPECT_FALSE(undo.undo());

    ASSERT_TRUE(undo.redo());
    EXPECT_EQ(text("gain"), "2");
    // A new edit after an undo drops what could be redone.
    node->setKnobFromUser("gain", "5");
    EXPECT_EQ(undo.redoCount(), 0u);
}

TEST_F(UndoTest, NothingIsRecordedWhenNothingChangesOrWhileSuspended) {
    write("gain", 1);  // same value as before
    EXPECT_EQ(undo.undoCount(), 0u);

    undo.suspend();
    write("gain", 6);
    undo.resume();
    EXPECT_EQ(undo.undoCount(), 0u);
    EXPECT_EQ(text("gain"), "6");
}

TEST_F(UndoTest, KnobsSeeTheRestoreAndAreForgottenWithTheirNode) {
    bool sawRestore = false;
    node->knob("gain")->addCallback(
        [&sawRestore](Knob* k) { sawRestore = sawRestore || k->doingUndoRedo(); });
    node->setKnobFromUser("gain", "2");
    EXPECT_FALSE(sawRestore);
    undo.undo();
    EXPECT_TRUE(sawRestore);
    EXPECT_FALSE(node->knob("gain")->doingUndoRedo());

    node->setKnobFromUser("count", "4");
    node.reset();
    EXPECT_EQ(undo.undoCount(), 0u);
    EXPECT_FALSE(undo.undo());  // and nothing touches the dead knobs
}

TEST_F(UndoTest, CustomStoreKnobsComeBackThroughTheirOwnText) {
    TestOps::ListKnob* list = op->list;
    const Hash empty = op->hash();

    list->add_to_undo();
    list->values = {3, 1, 4};
    list->stop_add_to_undo();
    EXPECT_NE(op->hash(), empty);
    EXPECT_EQ(text("list"), "3 3 1 4");

    ASSERT_TRUE(undo.undo());
    EXPECT_TRUE(list->values.empty());
    EXPECT_EQ(op->hash(), empty);
    ASSERT_TRUE(undo.redo());
    EXPECT_EQ(list->values, (std::vector<int>{3, 1, 4}));
}
