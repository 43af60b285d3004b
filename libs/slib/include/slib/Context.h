// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <tuple>

namespace Korvane {
namespace SLIB {

/// A (frame, view) pair: the key of warp-grid entries and of feature-track samples. `view` is
/// the host's view number (for a camera: its 0-based camera index + 1). Contexts order by frame,
/// then by view.
struct Context {
    int frame = 0;
    int view = 0;

    Context() = default;
    Context(int f, int v) : frame(f), view(v) {}

    bool operator<(const Context& o) const {
        return std::tie(frame, view) < std::tie(o.frame, o.view);
    }
    bool operator==(const Context& o) const { return frame == o.frame && view == o.view; }
    bool operator!=(const Context& o) const { return !(*this == o); }
};

}  // namespace SLIB
}  // namespace Korvane
