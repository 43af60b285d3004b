// SPDX-License-Identifier: Apache-2.0
#include "kiln/Kernel.h"

#include "KernelImages.h"
#include "KernelRegistry.h"
#include "kiln/Exception.h"
#include "kiln/Image.h"
#include "kiln/JIT.h"

namespace Kiln {
namespace detail {

Compute::DevicePtr deviceOf(const Compute::ImageList& images, const std::string& kernelId) {
    if (images.empty() || images[0] == nullptr || images[0]->empty())
        throw DeviceError("kernel " + kernelId + ": launched without a first image");
    return images[0]->device();
}

std::vector<std::string> imageSignature(const Compute::ImageList& images,
                                        const Compute::DevicePtr& device,
                                        const std::string& what) {
    std::vector<std::string> tokens;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const Image* image = images[i];
        if (image == nullptr || image->empty())
            throw DeviceError(what + ": image " + std::to_string(i) + " is empty");
        if (image->device() != device)
            throw DeviceError(what + ": image " + std::to_string(i) + " is on device " +
                              image->device()->info().name);
        tokens.push_back(Pixel::SignatureToken(image->channels(), image->type()));
    }
    return tokens;
}

std::string joinTokens(const std::vector<std::string>& tokens) {
    std::string joined;
    for (const std::string& token : tokens) joined += (joined.empty() ? "" : "_") + token;
    return joined;
}

}  // namespace detail

namespace Compute {

Kernel::Kernel(ContextPtr context, const JIT::KernelVariant* variant)
    : m_context(std::move(context)), m_variant(variant) {}

KernelPtr Kernel::Make(const ContextPtr& context,
                       const ProgramSource& source,
                       const ImageList& images,
                       const std::string& entryName,
                       unsigned flags,
                       const std::string* compileOptions,
                       std::string* compileLog) {
    const std::string& id = source.kernelId();
    if (!context) throw DeviceError("kernel " + id + ": no context");
    const DevicePtr& device = context->device();
    const std::string where = "kernel " + id + " on device " + device->info().name;
    if (source.hasSourceText())
        throw KernelError(where + ": kernels are precompiled; source text cannot be compiled");
    if (!entryName.empty() || compileOptions != nullptr || compileLog != nullptr)
        throw KernelError(where + ": precompiled kernels take no entry name, options or log");

    const std::string key = id + "_" + device->target() + "_" + std::to_string(flags) + "_" +
                            detail::joinTokens(detail::imageSignature(images, device, where));
    const JIT::KernelVariant* variant = JIT::detail::KernelRegistry::instance().find(key);
    if (variant == nullptr) {
        std::string registered;
        for (const std::string& k : JIT::RegisteredVariants(id))
            registered += (registered.empty() ? "" : ", ") + k.substr(id.size() + 1);
        throw KernelError(
            "no variant " + key + " on device " + device->info().name +
            "; registered for this id: " + (registered.empty() ? "none" : registered));
    }
    return KernelPtr(new Kernel(context, variant));
}

const std::string& Kernel::key() const { return m_variant->key; }

std::string Kernel::describe() const {
    return "kernel " + key() + " on device " + m_context->device()->info().name;
}

}  // namespace Compute
}  // namespace Kiln
