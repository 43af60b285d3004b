// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <vector>

#include "kiln/Box.h"
#include "kiln/Image.h"
#include "render/StitchAnalysis.h"

namespace Kiln {
namespace ImageStitcher {

/// Launch wrappers of the stitcher's kernels (render/kernels/StitchKernels.h says what each
/// computes). Rectangles are absolute pixel boxes; the work is clipped to the output's box.
/// Failures throw KernelError before any pixel is written. The accumulation wrappers take an
/// optional falloff image (falloffImage; null or empty: none) that divides the camera by its
/// vignetting falloff along with its gains.

/// Rectangles as left, right, bottom, top, in each image's pixel units.
struct Bounds {
    float left, right, bottom, top;
    static Bounds of(const Box& box) {
        return {float(box.x0), float(box.x1), float(box.y0), float(box.y1)};
    }
};

/// The falloff image (render/kernels/StitchKernels.h) of the camera image or pyramid level whose
/// box `cosines` covers (its grid: the panorama's, or a level's), with `table` from
/// inverseFalloffTable.
Image falloffImage(const AxisCosines& cosines,
                   const std::vector<float>& table,
                   const Compute::DevicePtr& device);

void resizeBounds(const Image& source,
                  const Bounds& sourceBounds,
                  Image& destination,
                  const Bounds& destinationBounds,
                  bool wrap);
void accumulateBand(const Image& level,
                    const Image& expanded,
                    const Image& weight,
                    Image& accumulator,
                    const std::array<float, 3>& gain,
                    bool coarsest,
                    const Box& rectangle,
                    const Image* falloff = nullptr);
void fillLevel(const Image& level,
               const Image& expanded,
               Image& filled,
               const std::array<float, 3>& fill,
               float threshold,
               bool coarsest,
               const Box& rectangle);
void accumulateAlpha(const Image& camera,
                     const Image& feather,
                     Image& accumulator,
                     const std::array<float, 3>& gain,
                     float featherScaleX,
                     float featherScaleY,
                     float floor,
                     float threshold,
                     const Box& rectangle,
                     const Image* falloff = nullptr);
void seamLabel(const Image& camera,
               const Image& feather,
               Image& label,
               int cameraIndex,
               float featherScaleX,
               float featherScaleY,
               float floor,
               float threshold,
               const Box& rectangle);
/// seamLabel over `rectangle` and the reduce of `camera` into `level1` (the pyramid factory's,
/// with `gaussian` and `spherical`, divided by the falloff image of `level1` when one is
/// given) in one pass over the camera.
void seamLabelReduce(const Image& camera,
                     const Image& feather,
                     Image& label,
                     Image& level1,
                     int cameraIndex,
                     float featherScaleX,
                     float featherScaleY,
                     float floor,
                     float threshold,
                     const Box& rectangle,
                     float gaussian,
                     bool spherical,
                     const Image* falloff = nullptr);
void seamWeight(const Image& label, Image& weight, int cameraIndex, const Box& rectangle);
void normalise(const Image& accumulator,
               const Image& label,
               Image& output,
               float threshold,
               bool expand,
               bool final);
/// The fused multi-band steps (render/kernels/MultiBandKernels.h); `gaussian` and `spherical`
/// are the pyramid factory's, so each expands exactly as the factory does. bandZero works over
/// `rectangle`, a part of `levelZero`, the box of the camera's level 0 (its level 1 is
/// `coarser`); `level` holds the camera's pixels over `rectangle`.
void bandFill(const Image& coarser,
              Image& level,
              const Image& weight,
              Image& accumulator,
              const std::array<float, 3>& gain,
              float gaussian,
              bool spherical);
void bandZero(const Image& coarser,
              const Image& level,
              const Image& weight,
              Image& output,
              const std::array<float, 3>& gain,
              float gaussian,
              bool spherical,
              const Box& levelZero,
              const Box& rectangle,
              const Image* falloff = nullptr);
void collapseLevel(
    const Image& coarser, Image& accumulator, float threshold, float gaussian, bool spherical);
void collapseFinal(const Image& coarser,
                   const Image& label,
                   Image& output,
                   float gaussian,
                   bool spherical,
                   bool expand);
/// The align kernel (render/kernels/FieldKernels.h) over `rectangle` only; the output keeps its
/// other pixels. The camera is read with x wrapping around its box (camera images cover the
/// whole panorama).
void align(const Image& camera,
           const Image& field,
           Image& output,
           float fieldScaleX,
           float fieldScaleY,
           const Box& rectangle);

}  // namespace ImageStitcher
}  // namespace Kiln
