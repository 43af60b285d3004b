// SPDX-License-Identifier: Apache-2.0
#include "constraints/ConstraintsKnob.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "../analysis/StoreTestSupport.h"

using namespace Korvane::Research;

namespace {

class Constraints : public NodeTests::DetachedStoreTest {};

// Two constraints: the first with a track in views 1 and 3 (three keys and one key), the
// second hidden, with one track of two keys in view 2.
const char* const kTwoConstraints =
    "  version 2\n"
    "  total 2 visible 1\n"
    "  name wall_edge colour 0.25 0.5 0.75 size 2 strength 3.5 sampling 12.25 life 5 40 "
    "visible 1 selected 0 \n"
    "    0 3 10.5 20.25 5 30.5 40.25 20 50.125 60.5 40 \n"
    "    2 1 100 200 10 \n"
    "  name pole colour 1 0 0 size 1 strength 4 sampling 20 life 0 9 visible 0 selected 1 \n"
    "    1 2 1.5 2.5 0 3.5 4.5 9 \n";

}  // namespace

TEST_F(Constraints, SavedTextReadsBackToTheSameTextAndValues) {
    ConstraintsKnob knob(nullptr, "constraints");
    int changes = 0;
    countChanges(knob, changes);
    ASSERT_TRUE(knob.from_script(kTwoConstraints)) << knob.error();
    EXPECT_EQ(changes, 1);
    // Without a panel nothing is selected, so "selected 1" comes back as 0.
    std::string expected = kTwoConstraints;
    expected.replace(expected.find("selected 1"), 10, "selected 0");
    EXPECT_EQ(knob.toScriptText(), expected);

    ASSERT_EQ(knob.constraintCount(), 2);
    EXPECT_EQ(knob.trackCount(0), 2);
    EXPECT_DOUBLE_EQ(knob.constraintStrength(0), 3.5);
    EXPECT_DOUBLE_EQ(knob.constraintSampling(0), 12.25);
    EXPECT_EQ(knob.constraintStart(0), 5);
    EXPECT_EQ(knob.constraintEnd(0), 40);
    EXPECT_EQ(knob.constraintColour(0), (std::array<double, 3>{0.25, 0.5, 0.75}));
    EXPECT_TRUE(knob.isConstraintEnabled(0));
    EXPECT_FALSE(knob.isConstraintEnabled(1)) << "hidden row";
    EXPECT_EQ(knob.trackSet(0)->viewsText(), "0,2");
    EXPECT_EQ(knob.keyFrames(0), (std::set<int>{5, 10, 20, 40}));

    std::ostringstream quoted;
    knob.to_script(quoted, nullptr, true);
    EXPECT_EQ(quoted.str(), "\"\n" + expected + "\"");
}

TEST_F(Constraints, BrokenTextFailsKeepingTheRowsReadSoFar) {
    struct Case {
        std::string text;
        int rowsLeft;
    };
    const std::string good = kTwoConstraints;
    const std::string truncated = good.substr(0, good.find("    1 2 1.5"));
    const std::string wrongKey =
        std::string(kTwoConstraints).replace(good.find("life 0 9"), 4, "lief");
    // One row, of the colour and size given.
    const std::string row = " total 1 visible 1 name a colour ";
    const std::string life = " strength 1 sampling 1 life 0 0 visible 1";
    const Case cases[] = {
        {"version 3 total 0 visible 1", 2},  // refused before anything changed
        {"version 2 total -1 visible 1", 2},
        {"version 2 total 99999999 visible 1", 2},
        {"version 2" + row + "1 1 1 size 1" + life, 0},  // version 2 needs "selected"
        {"version 2" + row + "nan 1 1 size 0" + life + " selected 0", 0},
        {"version 1" + row + "1e39 0 0 size 0" + life, 0},  // a colour a float cannot hold
        // A view out of range: the row stays, without the track.
        {"version 1" + row + "1 1 1 size 1" + life + " 5000 1 0 0 0", 1},
        // A key count far beyond the text: refused, nothing reserved.
        {"version 1" + row + "1 1 1 size 1" + life + " 0 2000000000 1 2 3", 1},
        {truncated, 2},
        {wrongKey, 1},
    };
    for (const Case& c : cases) {
        ConstraintsKnob knob(nullptr, "constraints");
        ASSERT_TRUE(knob.from_script(kTwoConstraints));
        int changes = 0;
        countChanges(knob, changes);
        EXPECT_FALSE(knob.from_script(c.text.c_str())) << c.text;
        EXPECT_FALSE(knob.error().empty()) << c.text;
        EXPECT_EQ(changes, 0) << c.text;
        EXPECT_EQ(knob.constraintCount(), c.rowsLeft) << c.text;
    }

    ConstraintsKnob knob(nullptr, "constraints");
    ASSERT_TRUE(knob.from_script(kTwoConstraints));
    EXPECT_TRUE(knob.from_script(" \n ")) << "an empty text removes every constraint";
    EXPECT_EQ(knob.constraintCount(), 0);

    // A partial read names the knob, says what it kept, and saves marked: the saved text
    // never loads as whole.
    ASSERT_FALSE(knob.from_script(truncated.c_str()));
    EXPECT_EQ(knob.error().rfind("knob 'constraints': constraint ", 0), 0u) << knob.error();
    EXPECT_NE(knob.error().find("keeps the 2 constraint(s) read"), std::string::npos)
        << knob.error();
    const std::string saved = knob.toScriptText();
    ConstraintsKnob again(nullptr, "constraints");
    EXPECT_FALSE(again.from_script(saved.c_str()));
    EXPECT_NE(again.error().find("incomplete read"), std::string::npos) << again.error();
    EXPECT_EQ(again.constraintCount(), 2);
    EXPECT_EQ(again.toScriptText(), saved);
}

