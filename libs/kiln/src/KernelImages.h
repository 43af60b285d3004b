// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "kiln/Kernel.h"

namespace Kiln {
namespace detail {

/// The device all images of a launch live on: that of the first image. Throws DeviceError when
/// the list is empty or its first image is.
Compute::DevicePtr deviceOf(const Compute::ImageList& images, const std::string& kernelId);

/// One signature token per image. Throws DeviceError, prefixed with `what`, when an image is
/// missing, empty, or not on `device`.
std::vector<std::string> imageSignature(const Compute::ImageList& images,
                                        const Compute::DevicePtr& device,
                                        const std::string& what);

std::string joinTokens(const std::vector<std::string>& tokens);

}  // namespace detail
}  // namespace Kiln
