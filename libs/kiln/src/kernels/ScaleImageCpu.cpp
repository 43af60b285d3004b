// SPDX-License-Identifier: Apache-2.0
#include "ScaleImage.h"
#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"

namespace Kiln {
namespace Kernels {
namespace {

template <typename T, int C>
struct ScaleImageRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const JIT::CpuLaunch& launch, int rowBegin, int rowEnd) {
        const float factor = launch.param<float>(0);
        JIT::ForEachSourceRun<T, C, T, C>(
            launch, 1, 0, rowBegin, rowEnd, [factor](T* out, const T* in, int count) {
                const int n = C * count;
                for (int i = 0; i < n; ++i) out[i] = in != nullptr ? in[i] * factor : T(0);
            });
    }
};

}  // namespace

void registerScaleImage() {
    static std::once_flag once;
    JIT::RegisterOnce<&JIT::FloatShapeVariants<ScaleImageRows, 2>>(
        once, kScaleImageId, kScaleImageParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerScaleImage(), true);
}

}  // namespace Kernels
}  // namespace Kiln
