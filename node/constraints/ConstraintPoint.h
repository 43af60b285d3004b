// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Korvane {
namespace Research {

/// A constraint point at one frame: its host view (1-based) and its position in pixels of that
/// view's input image.
struct ConstraintPoint {
    int view = 0;
    double x = 0.0;
    double y = 0.0;
};

}  // namespace Research
}  // namespace Korvane
