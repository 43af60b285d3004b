// SPDX-License-Identifier: Apache-2.0
#include "base/Progress.h"

#include <vector>

#include <gtest/gtest.h>

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

// A range maps [0, 1] onto [offset, offset + scale]; nested ranges compose up to the root, and
// the root's own range applies to its own reports; messages reach the root unchanged.
TEST(Progress, RangesAndMessagesReachTheRoot) {
    EXPECT_FLOAT_EQ(Progress().map(0.37f), 0.37f);
    RecordingRoot root;
    Progress views(&root);
    views.setRange(0.5f, 1.0f);  // second half of the root
    Progress oneView(&views);
    oneView.setRange(0.25f, 0.75f);  // middle half of that
    for (float f : {0.0f, 0.5f, 1.0f}) oneView.reportProgress(f);
    root.setRange(0.2f, 0.4f);
    root.reportProgress(0.5f);
    const float expected[] = {0.625f, 0.75f, 0.875f, 0.3f};
    ASSERT_EQ(root.fractions.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(root.fractions[i], expected[i]) << i;

    // Messages pass through every level unchanged.
    oneView.reportMessage("Matching view 3");
    EXPECT_EQ(root.messages, std::vector<std::string>{"Matching view 3"});
}
