// SPDX-License-Identifier: Apache-2.0
#include "CpuDevice.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "KernelRegistry.h"
#include "ProcessPool.h"
#include "ThreadPool.h"
#include "kiln/Exception.h"
#include "kiln/KilnLibrary.h"

namespace Kiln {
namespace detail {
namespace {

// Below this many pixels per band, waking a worker costs more than the band's work (a few
// microseconds either way), so small launches run on the calling thread alone.
constexpr std::size_t kMinBandPixels = 16384;
// Bands per thread: enough that a thread slowed by the host's other work does not hold up the
// launch, few enough that each band stays long. The threads take bands in turn, so the last
// band leaves the others idle for about half a band: with 4 a thread, a 2048 x 1024 view turn
// on 2 threads waited 0.8 to 1.9 ms of its 10 to 20 ms at the end (its kernel timed band by
// band on a shared machine), with 16 a thread 0.1 to 0.4 ms, at the same CPU time.
constexpr std::size_t kBandsPerThread = 16;

class CpuDevice : public Compute::Device {
public:
    // With an own pool of `threads` (tests use it), else on the process's pool.
    explicit CpuDevice(unsigned threads)
        : m_ownPool(threads > 0 ? std::make_unique<ThreadPool>(threads) : nullptr),
          m_pool(m_ownPool ? *m_ownPool : processPool()) {
        m_info.name = "CPU (" + std::to_string(m_pool.threadCount()) + " threads)";
        m_info.deviceClass = Compute::kDeviceClassCpu;
        m_info.interface = Compute::kInterfaceNative;
        m_info.computeUnits = m_pool.threadCount();
    }

    const Info& info() const override { return m_info; }
    bool hostAccessible() const override { return true; }

    void* allocate(std::size_t bytes,
                   std::size_t alignment,
                   const std::string& memoryName) override {
        // Both kinds are plain host memory on the CPU.
        if (!KilnLibrary::HasMemoryKind(memoryName))
            throw DeviceError("device " + m_info.name + ": unknown memory kind '" + memoryName +
                              "'");
        void* memory = nullptr;
        if (posix_memalign(&memory, std::max(alignment, sizeof(void*)), bytes) != 0)
            throw OutOfMemoryError("device " + m_info.name + ": out of memory allocating " +
                                   std::to_string(bytes) + " bytes");
        return memory;
    }

    void release(void* memory) noexcept override { std::free(memory); }

    void run(const JIT::KernelVariant& variant,
             const std::vector<Compute::KernelImage>& images,
             const unsigned char* params,
             const Box& domain) override {
        const JIT::CpuKernelCode& code = *variant.cpuCode;
        const JIT::CpuLaunch launch{images.data(), params, domain};
        const std::size_t rows = std::size_t(domain.height());
        const std::size_t pixels = rows * std::size_t(domain.width());
        const std::size_t bands =
            std::min({rows, m_pool.threadCount() * kBandsPerThread, pixels / kMinBandPixels});
        if (bands < 2) {
            code.rows(launch, domain.y0, domain.y1);
            return;
        }
        m_pool.parallelFor(bands, [&](std::size_t band) {
            code.rows(launch,
                      domain.y0 + int(rows * band / bands),
                      domain.y0 + int(rows * (band + 1) / bands));
        });
    }

private:
    Info m_info;
    std::unique_ptr<ThreadPool> m_ownPool;
    ThreadPool& m_pool;
};

}  // namespace

Compute::DevicePtr createCpuDevice(unsigned threads) {
    return Compute::DevicePtr(new CpuDevice(threads));
}

}  // namespace detail
}  // namespace Kiln
