// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <type_traits>
#include <vector>

#include "kiln/CpuRows.h"
#include "render/kernels/StitchKernels.h"

// What the stitch kernels' CPU rows share: reading a boolean scalar, a camera's vignetting
// correction, and the one float variant each kernel registers.

namespace Kiln {
namespace ImageStitcher {
namespace Kernels {

/// Scalar `index` of a launch read as a bool (its first byte, as the parameter table lays it).
inline bool boolParam(const JIT::CpuLaunch& launch, int index) {
    return launch.params[4 * index] != 0;
}

/// A camera's vignetting correction along one row, read from its falloff image (StitchKernels.h)
/// that goes with image `level` of the launch: at(x) is 1 / V at absolute column x of row y.
class FalloffRow {
public:
    FalloffRow(const Compute::KernelImage& falloff, const Compute::KernelImage& level, int y)
        : m_column(row(falloff, kFalloffColumnRow)),
          m_table(row(falloff, kFalloffTableRow)),
          m_x0(level.box.x0),
          m_cosLatitude(row(falloff, kFalloffCosLatitudeRow)[y - level.box.y0]),
          m_up(row(falloff, kFalloffUpRow)[y - level.box.y0]) {}

    float at(int x) const {
        return inverseFalloffAt(m_table, m_cosLatitude * m_column[x - m_x0] + m_up);
    }

private:
    static const float* row(const Compute::KernelImage& image, int r) {
        return reinterpret_cast<const float*>(image.origin + std::ptrdiff_t(r) * image.rowBytes);
    }

    const float* m_column;
    const float* m_table;
    int m_x0;
    float m_cosLatitude, m_up;
};

/// A camera without a falloff: the same interface, always 1 (multiplying by it folds away).
struct NoFalloff {
    NoFalloff(const Compute::KernelImage&, const Compute::KernelImage&, int) {}
    float at(int) const { return 1.0f; }
};

/// FalloffRow with a falloff image, NoFalloff without.
template <bool Falloff>
using FalloffOf = std::conditional_t<Falloff, FalloffRow, NoFalloff>;

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
