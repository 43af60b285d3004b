// SPDX-License-Identifier: Apache-2.0
#include "render/WarpGridAtFrame.h"

#include "analysis/GridMapKnob.h"

namespace Korvane {
namespace Research {

std::shared_ptr<Grid2D> warpGridAtFrame(const GridMapKnob& store, int frame, int view) {
    const int previous = store.previousKey(frame);
    const int next = store.nextKey(frame);
    // The store answers -1 for "no key", and -1 is a frame too: every key lies on one side of
    // -1, so both answers are -1 for frame -1 only when the store is empty or -1 is a key.
    const bool minusOneIsKey =
        store.gridCount() > 0 && store.previousKey(-1) == -1 && store.nextKey(-1) == -1;
    const bool hasPrevious = previous != -1 || (minusOneIsKey && frame >= -1);
    const bool hasNext = next != -1 || (minusOneIsKey && frame <= -1);
    if (hasPrevious && previous == frame) return store.getGrid(frame, view);
    if (!hasNext) return hasPrevious ? store.getGrid(previous, view) : nullptr;
    if (!hasPrevious) return store.getGrid(next, view);

    std::shared_ptr<Grid2D> a = store.getGrid(previous, view);
    std::shared_ptr<Grid2D> b = store.getGrid(next, view);
    const double t = double(frame - previous) / double(next - previous);
    if (!a || !b) return a ? a : b;
    if (a->width != b->width || a->height != b->height) return t <= 0.5 ? a : b;
    for (size_t i = 0; i < a->points.size(); ++i)
        a->points[i] = (1.0 - t) * a->points[i] + t * b->points[i];
    return a;
}

}  // namespace Research
}  // namespace Korvane
