// SPDX-License-Identifier: Apache-2.0
#include "kiln/KilnLibrary.h"

#include <algorithm>

#include "ThreadContext.h"
#include "cpu/CpuDevice.h"

namespace Kiln {

namespace detail {
Compute::ContextPtr& threadContextSlot() {
    thread_local Compute::ContextPtr bound;
    return bound;
}
}  // namespace detail

Compute::ContextPtr KilnLibrary::GetCurrentCPUContext() {
    static const Compute::ContextPtr cpu = detail::createCpuDevice()->context();
    return cpu;
}

std::vector<Compute::ContextPtr> KilnLibrary::GetGPUContexts(int /*interface*/) {
    // No GPU backend exists yet: the GPU lists stay empty.
    return {};
}

Compute::ContextPtr KilnLibrary::GetCurrentGPUContext(int /*interface*/) { return {}; }

Compute::ContextPtr KilnLibrary::GetThreadContext() { return detail::threadContextSlot(); }

std::vector<std::string> KilnLibrary::MemoryKinds() { return {"buffer", "texture"}; }

bool KilnLibrary::HasMemoryKind(const std::string& name) {
    const auto kinds = MemoryKinds();
    return std::find(kinds.begin(), kinds.end(), name) != kinds.end();
}

}  // namespace Kiln
