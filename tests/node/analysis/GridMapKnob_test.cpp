// SPDX-License-Identifier: Apache-2.0
#include "analysis/GridMapKnob.h"

#include <gtest/gtest.h>

#include <string>

#include "../TestRigSource.h"
#include "StoreTestSupport.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/Node.h"
#include "px/image/UndoStack.h"

using namespace PX::Image;
using namespace Korvane::Research;

namespace {

class GridMap : public NodeTests::DetachedStoreTest {};

Grid2D exampleGrid() {
    Grid2D g(2, 2);
    g.at(1, 0) = {1.5, -2.0};
    return g;
}

std::string quoted(const GridMapKnob& k) {
    std::ostringstream os;
    k.to_script(os, nullptr, true);
    return os.str();
}

}  // namespace

TEST_F(GridMap, WritesTheDocumentedTextAndReadsItBack) {
    GridMapKnob store(nullptr, "gridMap");
    EXPECT_EQ(store.toScriptText(), "");
    EXPECT_EQ(quoted(store), "\"\n\"");

    ASSERT_TRUE(store.setGrid(10, 1, exampleGrid()));
    const std::string text =
        "  version 1\n  total 1\n  frame 10 camera 0\n  2 2\n  0 0 1.5 -2 \n  0 0 0 0 \n  ";
    EXPECT_EQ(store.toScriptText(), text);
    EXPECT_EQ(quoted(store), "\"\n" + text + "\"");

    GridMapKnob back(nullptr, "gridMap");
    ASSERT_TRUE(back.from_script(text.c_str())) << back.error();
    ASSERT_NE(back.getGrid(10, 1), nullptr) << "camera 0 in the text is view 1 in the store";
    EXPECT_EQ(*back.getGrid(10, 1), exampleGrid());
    EXPECT_EQ(back.getGrid(10, 0), nullptr);

    // More frames (one negative) and cameras, of other sizes: a saved text is a fixed point and
    // keeps six significant digits.
    Grid2D odd(3, 2);
    odd.points[4] = {-287.123456, 0.000123456};
    ASSERT_TRUE(store.setGrid(-5, 3, odd));
    ASSERT_TRUE(store.setGrid(120, 2, Grid2D(4, 3)));
    ASSERT_TRUE(back.from_script(store.toScriptText().c_str())) << back.error();
    EXPECT_EQ(back.toScriptText(), store.toScriptText());
    EXPECT_EQ(back.gridCount(), 3);
    EXPECT_LT((back.getGrid(-5, 3)->points[4] - odd.points[4]).norm(), 1e-3);
}

TEST_F(GridMap, RefusedTextsLeaveTheDocumentedState) {
    const std::string good = "version 1 total 2 frame 10 camera 0 1 1 0.5 0.5 ";
    struct Case {
        std::string text;
        int gridsLeft;  // -1: the earlier content is untouched
    };
    const Case cases[] = {
        {"version 2 total 0", -1},
        {"version 1 count 1", -1},
        {"version 1", -1},
        {"version 1 total 2000000000 frame 1 camera 0 1 1 0 0", -1},
        {good + "frame 10 camera 0 1 1 0 0", 1},  // a repeated key: the first entry remains
        {good + "frame 11 camera 0 2 2 0 0 0 0 0 0 0", 1},  // truncated grid
        {good + "frame 11 camera 0 1 1 nan 0", 1},
        {good + "frame 11 camera 0 1 1 1e999 0", 1},
        {good + "frame 11 camera 0 1 1 1.5x 0", 1},
        {good + "frame 11 camera -1 1 1 0 0", 1},
        {good + "frame 11 camera 1024 1 1 0 0", 1},
        {good + "frame 11 camera 0 0 1", 1},
        {good + "frame 11 camera 0 5000 1 0 0", 1},
        {good + "frame 11 camera 0 1024 1025 0 0", 1},
        {good + "frame 99999999999 camera 0 1 1 0 0", 1},
        {good, 1},  // fewer entries than the total
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        GridMapKnob store(nullptr, "gridMap");
        ASSERT_TRUE(store.setGrid(3, 4, Grid2D(2, 2)));
        int changes = 0;
        countChanges(store, changes);
        EXPECT_FALSE(store.from_script(c.text.c_str()));
        EXPECT_FALSE(store.error().empty());
        EXPECT_EQ(changes, 0);
        if (c.gridsLeft < 0) {
            EXPECT_EQ(store.gridCount(), 1);
            EXPECT_NE(store.getGrid(3, 4), nullptr);
        } else {
            EXPECT_EQ(store.gridCount(), c.gridsLeft);
            EXPECT_NE(store.getGrid(10, 1), nullptr);
            EXPECT_EQ(store.previousKey(100), 10) << "the frame set follows the entries";
        }
    }
}

