// SPDX-License-Identifier: Apache-2.0
#include "kiln/KernelRegistration.h"

#include <cstring>
#include <string>

#include "kiln/JIT.h"

namespace Kiln {
namespace JIT {

void RegisterCpuVariants(const char* kernelId,
                         const std::vector<CpuVariant>& variants,
                         const char* paramTable) {
    // Target and flags of every variant, in registration order. The CUDA target "4_8_1" joins
    // this list, with the same signatures, once a GPU backend exists (none is built yet).
    static const char* const kTargets[] = {"2_2_1", "2_2_19"};
    // CPU targets carry no GPU code; the registry takes a 2-byte placeholder.
    static const char kNoGpuCode[2] = {0, 0};
    for (const char* target : kTargets) {
        for (const CpuVariant& variant : variants) {
            std::string key = std::string(kernelId) + "_" + target;
            for (int i = 0; i < variant.imageCount; ++i)
                key += "_" + Pixel::SignatureToken(variant.channels[i], variant.type);
            // Flags 1 and 19 choose code-generation options of a run-time compiler; code built
            // ahead of time is already optimised, so both keys share one function.
            AddPrecompiledKernel(key,
                                 kNoGpuCode,
                                 sizeof kNoGpuCode,
                                 sizeof kNoGpuCode,
                                 &variant.code,
                                 sizeof(CpuKernelCode),
                                 sizeof(CpuKernelCode),
                                 paramTable,
                                 std::strlen(paramTable));
        }
    }
}

}  // namespace JIT
}  // namespace Kiln
