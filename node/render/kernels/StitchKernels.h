// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>

#include "kiln/ParamName.h"

// The kernels of the stitcher. Images are float; positions are absolute pixel positions (a
// pixel lies at the same (x, y) in every image of a launch), except where bounds are passed.
// Camera images are premultiplied RGBA in the panorama: colour times alpha, alpha the part of
// the pixel the camera sees.

namespace Kiln {
namespace ImageStitcher {
namespace Kernels {

using Compute::ParamName;

/// Resize given both images' bounds: the destination box's rectangle (left, right, bottom,
/// top) shows the source's rectangle, each destination pixel the mean of a grid of bilinear
/// samples over its footprint (one sample when enlarging). Images: source, destination (1 to
/// 4 channels, alike). Scalars: eight floats (source bounds, then destination bounds), wrap
/// (bool: x wraps around the source box, as longitude does; else x is clamped). Outside the
/// source's rows the nearest row is read.
constexpr const char* kResizeBoundsId =
    "90de2add39d306cfd75627eba35f3a9b3cfd9304071fc66019d2ec27ec2fef66";
constexpr const char* kResizeBoundsParams =
    "obd64648a19ee17cc 1\no74a44424553d483d 1\nod58c275411e32f30 1\no03a7ed52cb57eb57 1\n"
    "of8d4175c97cb61ab 1\no679be18b5e8c8098 1\nobab4279c6ca9fda6 1\noeca535fc721aab6c 1\n"
    "o4cb988ba4376a1e3 4\n";
constexpr ParamName kSourceLeft = 0xbd64648a19ee17cc;
constexpr ParamName kSourceRight = 0x74a44424553d483d;
constexpr ParamName kSourceBottom = 0xd58c275411e32f30;
constexpr ParamName kSourceTop = 0x03a7ed52cb57eb57;
constexpr ParamName kDestinationLeft = 0xf8d4175c97cb61ab;
constexpr ParamName kDestinationRight = 0x679be18b5e8c8098;
constexpr ParamName kDestinationBottom = 0xbab4279c6ca9fda6;
constexpr ParamName kDestinationTop = 0xeca535fc721aab6c;
constexpr ParamName kWrap = 0x4cb988ba4376a1e3;  // bool

/// Band accumulation of multi-band blending, over a rectangle. Images: P (4f, the camera's
/// premultiplied Gaussian level), E (4f, the camera's filled next coarser level expanded to
/// this one), W (1f, the camera's blend weight at this level), A (4f accumulator, the output).
/// The camera's Laplacian band is P.rgb - P.a * E.rgb (its filled level minus E, see the fill
/// kernel), on the coarsest level (coarsest set) P.rgb itself. A.rgb += W * gain * band and
/// A.a += W. Scalars: gain r, g, b, coarsest. A fifth image, F (the falloff image of P),
/// divides P.rgb by the camera's falloff in the band.
constexpr const char* kBandAccumulateId =
    "a5877a19fad4182c9df4417e17f5964aa7b58ca46c7787bd7e5102d23b12453e";
/// Fill of a camera level (pull-push): F.rgb = P.rgb + (1 - P.a) * E.rgb, F.a = 1: inside the
/// camera its own colour, outside the expanded coarser fill, so no black from outside the
/// camera's footprint enters its bands. On the coarsest level (coarsest set) F.rgb = P.rgb /
/// P.a where P.a > threshold, else the fill colour (the camera's mean). Images: P, E, F (4f;
/// F may be P). Scalars: fill r, g, b, threshold, coarsest.
constexpr const char* kFillLevelId =
    "81a702ae7d5f38fda30baad0d871cdac5f6646132fa0ee55ec73985573493f72";
/// Alpha accumulation over a rectangle: A.rgb += f * gain * C.rgb, A.a += f * C.a, with f the
/// feather weight read bilinearly from the feather image (distance to the camera's own
/// boundary, at analysis size). Images: C (4f), feather (1f), A (4f). Scalars: gain r, g, b,
/// feather x scale, y scale (feather pixels per panorama pixel), floor (the least weight of a
/// pixel the camera sees), threshold (alpha below which the camera does not count). A fourth
/// image, F (the falloff image of C), divides C by its falloff too.
constexpr const char* kAlphaAccumulateId =
    "44da357212227b9f4be62bbb54792424e8f56f0035d490850c9b760d7050c3c1";
/// Seam label over a rectangle: where the camera sees the pixel (C.a > threshold) and its
/// feather weight beats L.x, L = (weight, camera, max(L.z, C.a), 0). Images: C (4f), feather
/// (1f), L (4f, or 2f: weight and camera alone, no coverage). Scalars: camera, feather x scale,
/// y scale, floor, threshold.
constexpr const char* kSeamLabelId =
    "4204fdc5cc29522422d0b3de668af72c5b0ab15718c9636deef42836fe71fb4a";
/// The seam label of a camera together with the first reduce of its pyramid, so that the camera
/// is read from memory once for both: the seam label over the rectangle (the camera's
/// footprint), and level 1 of the camera's Gaussian pyramid from the camera (the pyramid's
/// reduce, slib/src/kernels/PyramidKernels.h). Images: C (4f), feather (1f), L (4f or 2f), P1
/// (4f, the output: the domain). Scalars: the seam label's five, the Gaussian, spherical, the
/// rectangle's x0, y0, x1, y1. A fifth image, F (the falloff image of P1), divides P1's colour
/// by the camera's falloff after the reduce: the falloff barely bends over the filter's eight
/// pixels, so this stands for reducing the camera divided by it (the panoramas' PSNR and SSIM
/// agree to the last printed digit, node/render/README.md).
constexpr const char* kSeamLabelReduceId =
    "ba3d0711e4b1d4b297074f7054baf8b4a4f9fc4f60f6d139262b7e6121f23ee3";
/// Seam weight: W = 1 where L.y is the camera, else 0. Images: L (4f or 2f), W (1f). Scalar:
/// camera.
constexpr const char* kSeamWeightId =
    "cc16baf23b2d4fb2c630f820d819333bfcd3d472dd4bf375ac3775bddd9fdcde";
/// Normalise. Without final: rgb = A.rgb / A.a where A.a > threshold, else 0, and a = A.a
/// (an accumulator becomes a band). With final, A holds straight colour: with expand the
/// colour stays everywhere and a = 1 (areas no camera sees keep the fill of the coarse
/// levels); without, colour and alpha are multiplied by the coverage L.z (premultiplied, black
/// where no camera sees). Images: A, L, out (4f; out may be A). Scalars: threshold, expand,
/// final. L may have 2 channels (no coverage) with expand.
constexpr const char* kNormaliseId =
    "71a2f2d1077af24c4d41dca1ef589a690373c6464db461b96c18f759eb3ae635";

/// The falloff image F (1f) that some kernels take as their last image when the camera's lens
/// vignettes: the colour of one of their images, P (each kernel says which: the camera at full
/// resolution or a level of its pyramid), is multiplied by 1 / V(theta) (StitchAnalysis.h),
/// theta the angle of the pixel's view direction from the camera's axis. F holds, from its row
/// 0 up, AxisCosines' terms over P's box: row 0 the column terms for P's columns (entry x -
/// P.x0), row 1 the cosines of latitude and row 2 the up terms for P's rows (entry y - P.y0),
/// and row 3 the table of 1 / V against cos theta (inverseFalloffTable). Its width is the
/// longest of the four.
constexpr int kFalloffColumnRow = 0;
constexpr int kFalloffCosLatitudeRow = 1;
constexpr int kFalloffUpRow = 2;
constexpr int kFalloffTableRow = 3;
constexpr int kFalloffRows = 4;

/// Steps of the table of 1 / V against cos theta over -1 .. 1 (2049 entries and one repeated
/// at the end, so that interpolation never reads past it). V is smooth in cos theta (theta^2 is
/// about 2 (1 - cos theta) near the axis), so linear interpolation between these entries is
/// far finer than any falloff a lens has.
constexpr int kInverseFalloffSteps = 2048;

/// The table interpolated at `cosine` (clamped to -1 .. 1).
inline float inverseFalloffAt(const float* table, float cosine) {
    const float t = std::clamp(
        (cosine + 1.0f) * (0.5f * kInverseFalloffSteps), 0.0f, float(kInverseFalloffSteps));
    const int k = int(t);
    return table[k] + (t - float(k)) * (table[k + 1] - table[k]);
}

constexpr ParamName kGainR = 0x8fc0a8b66c7f0159;
constexpr ParamName kGainG = 0xaf3a6b3cfc881b73;
constexpr ParamName kGainB = 0xbc5006cfecf872e0;
constexpr ParamName kFillR = 0xcfc6e34dba50c757;
constexpr ParamName kFillG = 0x4e7305653eab07a4;
constexpr ParamName kFillB = 0x9f51683be8fb20e6;
constexpr ParamName kThreshold = 0x0812739b0810f36a;
constexpr ParamName kExpand = 0x437a806015b84e4b;  // bool
constexpr ParamName kCamera = 0x680eac95be1b36c8;
constexpr ParamName kScaleX = 0x9f02e4576dafe376;
constexpr ParamName kScaleY = 0x3a3a2f51a22a38a5;
constexpr ParamName kCoarsest = 0x63b0f1d8e2a4c97e;  // bool
constexpr ParamName kFloor = 0x4a7d2e9b1c3f8560;
constexpr ParamName kFinal = 0x0b6e5c3a9d2f1e47;  // bool
constexpr ParamName kRectangleX0 = 0x74ebfa7267f432bf;
constexpr ParamName kRectangleY0 = 0x49538e4f0342e25b;
constexpr ParamName kRectangleX1 = 0xc68ade87c59d4028;
constexpr ParamName kRectangleY1 = 0x532e9f9a39ed77be;

void registerStitchKernels();

}  // namespace Kernels
}  // namespace ImageStitcher
}  // namespace Kiln
