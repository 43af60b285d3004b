// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "kiln/Context.h"

namespace Kiln {

/// Process-wide entry points: the contexts of the open devices and the memory kinds. Every
/// function is thread-safe.
class KilnLibrary {
public:
    /// The CPU device's context, made on first use; it runs on the process's worker pool
    /// (WorkerPool).
    static Compute::ContextPtr GetCurrentCPUContext();
    /// The contexts of the GPUs reached through `interface` (kInterfaceOpenCL or kInterfaceCuda);
    /// empty in a build without a GPU backend.
    static std::vector<Compute::ContextPtr> GetGPUContexts(int interface);
    /// The GPU the framework prefers for `interface` (kInterfaceCurrentGpu: any); null when there
    /// is none.
    static Compute::ContextPtr GetCurrentGPUContext(int interface);
    /// The context bound to the calling thread by AutoContextThreadBinder, or null.
    static Compute::ContextPtr GetThreadContext();

    /// Memory kinds images may be allocated in; "buffer" and "texture" exist from load time.
    static std::vector<std::string> MemoryKinds();
    static bool HasMemoryKind(const std::string& name);
};

}  // namespace Kiln
