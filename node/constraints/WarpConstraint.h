// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "external/VisionLibrary.h"

namespace Korvane {
namespace Research {

/// One requirement on the warp of one camera at one frame. The inherited position (x, y) is the
/// target: where the content must appear in the warped view, in input pixels. `score` holds the
/// weight (>= 0). (dx, dy) is the observed position minus the target: where that content lies
/// in the unwarped input, relative to the target.
struct WarpConstraint : SLIB::Feature {
    double dx = 0.0;
    double dy = 0.0;

    double weight() const { return score; }
};

/// Where gathered warp constraints go, filed under the frame they belong to.
class WarpConstraintSink {
public:
    virtual ~WarpConstraintSink() = default;
    virtual void addWarpConstraint(int frame, const WarpConstraint& constraint) = 0;
};

}  // namespace Research
}  // namespace Korvane
