// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/ParamName.h"

// The kernel that applies the vector-field stitch's fields to the cameras. Images are float;
// positions are absolute pixel positions, pixel centres at +0.5.

namespace Kiln {
namespace ImageStitcher {
namespace Kernels {

/// Align: out(q) = C(q + D(q)) through the renderer's Cubic filter (Resample.h's CubicFilter
/// weights; a bilinear tap would soften the overlaps wherever D has a fraction), x wrapping
/// around C's box, zero beyond its rows; D read bilinearly from the field (2f, panorama pixels;
/// x wrapping, rows clamped) at q scaled by the field scale (field pixels per panorama pixel).
/// Where D is zero the camera is copied. Images: C (4f), field (2f), out (4f, the output).
/// Scalars: field x scale, y scale (the scale parameters of StitchKernels.h).
constexpr const char* kAlignId = "01de58610b20f06f030407507ee41fe5019b8b5758b46d775f8c3f6fc235c557";

void registerFieldKernels();

}  // namespace Kernels
}  // namespace ImageStitcher
}  // namespace Kiln
