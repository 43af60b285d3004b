// SPDX-License-Identifier: Apache-2.0
#include "kiln/KernelExecutionContext.h"

#include "KernelImages.h"
#include "KernelRegistry.h"
#include "kiln/Exception.h"
#include "kiln/Image.h"

namespace Kiln {
namespace Compute {

KernelExecutionContext::KernelExecutionContext(KernelPtr kernel)
    : m_kernel(std::move(kernel)),
      m_params(m_kernel->variant().paramBlockBytes(), 0),
      m_deviceParams(m_params) {}

void KernelExecutionContext::setImageParamBindings(const ImageList& images) {
    const std::string what = m_kernel->describe();
    const auto signature = detail::imageSignature(images, m_kernel->context()->device(), what);
    if (signature != m_kernel->variant().signature)
        throw KernelError(what + ": images bound with signature " + detail::joinTokens(signature));
    m_images = images;
}

KernelExecutionContext::MarshalledParam KernelExecutionContext::getMarshalledParamThrow(
    ParamName name) {
    const auto& params = m_kernel->variant().params;
    for (std::size_t i = 0; i < params.size(); ++i)
        if (params[i].name == name) return {params[i].kind, m_params.data() + 4 * i};
    throw KernelError(m_kernel->describe() + ": no parameter " + FormatParamName(name));
}

void KernelExecutionContext::badType(ParamName name, ParamKind written) const {
    int declared = 0;
    for (const auto& param : m_kernel->variant().params)
        if (param.name == name) declared = static_cast<int>(param.kind);
    throw KernelError(m_kernel->describe() + ": parameter " + FormatParamName(name) +
                      " is of kind " + std::to_string(declared) + ", written as kind " +
                      std::to_string(static_cast<int>(written)));
}

void KernelExecutionContext::iterate(const DevicePtr& device, const IterationController& c) {
    const std::string what = m_kernel->describe();
    if (device != m_kernel->context()->device())
        throw DeviceError(what + ": iterate on another device");
    if (m_images.empty()) throw KernelError(what + ": no images bound");
    if (c.stepX != 1 || c.stepY != 1 || c.stepZ != 1)
        throw KernelError(what + ": only steps of 1 are supported");
    if (!(c.z0 == 0 && (c.z1 == 0 || c.z1 == 1)))
        throw KernelError(what + ": images are 2D; the z range must be [0, 1)");

    const Image& output = *m_images[m_kernel->variant().outputImage];
    Box domain = output.box();
    const bool whole = c.x0 == 0 && c.y0 == 0 && c.x1 == 0 && c.y1 == 0 && c.z1 == 0;
    if (!whole) domain = domain.intersect({c.x0, c.y0, c.x1, c.y1});
    if (domain.empty()) return;

    if (m_paramsChanged) {
        m_deviceParams = m_params;
        m_paramsChanged = false;
    }
    std::vector<KernelImage> images;
    images.reserve(m_images.size());
    for (const Image* image : m_images)
        images.push_back({image->origin(), image->rowBytes(), image->box()});
    device->run(m_kernel->variant(), images, m_deviceParams.data(), domain);
}

void WriteScalarBytes(KernelExecutionContext& context,
                      ParamName name,
                      ParamKind kind,
                      const void* value) {
    const KernelExecutionContext::MarshalledParam param = context.getMarshalledParamThrow(name);
    if (param.kind != kind) context.badType(name, kind);
    const std::size_t bytes = ParamKindBytes(kind);
    if (std::memcmp(param.slot, value, bytes) != 0) {
        std::memcpy(param.slot, value, bytes);
        context.setParamsChanged();
    }
}

}  // namespace Compute
}  // namespace Kiln
