// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Korvane {
namespace Research {

/// What renderers and analysis need of the split input: where camera position p sits among
/// the node's inputs, and how many camera views there are.
class MultiViewInterface {
public:
    virtual ~MultiViewInterface() = default;
    virtual int inputIndexOfCameraPosition(int position) const = 0;
    virtual int numberOfCameraViews() const = 0;
};

}  // namespace Research
}  // namespace Korvane
