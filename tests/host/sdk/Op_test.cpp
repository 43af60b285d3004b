// SPDX-License-Identifier: Apache-2.0
#include "px/image/Op.h"

#include <vector>

#include <gtest/gtest.h>

#include "TestOps.h"
#include "px/image/Executable.h"
#include "px/image/Host.h"
#include "px/image/Node.h"

using namespace PX::Image;

using Execute = TestOps::RecorderTest;

TEST_F(Execute, ProgressOfEachFrameIsItsShareOfTheWholeRun) {
    // The recorder reports half its work done in each frame: the bar moves only forward.
    TestOps::RecordingHost host;
    Host::install(&host);
    execute(node->op(), {1, 2});
    node->op()->progressFraction(0.5);  // after the run, the node's own fraction again
    Host::install(nullptr);
    EXPECT_EQ(host.shown, (std::vector<float>{0.0f, 0.25f, 0.5f, 0.75f, 0.5f}));
}

TEST_F(Execute, AnExceptionFromAFrameBecomesTheNodesErrorAndEndsTheRun) {
    op->throwAt = 2;
    const ExecuteResult r = execute(op, {1, 2, 3});
    EXPECT_EQ(r.error, "executing frame 2: out of memory, say");
    EXPECT_EQ(r.framesRun, 2);
    EXPECT_EQ(op->log.back(), "end") << "the end step still runs";
    EXPECT_EQ(op->log.end()[-2], "execute 2 count 5") << "no frame after the failure";
}

TEST_F(Execute, FramesMadeWithANodeWarningAreListedAndTheRunGoesOn) {
    struct WarningHost : TestOps::RecordingHost {
        void nodeWarning(Node* node, const std::string& text) override {
            warnings.push_back(node->name() + ": " + text);
        }
        std::vector<std::string> warnings;
    } host;
    Host::install(&host);
    op->warnAt = 2;
    const ExecuteResult r = execute(op, {1, 2, 3});
    Host::install(nullptr);
    EXPECT_TRUE(r.error.empty()) << r.error;
    EXPECT_EQ(r.framesRun, 3);
    EXPECT_EQ(r.framesWithWarnings, std::vector<int>{2});
    EXPECT_EQ(host.warnings,
              std::vector<std::string>{"Recorder1: frame 2 is made without one of its inputs"});
}

TEST_F(Execute, AnOperatorWithoutAnExecutablePartIsRefused) {
    auto source = Node::create("TestSource", "Source1");
    EXPECT_THROW(execute(source->op(), {1}), std::invalid_argument);
}

TEST(OpHash, FollowsKnobsAndInputs) {
    auto a = Node::create("TestRecorder", "A");
    auto b = Node::create("TestRecorder", "B");
    EXPECT_EQ(a->op()->hash(), b->op()->hash());
    b->setKnobFromUser("gain", "2");
    EXPECT_NE(a->op()->hash(), b->op()->hash());
    b->setKnobFromUser("gain", "1");
    EXPECT_EQ(a->op()->hash(), b->op()->hash());

    auto input = Node::create("TestRecorder", "C");
    b->setInput(0, input.get());
    EXPECT_NE(a->op()->hash(), b->op()->hash());
}
