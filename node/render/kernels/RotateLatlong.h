// SPDX-License-Identifier: Apache-2.0
// Quaternion rotation of an equirectangular panorama, resampled in the same pass.
//
// Images: source, destination (C float each, C = 1..4; the destination is the output),
// launched explicitly with flags 19. Each image's box is its whole panorama: longitude
// -180..180 degrees across the box, 0 (looking along +Z) at its centre; latitude -90..90
// bottom to top. Scalars: the rotation quaternion w, x, y, z (float; normalised by the kernel,
// so any non-zero q works) and the filter (int, the resampling filter values 0..3).
// The destination's direction d shows the source's direction R(q) d; to turn a panorama by a
// view rotation q, pass q's inverse. x wraps around the seam; a quaternion of zero length
// writes zeros.
#pragma once

#include "kiln/ParamName.h"

namespace Korvane {
namespace Research {
namespace Kernels {

constexpr const char* kRotateLatlongId =
    "8e28d396613705848c0af4818550ee3feb681e8648d0b3d6e9776b1b4e42ee3a";
constexpr const char* kRotateLatlongParams =
    "o880287af167eaa09 1\no5afe7002c752ef08 1\no0380e5bd86446fab 1\no2e5ec8d1a0be0ef6 1\n"
    "of1da6a5765ca0673 3\n";
constexpr Kiln::Compute::ParamName kRotateW = 0x880287af167eaa09;       // float
constexpr Kiln::Compute::ParamName kRotateX = 0x5afe7002c752ef08;       // float
constexpr Kiln::Compute::ParamName kRotateY = 0x0380e5bd86446fab;       // float
constexpr Kiln::Compute::ParamName kRotateZ = 0x2e5ec8d1a0be0ef6;       // float
constexpr Kiln::Compute::ParamName kRotateFilter = 0xf1da6a5765ca0673;  // int

/// Registers the kernel's variants; later calls do nothing.
void registerRotateLatlong();

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
