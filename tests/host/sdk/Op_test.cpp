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

TEST_F(Execute, AnOperatorWithoutAnExecutablePartIsRefused) {
    auto source = Node::create("TestViewSource", "Source1");
    EXPECT_THROW(execute(source->op(), {1}), std::invalid_argument);
}

TEST(SplitInputs, EachSplitInputRendersInItsOwnContext) {
    auto source = Node::create("TestViewSource", "Source1");
    auto splitter = Node::create("TestViewSplitter", "Splitter1");
    auto* op = static_cast<TestOps::ViewSplitter*>(splitter->op());
    splitter->setInput(0, source.get());
    ASSERT_EQ(op->inputs(), 3);
    EXPECT_EQ(op->input(2), source->op());
    EXPECT_EQ(op->input(3), nullptr);
    EXPECT_EQ(op->graphInputOf(2), 0);

    op->validate();
    ASSERT_FALSE(op->hasError()) << op->errorMessage();
    ImagePlane plane = op->fetchPlane(op->info().box(), Mask_RGB);
    ASSERT_TRUE(plane.hasBuffer()) << op->errorMessage();
    for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(plane.at(k, 0, 0), float(k)) << "input " << k;
    EXPECT_EQ(source->op()->outputContext().view(), 0) << "the source's context is restored";
}

TEST(SplitInputs, HashFollowsKnobsAndInputs) {
    auto source = Node::create("TestViewSource", "Source1");
    auto a = Node::create("TestRecorder", "A");
    auto b = Node::create("TestRecorder", "B");
    EXPECT_EQ(a->op()->hash(), b->op()->hash());
    b->setKnobFromUser("gain", "2");
    EXPECT_NE(a->op()->hash(), b->op()->hash());
    b->setKnobFromUser("gain", "1");
    EXPECT_EQ(a->op()->hash(), b->op()->hash());

    auto splitter = Node::create("TestViewSplitter", "Splitter1");
    const Hash unconnected = splitter->op()->hash();
    splitter->setInput(0, source.get());
    EXPECT_NE(splitter->op()->hash(), unconnected);
}
