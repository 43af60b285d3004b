// SPDX-License-Identifier: Apache-2.0
#include <cstring>

#include "ResetImage.h"
#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"

namespace Kiln {
namespace Kernels {
namespace {

template <typename T, int C>
struct ResetImageRows {
    static constexpr unsigned kOutputImage = 0;
    static void rows(const JIT::CpuLaunch& launch, int rowBegin, int rowEnd) {
        const Box& d = launch.domain;
        for (int y = rowBegin; y < rowEnd; ++y)
            std::memset(JIT::PixelAt<T, C>(launch.images[0], d.x0, y),
                        0,
                        sizeof(T) * C * std::size_t(d.width()));
    }
};

}  // namespace

void registerResetImage() {
    static std::once_flag once;
    JIT::RegisterOnce<&JIT::SameShapeVariants<ResetImageRows, 1>>(
        once, kResetImageId, kResetImageParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerResetImage(), true);
}

}  // namespace Kernels
}  // namespace Kiln
