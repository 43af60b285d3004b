// SPDX-License-Identifier: Apache-2.0
#include <cstring>

#include "CopyImage.h"
#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"

namespace Kiln {
namespace Kernels {
namespace {

template <typename T, int C>
struct CopyImageRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const JIT::CpuLaunch& launch, int rowBegin, int rowEnd) {
        JIT::ForEachSourceRun<T, C, T, C>(
            launch, 1, 0, rowBegin, rowEnd, [](T* out, const T* in, int count) {
                const std::size_t bytes = sizeof(T) * C * std::size_t(count);
                // memmove: a source translated onto its own pixels may overlap.
                if (in != nullptr)
                    std::memmove(out, in, bytes);
                else
                    std::memset(out, 0, bytes);
            });
    }
};

}  // namespace

void registerCopyImage() {
    static std::once_flag once;
    JIT::RegisterOnce<&JIT::SameShapeVariants<CopyImageRows, 2>>(
        once, kCopyImageId, kCopyImageParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerCopyImage(), true);
}

}  // namespace Kernels
}  // namespace Kiln
