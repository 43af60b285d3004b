// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "analysis/Grid2D.h"

namespace Korvane {
namespace Research {

class GridMapKnob;

/// The warp grid of one camera view at a frame, from the grids solved at the analysis keys
/// (keys are the frames of the store that hold grids; `view` is the host view number of the
/// camera, camera index + 1):
///  - on a key, that key's grid, unchanged;
///  - between two keys p < frame < n, (1 - t) grid(p) + t grid(n) vertex by vertex, with
///    t = (frame - p) / (n - p);
///  - after the last key, the last key's grid; before the first key, the first key's grid (the
///    warp holds at both ends, as animation curves do, rather than snapping to no warp);
///  - where only one of the two keys has a grid for the view, that grid; where their sizes
///    differ (the grid size was changed between two solves), the nearer key's grid (the
///    earlier on a tie).
/// Null when the view has no grid at the key(s) concerned, or the store has none at all.
std::shared_ptr<Grid2D> warpGridAtFrame(const GridMapKnob& store, int frame, int view);

}  // namespace Research
}  // namespace Korvane
