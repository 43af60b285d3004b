// SPDX-License-Identifier: Apache-2.0
#include "constraints/TreeView.h"

#include <gtest/gtest.h>

#include <memory>

#include <QApplication>
#include <QMouseEvent>
#include <QStyleOptionViewItem>

#include "../QtApplication.h"
#include "../TestHost.h"
#include "../TestRigSource.h"
#include "constraints/ConstraintsKnob.h"
#include "constraints/TreeModel.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Host.h"
#include "px/image/MetaKeyFrameKnob.h"
#include "px/image/OutputContext.h"
#include "px/image/UndoStack.h"

using namespace PX::Image;
using namespace Korvane::Research;

namespace {

// The panel on a real node of the plug-in, opened offscreen.
class ConstraintsPanel : public ::testing::Test {
protected:
    void SetUp() override {
        NodeTests::ensureQtApplication();
        knob = dynamic_cast<ConstraintsKnob*>(fixture.node->knob("constraints"));
        ASSERT_NE(knob, nullptr);
        view.reset(static_cast<TreeView*>(knob->make_widget({})));
        tree = knob->model();
    }
    void TearDown() override { view.reset(); }
    void addRows(int n) {
        for (int i = 0; i < n; ++i) ASSERT_TRUE(knob->addConstraint(10 * i, 10 * i + 5));
    }
    // Gives row `row` one track in view `view` with a key at its Start.
    void addTrack(int row, int view) {
        PointTrack track;
        track.setKey(Korvane::SLIB::Context(knob->constraintStart(row), view),
                     Korvane::SLIB::Feature(row, view));
        knob->trackSet(row)->views()[view].push_back(track);
        knob->refreshViews(row);
    }
    void select(std::initializer_list<int> rows) {
        knob->clearSelection();
        for (int r : rows) knob->selectRow(r, false);
    }

    NodeTests::TestHost host;
    NodeTests::RigFixture fixture{{"main", "cam1"}, 1};
    ConstraintsKnob* knob = nullptr;
    std::unique_ptr<TreeView> view;
    TreeModel* tree = nullptr;
};

}  // namespace

TEST_F(ConstraintsPanel, NewConstraintsAreNamedByTheirRowAndBecomeTheOnlySelection) {
    addRows(3);
    EXPECT_EQ(knob->constraintCount(), 3);
    EXPECT_EQ(tree->constraint(2)->data(TreeModel::Name).toString(), "constraint_2");
    EXPECT_EQ(knob->currentRow(), 2);
    std::set<int> selected;
    EXPECT_EQ(knob->collectRows(false, true, selected), 1);
    EXPECT_EQ(selected, std::set<int>{2});
    EXPECT_NE(knob->constraintColour(1), knob->constraintColour(2)) << "a colour of its own";
}

TEST_F(ConstraintsPanel, EditsThatTheModelRefuses) {
    addRows(2);
    const QModelIndex name1 = tree->constraintIndex(1, TreeModel::Name);
    EXPECT_TRUE(tree->setData(name1, "constraint_0", Qt::EditRole));
    EXPECT_EQ(name1.data().toString(), "constraint_1") << "a name another row has is refused";
    EXPECT_TRUE(tree->setData(name1, "left wall", Qt::EditRole));
    EXPECT_NE(knob->toScriptText().find("name left_wall "), std::string::npos);

    EXPECT_FALSE(
        tree->setData(tree->constraintIndex(0, TreeModel::Strength), "strong", Qt::EditRole));
    EXPECT_TRUE(tree->setData(tree->constraintIndex(0, TreeModel::Strength), "2.5", Qt::EditRole));
    EXPECT_DOUBLE_EQ(knob->constraintStrength(0), 2.5);
    EXPECT_FALSE(tree->setData(tree->constraintIndex(0, TreeModel::End), "x", Qt::EditRole));
    EXPECT_FALSE(tree->setData(name1, "other", Qt::DisplayRole));
}

