// SPDX-License-Identifier: Apache-2.0
#include "px/image/ProcessMemory.h"

#include <climits>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace PX {
namespace Image {

void keepFreedMemory() {
#if defined(__GLIBC__)
    // Blocks below 1 GiB come from the heap instead of mappings of their own, and the heap is
    // not trimmed while less than 2 GiB lies free at its top.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
}

}  // namespace Image
}  // namespace PX
