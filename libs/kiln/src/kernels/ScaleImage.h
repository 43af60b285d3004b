// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/ParamName.h"

namespace Kiln {
namespace Kernels {

/// Image scaled by a factor. Images: source, destination (the output). Scalars: factor.
constexpr const char* kScaleImageId =
    "6be744982317478effbaab0738ed60294f0b28d462b99efec2bc7e06f92a84af";
/// Parameter table, in the order of the kernel's parameter block.
constexpr const char* kScaleImageParams = "o4545eb999aeeeca6 1\n";

/// Registers every variant of the kernel; later calls do nothing.
void registerScaleImage();

constexpr Compute::ParamName kScaleImageFactor = 0x4545eb999aeeeca6;  // float

}  // namespace Kernels
}  // namespace Kiln
