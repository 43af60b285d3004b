// SPDX-License-Identifier: Apache-2.0
#include "analysis/AnalysisExecutor.h"

#include <gtest/gtest.h>

#include "analysis/ControlPointsKnob.h"
#include "px/image/UndoStack.h"

using namespace Korvane::Research;

TEST(MatchError, IsTheMeanOfEachRecordsMeanErrorWithEmptyRecordsAsZero) {
    PX::Image::UndoStack::instance().suspend();
    ControlPointsKnob store(nullptr, "controlPoints");
    EXPECT_EQ(store.matchError(), 0.0);
    for (int k = 0; k < 4; ++k) {
        FeatureTrack m;
        m.setPoint(Point(Eigen::Vector3d(0, 0, 1), k < 2 ? 1.0 : 3.0));  // mean 2.0
        store.cameraTrackAt(10).getTracks().push_back(m);
    }
    store.cameraTrackAt(20);
    EXPECT_DOUBLE_EQ(store.matchError(), 1.0);
    store.cameraTrackAt(30).getTracks().push_back(store.cameraTrackAt(10).getTracks()[0]);
    EXPECT_DOUBLE_EQ(store.matchError(), (2.0 + 0.0 + 1.0) / 3.0);
    PX::Image::UndoStack::instance().resume();
}
