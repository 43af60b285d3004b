// SPDX-License-Identifier: Apache-2.0
#include "px/image/Knob.h"

#include <gtest/gtest.h>

#include "../../TestSupport.h"

#include "TestOps.h"
#include "px/image/ArrayKnob.h"
#include "px/image/ButtonKnob.h"
#include "px/image/Host.h"
#include "px/image/KnobCallback.h"
#include "px/image/Node.h"
#include "px/image/StringKnob.h"
#include "px/image/UndoStack.h"

using namespace PX::Image;
using TestSupport::thrown;

namespace {

struct KnobTest : TestOps::RecorderTest {
    ArrayKnob* array(const std::string& name) { return static_cast<ArrayKnob*>(node->knob(name)); }
};

}  // namespace

TEST_F(KnobTest, UserTextsReachTheOperatorAndSaveAsTheyRead) {
    EXPECT_EQ(text("count"), "5");
    EXPECT_EQ(text("flag"), "false");
    EXPECT_EQ(text("colour"), "{0.5 0.5 0.5}");
    EXPECT_FALSE(node->knob("count")->not_default());

    node->setKnobFromUser("count", "12");
    node->setKnobFromUser("gain", "0.1");
    node->setKnobFromUser("flag", "true");
    node->setKnobFromUser("text", "two words");
    node->setKnobFromUser("colour", "{1 0.25 0}");
    EXPECT_EQ(text("gain"), "0.1");  // shortest text that reads back exactly

    node->storeKnobs(op->outputContext());
    EXPECT_EQ(op->count, 12);
    EXPECT_DOUBLE_EQ(op->gain, 0.1);
    EXPECT_TRUE(op->flag);
    EXPECT_EQ(op->text, "two words");
    EXPECT_DOUBLE_EQ(op->colour[1], 0.25);
    EXPECT_TRUE(node->knob("count")->not_default());
}

TEST_F(KnobTest, BadValuesNameTheKnobAndKeepTheValue) {
    struct Case {
        const char* knob;
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"count", "abc", "knob 'count': 'abc' is not a number"},
        {"count", "2.5", "knob 'count': '2.5' is not a whole number"},
        {"count", "500", "knob 'count': 500 is outside its range 1 to 100"},
        {"flag", "maybe", "knob 'flag': 'maybe' is not true or false"},
        {"colour", "{1 2}", "knob 'colour': '{1 2}' has 2 values, expected 3"},
        {"gain", "nan", "knob 'gain': 'nan' is not a number"},
        {"gain", "{curve 1=2 x}", "knob 'gain': bad key 'x', expected frame=value"},
        {"gain",
         "{curve 1e18=2}",
         "knob 'gain': key frame 1e+18 is outside -100000000 to 100000000"},
        {"count",
         "-2147483649",
         "knob 'count': -2147483649 is outside the whole numbers -2147483648 to 2147483647"},
        {"count",
         std::string(300, '7') + "x",
         "knob 'count': '" + std::string(200, '7') + "... (301 bytes)' is not a number"},
    };
    for (const Case& c : cases) {
        const std::string before = text(c.knob);
        EXPECT_EQ(thrown<std::invalid_argument>([&] { node->setKnobFromUser(c.knob, c.text); }),
                  c.message);
        EXPECT_EQ(text(c.knob), before) << c.knob;
    }
    EXPECT_EQ(UndoStack::instance().undoCount(), 0u) << "a refused edit left an undo step";
    EXPECT_TRUE(op->log.empty()) << "a refused edit reached knob_changed";
}

TEST_F(KnobTest, AnimationKeysInterpolateAndSaveAsACurve) {
    ArrayKnob* gain = array("gain");
    EXPECT_FALSE(gain->is_animated());
    gain->set_value(2.0);
    EXPECT_TRUE(gain->setKeyAt(10));
    gain->set_value_at(4.0, 20);
    EXPECT_FALSE(gain->setKeyAt(10)) << "a second key at the same frame";
    gain->setKeyAt(5);

    EXPECT_EQ(text("gain"), "{curve 5=2 10=2 20=4}");  // the keys in order
    EXPECT_DOUBLE_EQ(gain->get_value_at(15), 3.0);
    EXPECT_DOUBLE_EQ(gain->get_value_at(0), 2.0);
    EXPECT_DOUBLE_EQ(gain->get_value_at(100), 4.0);
    node->storeKnobs(OutputContext(15, 0));
    EXPECT_DOUBLE_EQ(op->gain, 3.0);

    EXPECT_TRUE(gain->deleteKeyAt(10));
    EXPECT_FALSE(gain->deleteKeyAt(10));
    EXPECT_EQ(gain->getNumKeys(), 2);

    // Keys of a whole-number knob interpolate to whole numbers.
    ArrayKnob* count = array("count");
    count->set_value_at(1, 0);
    count->setKeyAt(0);
    count->set_value_at(4, 3);
    EXPECT_DOUBLE_EQ(count->get_value_at(1), 2.0);
}

