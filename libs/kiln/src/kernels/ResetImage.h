// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Kiln {
namespace Kernels {

/// Reset to zero. Images: the output. No scalars.
constexpr const char* kResetImageId =
    "679fbc58ac099a0b2af2c2d853a5b239eb7f07d87ec4f12b1a85dccd89a12f1c";
/// Parameter table, in the order of the kernel's parameter block.
constexpr const char* kResetImageParams = "";

/// Registers every variant of the kernel; later calls do nothing.
void registerResetImage();

}  // namespace Kernels
}  // namespace Kiln
