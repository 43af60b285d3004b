// SPDX-License-Identifier: Apache-2.0
#include "kiln/LaunchKernel.h"

#include <cstring>

#include "KernelImages.h"
#include "kiln/Image.h"
#include "kiln/KernelExecutionContext.h"

namespace Kiln {
namespace Compute {
namespace {

template <typename T>
Param makeTypedParam(ParamName name, ParamKind kind, T value) {
    Param param;
    param.name = name;
    param.kind = kind;
    std::memcpy(param.bytes.data(), &value, sizeof value);
    return param;
}

}  // namespace

Param ParamHandler::makeParam(ParamName name, float value) {
    return makeTypedParam(name, ParamKind::Float, value);
}

Param ParamHandler::makeParam(ParamName name, int value) {
    return makeTypedParam(name, ParamKind::Int, value);
}

Param ParamHandler::makeParam(ParamName name, bool value) {
    return makeTypedParam(name, ParamKind::Bool, value);
}

void LaunchKernel(const ProgramSource& source,
                  const ImageHandler& images,
                  const ParamHandler* params,
                  const Box* rectangle,
                  bool optimised) {
    const ImageList& list = images.images();
    const DevicePtr device = detail::deviceOf(list, source.kernelId());
    KernelExecutionContext context(
        Kernel::Make(device->context(), source, list, "", optimised ? 19 : 1, nullptr, nullptr));
    context.setImageParamBindings(list);
    if (params != nullptr)
        for (const Param& param : params->params())
            WriteScalarBytes(context, param.name, param.kind, param.bytes.data());
    IterationController controller;
    if (rectangle != nullptr) {
        // An empty rectangle runs nothing; all-zero bounds would mean the whole output.
        if (rectangle->empty()) return;
        controller.x0 = rectangle->x0;
        controller.y0 = rectangle->y0;
        controller.x1 = rectangle->x1;
        controller.y1 = rectangle->y1;
    }
    context.iterate(device, controller);
}

}  // namespace Compute
}  // namespace Kiln
