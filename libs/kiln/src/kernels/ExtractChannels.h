// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/ParamName.h"

namespace Kiln {
namespace Kernels {

/// A run of channels into the first channels. Images: source, destination (the output). Scalars:
/// first channel, channel count.
constexpr const char* kExtractChannelsId =
    "579a850eef9b672416ed48b09eddca7834ee3dc6edad41adeafbf5b2351e2552";
/// Parameter table, in the order of the kernel's parameter block.
constexpr const char* kExtractChannelsParams = "o0d882fc936c0d168 3\no83775d61660c639b 3\n";

/// Registers every variant of the kernel; later calls do nothing.
void registerExtractChannels();

constexpr Compute::ParamName kExtractChannelsFirst = 0x0d882fc936c0d168;  // int
constexpr Compute::ParamName kExtractChannelsCount = 0x83775d61660c639b;  // int

}  // namespace Kernels
}  // namespace Kiln
