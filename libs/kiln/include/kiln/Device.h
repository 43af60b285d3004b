// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "base/RefCounter.h"
#include "kiln/Box.h"

namespace Kiln {
namespace JIT {
struct KernelVariant;
}

namespace Compute {

class Context;
class Device;
using ContextPtr = boost::intrusive_ptr<Context>;
using DevicePtr = boost::intrusive_ptr<Device>;

/// Device classes and programming interfaces, the codes hosts pass around. A kernel target is
/// "<class>_<interface>": "2_2" for the CPU, "4_8" for a CUDA GPU.
constexpr int kDeviceClassCpu = 2;
constexpr int kDeviceClassGpu = 4;
constexpr int kInterfaceNative = 2;
constexpr int kInterfaceOpenCL = 4;
constexpr int kInterfaceCuda = 8;
/// Passed as an interface: "whatever GPU the framework currently prefers".
constexpr int kInterfaceCurrentGpu = 16;

/// One pixel buffer handed to a kernel: host address of pixel (box.x0, box.y0), row pitch in
/// bytes, and the box the pixels cover.
struct KernelImage {
    unsigned char* origin = nullptr;
    std::ptrdiff_t rowBytes = 0;
    Box box;
};

/// A device owns image memory and runs kernels. The CPU device always exists; others exist only
/// when both the build and the machine support them. run() may be called from several threads
/// at once; allocate() and release() are thread-safe.
class Device : public Korvane::Base::RefCounter {
public:
    struct Info {
        std::string name;
        int deviceClass = kDeviceClassCpu;
        int interface = kInterfaceNative;
        /// Threads of the CPU device, multiprocessors of a GPU.
        unsigned computeUnits = 1;
    };

    /// The devices of `interface` and `deviceClass` this process can open; empty without such a
    /// backend or hardware.
    static std::vector<Info> findInfo(int interface, int deviceClass);

    virtual const Info& info() const = 0;
    /// "<class>_<interface>", the target field of the kernel variants this device runs.
    std::string target() const;
    /// A context through which launches reach this device; contexts hold their device alive.
    ContextPtr context();

    /// `bytes` of memory of the kind `memoryName`, aligned to `alignment` (a power of two).
    /// Throws DeviceError for an unknown kind or when memory runs out.
    virtual void* allocate(std::size_t bytes,
                           std::size_t alignment,
                           const std::string& memoryName) = 0;
    virtual void release(void* memory) noexcept = 0;
    /// True when allocated memory can be read and written by host code (the CPU device).
    virtual bool hostAccessible() const = 0;

    /// Runs `variant` over `domain` (a part of the output image's box) and returns when every
    /// pixel is written. `params` is the kernel's parameter block.
    virtual void run(const JIT::KernelVariant& variant,
                     const std::vector<KernelImage>& images,
                     const unsigned char* params,
                     const Box& domain) = 0;
};

}  // namespace Compute
}  // namespace Kiln
