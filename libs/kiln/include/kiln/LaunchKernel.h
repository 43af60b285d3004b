// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Box.h"
#include "kiln/ImageHandler.h"
#include "kiln/ParamHandler.h"
#include "kiln/ProgramSource.h"

namespace Kiln {
namespace Compute {

/// The short launch: makes the kernel for the images' device with flags 19 when `optimised`,
/// else 1, writes `params` (null: the kernel has none) as WriteScalar does, and runs it over
/// `rectangle` clipped to the output box (null: the whole output). Returns when the kernel has
/// run; throws as Kernel::Make and KernelExecutionContext do, before writing any pixel.
void LaunchKernel(const ProgramSource& source,
                  const ImageHandler& images,
                  const ParamHandler* params,
                  const Box* rectangle,
                  bool optimised);

inline void LaunchKernel(const ProgramSource& source,
                         const ImageHandler& images,
                         const ParamHandler& params,
                         bool optimised) {
    LaunchKernel(source, images, &params, nullptr, optimised);
}

inline void LaunchKernel(const ProgramSource& source, const ImageHandler& images, bool optimised) {
    LaunchKernel(source, images, nullptr, nullptr, optimised);
}

}  // namespace Compute
}  // namespace Kiln