TEST_F(KnobTest, FlagsAndCallbacks) {
    Knob* k = node->knob("gain");
    k->set_flag(Knob::INVISIBLE | 0x8000000000ull);
    EXPECT_TRUE(k->flag(0x8000000000ull));
    k->clear_flag(Knob::INVISIBLE);
    EXPECT_FALSE(k->flag(Knob::INVISIBLE));
    EXPECT_TRUE(k->flag(0x8000000000ull));

    int calls = 0;
    const int id = k->addCallback([&calls](Knob*) { ++calls; });
    node->setKnobFromUser("gain", "3");
    k->removeCallback(id);
    node->setKnobFromUser("gain", "4");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(op->log, (std::vector<std::string>{"changed gain", "changed gain"}));

    // A value set from code brings no knob_changed.
    op->log.clear();
    static_cast<ArrayKnob*>(k)->set_value(9);
    EXPECT_TRUE(op->log.empty());
}

TEST_F(KnobTest, ChoiceKnobsSaveNamesAndRefuseUnknownOnes) {
    EXPECT_EQ(text("mode"), "Multi Band");
    node->setKnobFromUser("mode", "Custom");
    node->storeKnobs(op->outputContext());
    EXPECT_EQ(op->mode, 7) << "an entry 'index<tab>label' stores its own index";
    node->setKnobFromUser("mode", "0");
    EXPECT_EQ(text("mode"), "Alpha");
    EXPECT_THROW(node->setKnobFromUser("mode", "2"), std::invalid_argument);
    EXPECT_THROW(node->setKnobFromUser("mode", "Lanczos"), std::invalid_argument);

    node->storeKnobs(op->outputContext());
    EXPECT_EQ(op->format.format.width(), 2048);
    EXPECT_EQ(op->format.fullSizeFormat.height(), 1024);
    node->setKnobFromUser("format", "1000 500 2");
    EXPECT_EQ(text("format"), "1000 500 2");
    node->setKnobFromUser("format", "HD_1080");
    EXPECT_EQ(text("format"), "HD_1080");
    EXPECT_THROW(node->setKnobFromUser("format", "huge 10"), std::invalid_argument);
    EXPECT_THROW(node->setKnobFromUser("format", "0 100"), std::invalid_argument);
    EXPECT_EQ(text("format"), "HD_1080");

    Views::setNames({"main", "cam1", "cam2"});
    node->setKnobFromUser("views", "{cam2 cam1}");
    EXPECT_EQ(text("views"), "{cam1 cam2}");
    node->storeKnobs(op->outputContext());
    EXPECT_EQ(op->views, (std::set<int>{1, 2}));
    EXPECT_EQ(thrown<std::invalid_argument>([&] { node->setKnobFromUser("views", "{cam3}"); }),
              "knob 'views': the project has no view 'cam3'");
    Views::setNames({"main"});
}

TEST_F(KnobTest, ButtonsScriptsAndLinks) {
    KnobCallback f(node.get());
    f.make<LinkKnob>("again", "Again", "setCount");
    TestOps::RecordingHost host;
    Host::install(&host);
    op->log.clear();
    node->pressKnob("press");
    node->pressKnob("again");
    host.scriptsSucceed = false;
    node->pressKnob("setCount");
    Host::install(nullptr);
    const std::string setCount = "Recorder1: node['count'].setValue(7)";
    EXPECT_EQ(host.scripts, (std::vector<std::string>{setCount, setCount}));
    EXPECT_EQ(op->log, (std::vector<std::string>{"changed press", "changed setCount"}))
        << "a failed script does not reach knob_changed";
}