TEST_F(Constraints, PositionRuleAndKeyEdits) {
    ConstraintsKnob knob(nullptr, "constraints");
    // Point 0: keys at 10 (0, 0) and 20 (10, -20) in view 1. Point 1: one key in view 3.
    ASSERT_TRUE(
        knob.from_script("version 1 total 1 visible 1 name a colour 1 1 1 size 2 "
                         "strength 1 sampling 1 life 10 20 visible 1 "
                         "0 2 0 0 10 10 -20 20 2 1 7 8 15"));
    auto at = [&](int frame) {
        std::vector<ConstraintPoint> points;
        EXPECT_TRUE(knob.constraintPointsAtFrame(frame, 0, points));
        EXPECT_EQ(points.size(), 2u);
        EXPECT_EQ(points[1].view, 3);
        return points;
    };
    EXPECT_EQ(at(10)[0].x, 0.0);
    EXPECT_EQ(at(14)[0].x, 4.0);
    EXPECT_EQ(at(14)[0].y, -8.0);
    EXPECT_EQ(at(20)[0].y, -20.0);
    EXPECT_EQ(at(-100)[0].x, 0.0) << "before the first key";
    EXPECT_EQ(at(1000)[0].x, 10.0) << "after the last key";
    for (int frame : {-5, 15, 99}) EXPECT_EQ(at(frame)[1].x, 7.0) << "one key holds at " << frame;

    PX::Image::Hash before;
    knob.hashText(before);
    EXPECT_TRUE(knob.setKey(25, 0, 1, 9, 9)) << "point 1 is the view-3 track";
    PX::Image::Hash after;
    knob.hashText(after);
    EXPECT_NE(before, after) << "the overlay notices a new key";
    EXPECT_EQ(knob.constraintEnd(0), 25) << "the life widens to the new key";
    EXPECT_TRUE(knob.setKey(4, 0, 0, 5, 5));
    EXPECT_EQ(knob.constraintStart(0), 4);
    int frame = 0, view = 0;
    double x = 0, y = 0;
    ASSERT_TRUE(knob.firstKey(0, 0, &frame, &view, &x, &y));
    EXPECT_EQ(std::make_tuple(frame, view, x, y), std::make_tuple(4, 1, 5.0, 5.0));
    EXPECT_EQ(at(20)[0].x, 10.0);
    EXPECT_EQ(at(20)[1].x, 8.0) << "view 3 now blends keys 15 and 25";

    EXPECT_FALSE(knob.setKey(1, 0, 2, 0, 0)) << "no point 2";
    EXPECT_FALSE(knob.setKey(1, 1, 0, 0, 0)) << "no row 1";
    std::vector<ConstraintPoint> none;
    EXPECT_FALSE(knob.constraintPointsAtFrame(0, 5, none));
    EXPECT_FALSE(knob.isConstraintAlive(5, 0));
    EXPECT_TRUE(knob.isConstraintAlive(0, 25));
    EXPECT_FALSE(knob.isConstraintAlive(0, 26));
    EXPECT_FALSE(knob.addConstraint(0, 0)) << "no panel, no new rows";
    EXPECT_FALSE(knob.hasSelectedConstraints());
    std::set<int> keys;
    EXPECT_EQ(knob.get_key_list(keys), 0) << "keys are those of selected rows only";
}