TEST_F(ConstraintsPanel, MergeTogglesAndDeletes) {
    addRows(5);
    addTrack(1, 1);
    addTrack(3, 1);
    addTrack(4, 2);
    select({1, 3, 4});
    const size_t undos = UndoStack::instance().undoCount();
    view->mergeSelectedRows();
    EXPECT_EQ(UndoStack::instance().undoCount(), undos + 1) << "one undo step";
    ASSERT_EQ(knob->constraintCount(), 3);
    EXPECT_EQ(tree->constraint(1)->data(TreeModel::Name).toString(), "constraint_1");
    EXPECT_EQ(tree->constraint(2)->data(TreeModel::Name).toString(), "constraint_2");
    EXPECT_EQ(knob->trackCount(1), 3);
    EXPECT_EQ(knob->constraintStart(1), 10);
    EXPECT_EQ(knob->constraintEnd(1), 45);
    EXPECT_EQ(tree->constraint(1)->data(TreeModel::Views).toString(), "0,1");

    select({0});
    view->mergeSelectedRows();
    EXPECT_EQ(knob->constraintCount(), 3) << "one row does not merge";

    select({0, 2});
    view->toggleSelectedRows();
    EXPECT_FALSE(knob->isConstraintEnabled(0));
    EXPECT_TRUE(knob->isConstraintEnabled(1));
    EXPECT_FALSE(knob->isConstraintEnabled(2));

    // A click on the top item's visibility switches every constraint off for the solver.
    auto* delegate = view->itemDelegateForColumn(TreeModel::Visible);
    QMouseEvent release(QEvent::MouseButtonRelease,
                        QPointF(1, 1),
                        QPointF(1, 1),
                        Qt::LeftButton,
                        Qt::NoButton,
                        Qt::NoModifier);
    EXPECT_TRUE(delegate->editorEvent(
        &release, tree, QStyleOptionViewItem(), tree->topIndex(TreeModel::Visible)));
    EXPECT_FALSE(knob->isConstraintEnabled(1));
    std::set<int> rows;
    EXPECT_EQ(knob->collectRows(true, false, rows), 0);

    select({0, 2});
    view->removeSelectedRows();
    ASSERT_EQ(knob->constraintCount(), 1);
    EXPECT_EQ(knob->trackCount(0), 3);

    view->removeAllRows();
    EXPECT_EQ(host.questions,
              std::vector<std::string>{"Proceeding will delete all existing "
                                       "constraints. Are you sure?"});
    EXPECT_EQ(knob->constraintCount(), 1) << "answered no";
    host.answers = {true};
    view->removeAllRows();
    EXPECT_EQ(knob->constraintCount(), 0);
}

TEST_F(ConstraintsPanel, SelectionShowsItsValuesAndSurvivesALoad) {
    addRows(3);
    tree->setData(tree->constraintIndex(2, TreeModel::Strength), 7.0, Qt::EditRole);
    auto* strength = dynamic_cast<ArrayKnob*>(fixture.node->knob("constraintStrength"));
    auto* start = dynamic_cast<ArrayKnob*>(fixture.node->knob("constraintStartFrame"));
    ASSERT_TRUE(strength && start);

    select({0, 1});
    EXPECT_DOUBLE_EQ(strength->get_value(), 4.0);
    EXPECT_FALSE(strength->flag(Knob::SHOW_MIXED)) << "both rows have Strength 4";
    EXPECT_TRUE(start->flag(Knob::SHOW_MIXED)) << "Start 0 and 10";
    select({1, 2});
    EXPECT_TRUE(strength->flag(Knob::SHOW_MIXED));

    knob->selectRow(0, false);
    const std::string text = knob->toScriptText();
    EXPECT_NE(text.find("selected 1"), std::string::npos);
    ASSERT_TRUE(knob->from_script(text.c_str()));
    std::set<int> selected;
    knob->collectRows(false, true, selected);
    EXPECT_EQ(selected, (std::set<int>{0, 1, 2}));
    EXPECT_EQ(knob->currentRow(), 0);

    int changes = 0;
    knob->addCallback([&changes](Knob*) { ++changes; });
    EXPECT_FALSE(knob->from_script("version 2 total 1 visible 0 name x"));
    EXPECT_EQ(changes, 0) << "a failed load reports no change, with the panel open too";
    ASSERT_TRUE(knob->from_script(text.c_str()));
    EXPECT_EQ(changes, 1);

    view.reset();
    EXPECT_EQ(knob->view(), nullptr) << "a closed panel leaves no dangling view";
    EXPECT_FALSE(knob->hasSelectedConstraints());
    EXPECT_EQ(knob->constraintCount(), 3) << "the constraints outlive the panel";
}

TEST_F(ConstraintsPanel, TheKeyRowListsAndEditsTheKeysOfTheSelectedRows) {
    auto* keysRow = static_cast<MetaKeyFrameKnob*>(fixture.node->knob("constraintKeys"));
    ASSERT_EQ(keysRow->delegate(), knob);
    addRows(2);  // lives 0-5 and 10-15
    addTrack(0, 1);
    addTrack(1, 1);
    PointTrack& track = knob->trackSet(0)->views()[1].front();
    track.setKey(Korvane::SLIB::Context(8, 1), Korvane::SLIB::Feature(4, 2));  // 0 at 0, 4 at 8

    select({0});
    EXPECT_EQ(keysRow->keys(), (std::vector<float>{0, 8}));
    fixture.node->setUIContext(OutputContext(4, 0));
    keysRow->addKeyAtCurrentFrame();  // keyed where the point lies: halfway
    ASSERT_NE(track.find(Korvane::SLIB::Context(4, 1)), nullptr);
    EXPECT_DOUBLE_EQ(track.find(Korvane::SLIB::Context(4, 1))->x, 2.0);
    EXPECT_EQ(knob->keyFrames(1), std::set<int>{10});  // not selected: untouched
    fixture.node->setUIContext(OutputContext(20, 0));
    keysRow->addKeyAtCurrentFrame();
    EXPECT_EQ(knob->constraintEnd(0), 20);  // the life grows to the key

    keysRow->deleteKeys({0, 20});
    EXPECT_EQ(keysRow->keys(), (std::vector<float>{4, 8}));
    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_EQ(keysRow->keys(), (std::vector<float>{0, 4, 8, 20}));

    knob->clearSelection();
    EXPECT_TRUE(keysRow->keys().empty());
}
