// SPDX-License-Identifier: Apache-2.0
#include "vellacam/ProgressReporter.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "../../host/sdk/TestOps.h"

using Korvane::Research::CreateProgressReporter;
using Korvane::Research::ProgressReporter;
using Korvane::Research::ProgressSink;

namespace {

class RecordingSink : public ProgressSink {
public:
    void progressFraction(double fraction) override { fractions.push_back(fraction); }
    bool interrupted() const override { return false; }
    std::vector<double> fractions;
};

TEST(ProgressReporter, MapsStepFractionsIntoTheInterval) {
    auto sink = std::make_shared<RecordingSink>();
    ProgressReporter reporter(sink);
    reporter.setProgressInterval(0.2, 0.6);
    reporter.setProgressFraction(0.5);
    reporter.setProgressFraction(0.5);  // unchanged: not sent again
    reporter.setProgressFraction(2.0);
    reporter.setProgressFraction(std::nan(""));
    reporter.setProgressInterval(0.6, 1.0);
    reporter.setProgressFraction(1.0);
    const std::vector<double> expected{0.4, 0.6, 0.2, 1.0};
    ASSERT_EQ(sink->fractions.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(sink->fractions[i], expected[i], 1e-12) << i;
    EXPECT_THROW(reporter.setProgressInterval(0.7, 0.3), std::invalid_argument);
    EXPECT_THROW(reporter.setProgressInterval(-0.1, 0.3), std::invalid_argument);
    EXPECT_EQ(reporter.getIntervalBegin(), 0.6);  // a rejected interval changes nothing
}

TEST(ProgressReporter, ReachesTheHostThroughTheOperator) {
    auto node = PX::Image::Node::create("TestRecorder", "Recorder1");
    TestOps::RecordingHost host;
    PX::Image::Host::install(&host);
    const auto reporter = CreateProgressReporter(node->op());
    reporter->setProgressInterval(0.5, 1.0);
    reporter->setProgressFraction(0.5);
    reporter->setProgressFraction(1.0);
    EXPECT_FALSE(reporter->isInterrupted());
    host.cancel = true;
    EXPECT_TRUE(reporter->isInterrupted());
    host.cancel = false;
    EXPECT_TRUE(reporter->isInterrupted());  // sticky
    PX::Image::Host::install(nullptr);
    EXPECT_EQ(host.shown, std::vector<float>{0.75f});
    EXPECT_EQ(host.dismissed, 1);

    node->setAborted(true);  // a host abort interrupts as well
    EXPECT_TRUE(CreateProgressReporter(node->op())->isInterrupted());
    EXPECT_THROW(CreateProgressReporter(nullptr), std::invalid_argument);
}

}  // namespace
