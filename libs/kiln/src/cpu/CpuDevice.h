// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Device.h"

namespace Kiln {
namespace detail {

/// A CPU device (target "2_2"). With 0 threads it runs on the process's worker pool
/// (WorkerPool); otherwise on a pool of its own with `threads` threads, the launching thread
/// included (for tests that compare thread counts). Kernels run over the output in row bands
/// shared among the threads.
Compute::DevicePtr createCpuDevice(unsigned threads = 0);

}  // namespace detail
}  // namespace Kiln
