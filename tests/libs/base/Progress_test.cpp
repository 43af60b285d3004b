// SPDX-License-Identifier: Apache-2.0
#include "base/Progress.h"

#include <vector>

#include <gtest/gtest.h>

#include "base/Exception.h"

using Korvane::Base::Progress;

namespace {

/// Root reporter that records what reaches it.
class RecordingRoot : public Progress {
public:
    void reportProgress(float fraction) override { fractions.push_back(map(fraction)); }
    void reportMessage(const std::string& message) override { messages.push_back(message); }
    std::vector<float> fractions;
    std::vector<std::string> messages;
};

}  // namespace

TEST(Progress, DefaultRangeIsIdentity) {
    Progress p;
    EXPECT_FLOAT_EQ(p.offset(), 0.0f);
    EXPECT_FLOAT_EQ(p.scale(), 1.0f);
    EXPECT_FLOAT_EQ(p.map(0.37f), 0.37f);
}

TEST(Progress, NestedSubRangesComposeUpToTheRoot) {
    RecordingRoot root;
    Progress views(&root);
    views.setRange(0.5f, 1.0f);  // second half of the root
    Progress oneView(&views);
    oneView.setRange(0.25f, 0.75f);  // middle half of that

    oneView.reportProgress(0.0f);
    oneView.reportProgress(0.5f);
    oneView.reportProgress(1.0f);
    ASSERT_EQ(root.fractions.size(), 3u);
    EXPECT_FLOAT_EQ(root.fractions[0], 0.625f);
    EXPECT_FLOAT_EQ(root.fractions[1], 0.75f);
    EXPECT_FLOAT_EQ(root.fractions[2], 0.875f);
}

TEST(Progress, RootRangeAppliesToItsOwnReports) {
    RecordingRoot root;
    root.setRange(0.2f, 0.4f);
    root.reportProgress(0.5f);
    ASSERT_EQ(root.fractions.size(), 1u);
    EXPECT_FLOAT_EQ(root.fractions[0], 0.3f);
}

TEST(Progress, MessagesReachTheRootUnchanged) {
    RecordingRoot root;
    Progress child(&root);
    Progress grandChild(&child);
    grandChild.reportMessage("Matching view 3");
    ASSERT_EQ(root.messages.size(), 1u);
    EXPECT_EQ(root.messages[0], "Matching view 3");
}

TEST(Exceptions, InterruptedCarriesAUserMessage) {
    try {
        throw Korvane::Base::InterruptedException("Render aborted");
    } catch (const Korvane::Base::MessageException& e) {
        EXPECT_EQ(e.userMessage(), "Render aborted");
        EXPECT_STREQ(e.what(), "Render aborted");
    }
}
