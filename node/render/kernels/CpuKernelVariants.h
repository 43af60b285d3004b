// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include "kiln/CpuRows.h"

// What the stitch kernels' CPU rows share: reading a boolean scalar, and the one float variant
// each kernel registers.

namespace Kiln {
namespace ImageStitcher {
namespace Kernels {

/// Scalar `index` of a launch read as a bool (its first byte, as the parameter table lays it).
inline bool boolParam(const JIT::CpuLaunch& launch, int index) {
    return launch.params[4 * index] != 0;
}

/// The single float variant of a kernel whose rows are `Rows::rows`: image `Output` is written,
/// the images have `Channels` channels each.
template <typename Rows, int Output, int... Channels>
std::vector<JIT::CpuVariant> floatVariant() {
    constexpr int kCount = sizeof...(Channels);
    return {
        JIT::CpuVariant{{&Rows::rows, Output}, {Channels...}, kCount, Pixel::ComponentType::Float}};
}

/// The variants of several lists, in order (one kernel's signatures from several rows types).
template <std::vector<JIT::CpuVariant> (*... Lists)()>
std::vector<JIT::CpuVariant> joinVariants() {
    std::vector<JIT::CpuVariant> out;
    for (const auto& list : {Lists()...}) out.insert(out.end(), list.begin(), list.end());
    return out;
}

}  // namespace Kernels
}  // namespace ImageStitcher
}  // namespace Kiln
