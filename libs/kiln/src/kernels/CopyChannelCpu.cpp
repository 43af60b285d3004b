// SPDX-License-Identifier: Apache-2.0
#include "CopyChannel.h"
#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"

namespace Kiln {
namespace Kernels {
namespace {

template <typename T, int CIn, int COut>
struct CopyChannelRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const JIT::CpuLaunch& launch, int rowBegin, int rowEnd) {
        const int from = launch.param<int>(0);
        const int to = launch.param<int>(1);
        // The wrapper rejects these; a bad launch must still not write outside the pixels.
        if (from < 0 || from >= CIn || to < 0 || to >= COut) return;
        JIT::ForEachSourceRun<T, COut, T, CIn>(
            launch, 1, 0, rowBegin, rowEnd, [from, to](T* out, const T* in, int count) {
                for (int p = 0; p < count; ++p)
                    out[p * COut + to] = in != nullptr ? in[p * CIn + from] : T(0);
            });
    }
};

}  // namespace

void registerCopyChannel() {
    static std::once_flag once;
    JIT::RegisterOnce<&JIT::CrossShapeVariants<CopyChannelRows>>(
        once, kCopyChannelId, kCopyChannelParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerCopyChannel(), true);
}

}  // namespace Kernels
}  // namespace Kiln
