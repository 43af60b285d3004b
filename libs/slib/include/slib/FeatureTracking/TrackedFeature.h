// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "slib/Feature.h"
#include "slib/FeatureTrack.h"

namespace Korvane {
namespace SLIB {
namespace FeatureTracking {

/// A feature as the tracker follows it: the position (pixels), `score` the normalised
/// cross-correlation of its patch with the patch it was followed from (1 identical, -1
/// inverted; a feature given to the tracker starts at 1), and `error` the root mean square
/// intensity difference of the two patches after alignment, or kLost when the tracker could not
/// follow it.
struct TrackedFeature : Feature {
    static constexpr double kLost = -1.0;

    double error = 0.0;

    TrackedFeature() = default;
    TrackedFeature(double px, double py, double s = 1.0, double e = 0.0) : Feature(px, py) {
        score = s;
        error = e;
    }
    bool lost() const { return error == kLost; }
};

using TrackedFeatureTrack = TFeatureTrack<TrackedFeature>;

}  // namespace FeatureTracking
}  // namespace SLIB
}  // namespace Korvane