TEST_F(GridMap, APartialReadStaysMarkedIncompleteUntilTheStoreIsRedone) {
    GridMapKnob store(nullptr, "gridMap");
    EXPECT_FALSE(store.from_script("version 1 total 1 frame 10 camera 0 1 1 0.5 0.5 frame 11"));
    EXPECT_EQ(store.error(),
              "knob 'gridMap': the total says 1 grid(s) but more text follows; the store keeps "
              "the 1 grid(s) read before, and a save marks it incomplete");
    const std::string saved = store.toScriptText();
    GridMapKnob again(nullptr, "gridMap");
    EXPECT_FALSE(again.from_script(saved.c_str()));
    EXPECT_NE(again.error().find("saved from an incomplete read"), std::string::npos);
    EXPECT_EQ(again.gridCount(), 1);
    EXPECT_EQ(again.toScriptText(), saved);
    again.clear();
    EXPECT_EQ(again.toScriptText(), "") << "cleared, the store is whole (and empty) again";

    GridMapKnob none(nullptr, "gridMap");
    EXPECT_FALSE(none.from_script("version 1 total 1"));
    EXPECT_NE(none.toScriptText().find("incomplete"), std::string::npos)
        << "an empty partial store is marked too";
}

TEST_F(GridMap, EmptyTextsAndTotalsBelowOneEmptyTheStore) {
    for (const char* text : {"", " \n ", "version 1 total 0", "version 1 total -4"}) {
        SCOPED_TRACE(text);
        GridMapKnob store(nullptr, "gridMap");
        ASSERT_TRUE(store.setGrid(3, 1, Grid2D(2, 2)));
        int changes = 0;
        countChanges(store, changes);
        EXPECT_TRUE(store.from_script(text)) << store.error();
        EXPECT_EQ(store.gridCount(), 0);
        EXPECT_EQ(store.nextKey(0), -1);
        EXPECT_EQ(changes, 1);
    }
}

// That the store hands out copies is WarpGridAtFrame's to see: it interpolates in place.
TEST_F(GridMap, RefusesGridsItCouldNotReadBack) {
    GridMapKnob store(nullptr, "gridMap");
    ASSERT_TRUE(store.setGrid(1, 1, exampleGrid()));
    ASSERT_TRUE(store.setGrid(1, 1, Grid2D(3, 1)));
    EXPECT_EQ(store.getGrid(1, 1)->width, 3) << "replaced";

    Grid2D shortList(2, 2);
    shortList.points.pop_back();
    EXPECT_FALSE(store.setGrid(2, 1, shortList));
    EXPECT_FALSE(store.setGrid(2, 1, Grid2D(0, 4)));
    EXPECT_FALSE(store.setGrid(2, 1, Grid2D(2000, 2000)));
    EXPECT_FALSE(store.setGrid(2, 0, Grid2D(2, 2)));
    EXPECT_EQ(store.gridCount(), 1);
    EXPECT_EQ(store.nextKey(2), -1);
}

TEST_F(GridMap, HashesTheGridAtTheNearestWholeFrameOfTheContext) {
    GridMapKnob store(nullptr, "gridMap");
    ASSERT_TRUE(store.setGrid(11, 2, exampleGrid()));
    ASSERT_TRUE(store.setGrid(-11, 2, exampleGrid()));
    auto hashAt = [&](double frame, int view) {
        Hash h;
        const OutputContext c(frame, view);
        store.append(h, &c);
        return h;
    };
    EXPECT_EQ(hashAt(10.5, 2), hashAt(11, 2));
    EXPECT_EQ(hashAt(-10.5, 2), hashAt(-11, 2));
    EXPECT_NE(hashAt(11, 2), Hash());
    EXPECT_EQ(hashAt(10.4, 2), Hash()) << "no grid at frame 10";
    EXPECT_EQ(hashAt(11, 1), Hash());
    EXPECT_EQ(hashAt(1e300, 2), Hash());

    Hash one;
    store.append(one, nullptr);
    EXPECT_EQ(one, Hash());
}

TEST(GridMapOnTheNode, AnyGridChangeChangesTheNodeHash) {
    NodeTests::RigFixture f({"main", "cam1", "cam2"}, 2);
    GridMapKnob* store = f.op()->knobManager().gridMap();
    ASSERT_NE(store, nullptr);
    Op* op = f.node->op();
    const Hash empty = op->hash();

    // Grids at frames that are neither the viewed frame nor keys.
    ASSERT_TRUE(store->setGrid(40, 1, exampleGrid()));
    ASSERT_TRUE(store->setGrid(70, 2, exampleGrid()));
    const Hash two = op->hash();
    EXPECT_NE(two, empty);
    Grid2D moved = exampleGrid();
    moved.at(0, 1) = {0.25, 0};
    ASSERT_TRUE(store->setGrid(70, 2, moved));
    EXPECT_NE(op->hash(), two);
    ASSERT_TRUE(UndoStack::instance().undo());
    EXPECT_EQ(op->hash(), two);
    UndoStack::instance().clear();
}
