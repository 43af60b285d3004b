// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Kiln {
namespace Kernels {

/// Image copy. Images: source, destination (the output). No scalars.
constexpr const char* kCopyImageId =
    "3c2f984ba201a5fa5d65f6148feb95c932d71c9d4ed29702fc8a8bacab87912e";
/// Parameter table, in the order of the kernel's parameter block.
constexpr const char* kCopyImageParams = "";

/// Registers every variant of the kernel; later calls do nothing.
void registerCopyImage();

}  // namespace Kernels
}  // namespace Kiln
