// SPDX-License-Identifier: Apache-2.0
// An equirectangular panorama seen turned by a quaternion, resampled in the same pass: as a
// panorama again, or through an ideal rectilinear camera at its centre.
//
// Images: source, destination (C float each, C = 1..4; the destination is the output),
// launched explicitly with flags 19. The source box is its whole panorama: longitude
// -180..180 degrees across the box, 0 (looking along +Z) at its centre; latitude -90..90
// bottom to top. Scalars: the rotation quaternion w, x, y, z (float; normalised by the kernel,
// so any non-zero q works), the filter (int, the resampling filter values 0..3), then the
// destination's lens (int): 0, a panorama over its box as the source's; 1, rectilinear, the
// pixel (x, y) of the box (y up) at q = (x + 0.5 - centre x, (y + 0.5 - centre y) / aspect)
// from the optical centre looking along (q, focal); 2, equidistant fisheye, q looking at the
// angle |q| / focal from the optical axis (+Z), towards q, nothing from pi on. Lens scalars:
// focal (float, pixels across), centre x, centre y (float, pixels from the box's corner) and
// pixel aspect (float, width / height); unused by lens 0.
// The destination's direction d shows the source's direction R(q) d; to turn a panorama by a
// view rotation q, pass q's inverse (through a camera, R(q) is the camera-to-panorama
// rotation). x wraps around the seam; a quaternion of zero length, or a camera lens whose
// focal length or aspect is not a positive finite number, writes zeros. Where a destination
// pixel spans more than 1.25 source pixels along a source axis (a small or wide view, or the
// source's rows near its poles), the filter widens as the resampler's does (Resample.h), with
// the footprints the resampler would measure in the turn's position image.
#pragma once

#include "kiln/ParamName.h"

namespace Korvane {
namespace Research {
namespace Kernels {

constexpr const char* kRotateLatlongId =
    "8e28d396613705848c0af4818550ee3feb681e8648d0b3d6e9776b1b4e42ee3a";
constexpr const char* kRotateLatlongParams =
    "o880287af167eaa09 1\no5afe7002c752ef08 1\no0380e5bd86446fab 1\no2e5ec8d1a0be0ef6 1\n"
    "of1da6a5765ca0673 3\no9524b46e2b78c8d7 3\no764bed9709a75392 1\no75bd56c3134f573c 1\n"
    "o6cf4120626970e73 1\noeee73cb20afbabbc 1\n";
constexpr Kiln::Compute::ParamName kRotateW = 0x880287af167eaa09;        // float
constexpr Kiln::Compute::ParamName kRotateX = 0x5afe7002c752ef08;        // float
constexpr Kiln::Compute::ParamName kRotateY = 0x0380e5bd86446fab;        // float
constexpr Kiln::Compute::ParamName kRotateZ = 0x2e5ec8d1a0be0ef6;        // float
constexpr Kiln::Compute::ParamName kRotateFilter = 0xf1da6a5765ca0673;   // int
constexpr Kiln::Compute::ParamName kRotateLens = 0x9524b46e2b78c8d7;     // int
constexpr Kiln::Compute::ParamName kRotateFocal = 0x764bed9709a75392;    // float
constexpr Kiln::Compute::ParamName kRotateCentreX = 0x75bd56c3134f573c;  // float
constexpr Kiln::Compute::ParamName kRotateCentreY = 0x6cf4120626970e73;  // float
constexpr Kiln::Compute::ParamName kRotateAspect = 0xeee73cb20afbabbc;   // float

/// Registers the kernel's variants; later calls do nothing.
void registerRotateLatlong();

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
