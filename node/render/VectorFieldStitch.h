// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <utility>
#include <vector>

#include "render/StitchAnalysis.h"

namespace Kiln {
namespace ImageStitcher {

/// Figures of one vector-field computation, for reports and tests.
struct VectorFieldStats {
    int pairs = 0;           ///< linked pairs that overlapped enough to be measured
    float largestShift = 0;  ///< largest |displacement| of any camera, in vector-grid cells
    float largestJump = 0;   ///< largest |difference| between neighbouring cells of a field
    /// The same on the sphere: x components scaled by cos(latitude), so near a pole, where a
    /// cell spans a small arc, a large x difference counts as the small turn it is.
    float largestArcJump = 0;
};

/// The vector-field stitch: for every linked pair of cameras, a dense displacement between the
/// two inside their overlap, split between them so that both meet halfway.
///
/// Inputs are every camera at vector-grid size (premultiplied RGBA, equirectangular, x
/// wrapping; a lens's vignetting falloff already removed, so that overlaps agree but for the
/// gains), its exposure gains, and the linked pairs (camera positions in `cameras`). For a
/// pair (i, j) the flow F, with camera i at x showing what camera j shows at x + F(x), is
/// measured by dense inverse-search optical flow (OpenCV's DIS, on 8-bit luma, gain-compensated
/// and lightly denoised) over the overlap's bounding box, where each image is completed outside
/// its own footprint by the other's pixels so the flow falls to zero outside the overlap.
///
/// Sensor noise and photometric differences must not move the field, or static content
/// shimmers from frame to frame. So each cell of F gets a confidence (texture strength times
/// forward-backward consistency times photometric agreement, 0 where the two cameras do not
/// both see it, its forward-backward distance measured on the sphere); F is smoothed weighted by
/// it (sigma `smoothing` cells, horizontally over a wider arc toward the poles, where x shifts
/// in cells stand for ever smaller turns; holes filled from a three times wider neighbourhood),
/// shrinks toward zero where little of the neighbourhood is confident (weak texture, and across the
/// overlap's edge), is limited to `largestShift` cells, and is exactly zero below a deadband of 0.1
/// cell (rising smoothly to the full flow at 0.3 cell). Toward the poles, where a cell spans an
/// ever smaller arc, the field fades out between 60 and 75 degrees of latitude.
///
/// Camera i is moved by -t_i F and camera j by (1 - t_i) F, with t_i = f_j / (f_i + f_j) from
/// the cameras' distances to their own boundaries: each camera keeps its pixels where the
/// other ends, and both meet where they weigh the same. Where both cameras come within
/// 3 x `smoothing` cells of their own edges (the overlap's top and bottom), the shares change
/// fast, so F fades out there (smoothstep of the smaller distance) and the field never folds. A
/// camera's field is the sum over its pairs. Fields are backward displacements in vector-grid
/// cells: the aligned camera shows at q what it shows at q + D(q). Cameras without a measured pair
/// get a zero field.
///
/// The result depends only on the inputs (no state between frames), so static content gives
/// the same field on every frame.
std::vector<HostImage> computeVectorFields(const std::vector<HostImage>& cameras,
                                           const std::vector<std::array<float, 3>>& gains,
                                           const std::vector<std::pair<int, int>>& links,
                                           VectorFieldStats* stats = nullptr,
                                           float smoothing = 5.0f,
                                           float largestShift = 24.0f);

}  // namespace ImageStitcher
}  // namespace Kiln
