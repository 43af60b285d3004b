// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Device.h"

namespace Kiln {
namespace detail {

/// A CPU device (target "2_2") with `threads` threads, the launching thread included; 0 means
/// one per hardware thread. Kernels run over the output in row bands shared among the threads.
Compute::DevicePtr createCpuDevice(unsigned threads = 0);

}  // namespace detail
}  // namespace Kiln
