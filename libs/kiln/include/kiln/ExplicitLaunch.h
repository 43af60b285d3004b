// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

#include "kiln/KernelExecutionContext.h"

namespace Kiln {
namespace Compute {

/// The explicit launch as launch sites write it: make the kernel on the images' device (the
/// device of the first image) with `flags`, bind `images`, let `writeScalars` write each scalar
/// with WriteScalar in the site's fixed order, and iterate over the whole output. Returns when
/// the output is complete; throws before writing it.
void RunExplicit(const ProgramSource& source,
                 unsigned flags,
                 const ImageList& images,
                 const std::function<void(KernelExecutionContext&)>& writeScalars = {});

}  // namespace Compute
}  // namespace Kiln
