// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/ParamName.h"

namespace Kiln {
namespace Kernels {

/// One channel into another. Images: source, destination (the output). Scalars: source channel,
/// destination channel.
constexpr const char* kCopyChannelId =
    "fed3f1bd9261bea4a58e27a4c59070bb25caf6fad68d25c6756b3cadd54636d3";
/// Parameter table, in the order of the kernel's parameter block.
constexpr const char* kCopyChannelParams = "ofee1762ca88c4d33 3\no529f615d6591acbe 3\n";

/// Registers every variant of the kernel; later calls do nothing.
void registerCopyChannel();

constexpr Compute::ParamName kCopyChannelSource = 0xfee1762ca88c4d33;       // int
constexpr Compute::ParamName kCopyChannelDestination = 0x529f615d6591acbe;  // int

}  // namespace Kernels
}  // namespace Kiln
