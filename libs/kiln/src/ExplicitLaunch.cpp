// SPDX-License-Identifier: Apache-2.0
#include "kiln/ExplicitLaunch.h"

#include "KernelImages.h"

namespace Kiln {
namespace Compute {

void RunExplicit(const ProgramSource& source,
                 unsigned flags,
                 const ImageList& images,
                 const std::function<void(KernelExecutionContext&)>& writeScalars) {
    const DevicePtr device = detail::deviceOf(images, source.kernelId());
    KernelExecutionContext context(
        Kernel::Make(device->context(), source, images, "", flags, nullptr, nullptr));
    context.setImageParamBindings(images);
    if (writeScalars) writeScalars(context);
    context.iterate(device, IterationController{});
}

}  // namespace Compute
}  // namespace Kiln
