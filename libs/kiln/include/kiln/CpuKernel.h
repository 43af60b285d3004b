// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstring>

#include "kiln/Device.h"

namespace Kiln {
namespace JIT {

/// What the CPU device hands to one band of a kernel. `images` follow the kernel's image order;
/// `params` is the parameter block: one 4-byte slot per entry of the kernel's parameter table,
/// in table order (a Bool uses the slot's first byte). `domain` is the part of the output box
/// the whole launch covers; a band gets the rows [rowBegin, rowEnd) of it.
struct CpuLaunch {
    const Compute::KernelImage* images = nullptr;
    const unsigned char* params = nullptr;
    Box domain;

    template <typename T>
    T param(std::size_t index) const {
        T value;
        std::memcpy(&value, params + 4 * index, sizeof(T));
        return value;
    }
};

using CpuRowsFunction = void (*)(const CpuLaunch& launch, int rowBegin, int rowEnd);

/// The CPU code of one kernel variant, passed (with sizeof(CpuKernelCode) as both byte counts)
/// to AddPrecompiledKernel. The function is called concurrently for disjoint row bands and
/// must write only rows of its band of the output image `outputImage`.
struct CpuKernelCode {
    CpuRowsFunction rows = nullptr;
    unsigned outputImage = 0;
};

}  // namespace JIT
}  // namespace Kiln
