// SPDX-License-Identifier: Apache-2.0
#include <algorithm>

#include "ExtractChannels.h"
#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"

namespace Kiln {
namespace Kernels {
namespace {

template <typename T, int CIn, int COut>
struct ExtractChannelsRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const JIT::CpuLaunch& launch, int rowBegin, int rowEnd) {
        const int first = launch.param<int>(0);
        // Only channels both images have are touched, whatever the launch passed.
        const int count = std::min({launch.param<int>(1), COut, CIn - first});
        if (first < 0 || count <= 0) return;
        JIT::ForEachSourceRun<T, COut, T, CIn>(
            launch, 1, 0, rowBegin, rowEnd, [first, count](T* out, const T* in, int pixels) {
                for (int p = 0; p < pixels; ++p)
                    for (int c = 0; c < count; ++c)
                        out[p * COut + c] = in != nullptr ? in[p * CIn + first + c] : T(0);
            });
    }
};

}  // namespace

void registerExtractChannels() {
    static std::once_flag once;
    JIT::RegisterOnce<&JIT::CrossShapeVariants<ExtractChannelsRows>>(
        once, kExtractChannelsId, kExtractChannelsParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerExtractChannels(), true);
}

}  // namespace Kernels
}  // namespace Kiln
