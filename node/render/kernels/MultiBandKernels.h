// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/ParamName.h"

// The fused kernels of multi-band blending: each expands a coarser level on the fly (the
// pyramid filters of slib/ImagePyramids/PyramidFilters.h, so the numbers are those of the
// pyramid factory's expand) and combines it with the finer level in the same pass, instead of
// writing the expanded level and reading it back. Every image is float; a level's pixels are
// indexed against its own box, the coarser level's against its own (pyramid alignment).
// Colour images are RGBA; accumulators hold sum(W * band) in rgb and sum(W) in alpha.

namespace Kiln {
namespace ImageStitcher {
namespace Kernels {

using Compute::ParamName;

/// Band and fill of one camera level k between the finest and the coarsest. Images: F' (4f,
/// the camera's filled level k + 1), P (4f, its Gaussian level k, premultiplied; the output,
/// overwritten by the fill), W (1f, its weight at level k), A (4f, level k's accumulator).
/// With E = expand(F'): A.rgb += W * gain * (P.rgb - P.a * E.rgb), A.a += W, then
/// P.rgb = P.rgb + (1 - clamp(P.a)) * E.rgb, P.a = 1. Scalars: gain r, g, b, Gaussian, spherical.
constexpr const char* kBandFillId =
    "b02e22d7c419366048fe7db6c48ec1f67dd80c49290dac6990b6363f7587c590";
/// The finest band of one camera, written straight into the panorama where the camera holds
/// the seam label (the finest weights are the labels themselves, one camera a pixel, so the
/// finest level needs no accumulator). Images: F' (4f, the camera's filled level 1), P (4f, its
/// level 0, premultiplied; may be larger than the work), W (1f, its seam weight at level 0: 1
/// where it holds the label, else 0), O (4f, output). O.rgb = gain * (P.rgb - P.a *
/// expand(F').rgb), O.a = 1 where W > 0; other pixels are untouched. Level 0 of the camera's
/// pyramid starts at the origin (its level 1 is F'), so expand indexes fine pixels from there.
/// Scalars: gain r, g, b, Gaussian, spherical, origin x, origin y (whole numbers). A fifth
/// image, F (the falloff image of P, StitchKernels.h), divides P.rgb by the camera's vignetting
/// falloff: O.rgb = gain * (P.rgb / V - P.a * expand(F').rgb), F' being made from the camera
/// already divided by it.
constexpr const char* kBandZeroId =
    "6903a446736fa6d30f800fbec6b8e8dc3b6b1361d4a2e397a07adda8c090be8f";
/// One collapse step of the blended pyramid, in place: A.rgb = (A.a > threshold ? A.rgb / A.a
/// : 0) + expand(R').rgb, A.a = A.a + expand(R').a, with R' the collapsed level k + 1. Images:
/// R' (4f), A (4f, the output). Scalars: threshold, Gaussian, spherical.
constexpr const char* kCollapseLevelId =
    "ca101a293170fc0369df0c085a073c965109d7570ba7357f8809c3f9d3000e3d";
/// The last collapse step, into the panorama: rgb = (L.x > 0 ? O.rgb : 0) + expand(R').rgb
/// (O holds the finest band where a camera holds the label, anything elsewhere), then with
/// expand O = (rgb, 1), without O = (rgb * L.z, L.z) (cut to the cameras' coverage). Images:
/// R' (4f, collapsed level 1), L (4f), O (4f, the output). Scalars: Gaussian, spherical,
/// expand.
constexpr const char* kCollapseFinalId =
    "8ffbb3cc4b59502e3220c112a41c5e54fe4d4bdb7980c0a6ef3c727252980c3c";

constexpr ParamName kGaussian = 0x692a5f5e04450b6c;   // float, sigma of the pyramid filters
constexpr ParamName kSpherical = 0xd09d535b51111135;  // bool
constexpr ParamName kOriginX = 0x09e0784d08812202;    // float
constexpr ParamName kOriginY = 0xe51eb8c0b041e396;    // float

void registerMultiBandKernels();

}  // namespace Kernels
}  // namespace ImageStitcher
}  // namespace Kiln
