// SPDX-License-Identifier: Apache-2.0
// A warp-constraint sink that keeps what it is handed, for the tests of what goes to the solver.
#pragma once

#include <vector>

#include "constraints/WarpConstraint.h"

namespace NodeTests {

struct RecordingSink : Korvane::Research::WarpConstraintSink {
    void addWarpConstraint(int frame, const Korvane::Research::WarpConstraint& c) override {
        frames.push_back(frame);
        constraints.push_back(c);
    }
    std::vector<int> frames;
    std::vector<Korvane::Research::WarpConstraint> constraints;
};

}  // namespace NodeTests
