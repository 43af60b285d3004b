// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"
#include "render/kernels/CpuKernelVariants.h"
#include "render/kernels/FieldKernels.h"

namespace Kiln {
namespace ImageStitcher {
namespace Kernels {

constexpr const char* kAlignParams = "o9f02e4576dafe376 1\no3a3a2f51a22a38a5 1\n";

namespace {

using Compute::KernelImage;
using JIT::CpuLaunch;
using JIT::PixelAt;

inline int floorInt(float v) {
    const int i = int(v);
    return i - int(v < float(i));
}

/// Where a field column is read for an output column: its two taps (wrapped) and weight.
struct FieldColumn {
    int x0, x1;
    float t;
};

/// Four floats in one register; the arithmetic below is per component, in the same order as
/// a loop over the channels would do it.
typedef float Lanes4 __attribute__((vector_size(16)));

inline Lanes4 load4(const float* p) {
    Lanes4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

/// C at the continuous position (px, py): bilinear, x wrapping, zero beyond the rows.
inline void sampleCamera(const KernelImage& cam, float px, float py, float* out) {
    const int w = cam.box.width(), h = cam.box.height();
    const float fx = px - 0.5f - float(cam.box.x0);
    const float fy = py - 0.5f - float(cam.box.y0);
    const int ix = floorInt(fx), iy = floorInt(fy);
    const float tx = fx - float(ix), ty = fy - float(iy);
    int x0 = ix, x1 = ix + 1;
    if (x0 < 0 || x1 >= w) {  // across the longitude seam (or farther)
        x0 = ix % w + (ix % w < 0 ? w : 0);
        x1 = (ix + 1) % w + ((ix + 1) % w < 0 ? w : 0);
    }
    Lanes4 result = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int j = 0; j < 2; ++j) {
        const int y = iy + j;
        if (y < 0 || y >= h) continue;
        const float* row =
            reinterpret_cast<const float*>(cam.origin + std::ptrdiff_t(y) * cam.rowBytes);
        const float wy = j == 0 ? 1.0f - ty : ty;
        result += wy * ((1.0f - tx) * load4(row + std::ptrdiff_t(x0) * 4) +
                        tx * load4(row + std::ptrdiff_t(x1) * 4));
    }
    std::memcpy(out, &result, sizeof result);
}

struct AlignRows {
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const KernelImage& cam = launch.images[0];
        const KernelImage& field = launch.images[1];
        const KernelImage& out = launch.images[2];
        const float sx = launch.param<float>(0), sy = launch.param<float>(1);
        const int x0 = launch.domain.x0, x1 = launch.domain.x1;
        const int fw = field.box.width(), fh = field.box.height();
        // The field's columns are the same on every row: resolved once per band of rows.
        thread_local std::vector<FieldColumn> columns;
        columns.resize(std::size_t(x1 - x0));
        int first = fw, last = -1;
        for (int x = x0; x < x1; ++x) {
            const float fx = (float(x) + 0.5f) * sx - 0.5f;
            const int ix = floorInt(fx);
            FieldColumn& f = columns[std::size_t(x - x0)];
            f.x0 = ((ix % fw) + fw) % fw;
            f.x1 = f.x0 + 1 == fw ? 0 : f.x0 + 1;
            f.t = fx - float(ix);
            first = std::min({first, f.x0, f.x1});
            last = std::max({last, f.x0, f.x1});
        }
        // The field's two rows under an output row change every few output rows (the field is
        // coarser than the panorama): each column's horizontal interpolation in both rows is
        // kept until they change, so a row only mixes the two.
        thread_local std::vector<float> across;  // per column: x, y in the upper row, then lower
        across.resize(std::size_t(x1 - x0) * 4);
        int acrossRow = 0;
        bool acrossValid = false, acrossZero = true;
        for (int y = rowBegin; y < rowEnd; ++y) {
            const float fy = (float(y) + 0.5f) * sy - 0.5f;
            const int iy = floorInt(fy);
            const float ty = fy - float(iy);
            float* op = PixelAt<float, 4>(out, x0, y);
            if (!acrossValid || iy != acrossRow) {
                auto fieldRow = [&](int r) {
                    return reinterpret_cast<const float*>(
                        field.origin + std::ptrdiff_t(std::clamp(r, 0, fh - 1)) * field.rowBytes);
                };
                const float* r0 = fieldRow(iy);
                const float* r1 = fieldRow(iy + 1);
                acrossRow = iy;
                acrossValid = true;
                // Away from every overlap the field is exactly zero: such rows are copies.
                acrossZero = true;
                for (int i = 2 * first; i <= 2 * last + 1 && acrossZero; ++i)
                    acrossZero = r0[i] == 0.0f && r1[i] == 0.0f;
                if (!acrossZero)
                    for (int x = x0; x < x1; ++x) {
                        const FieldColumn& f = columns[std::size_t(x - x0)];
                        float* a = &across[std::size_t(x - x0) * 4];
                        for (int c = 0; c < 2; ++c) {
                            a[c] = (1.0f - f.t) * r0[2 * f.x0 + c] + f.t * r0[2 * f.x1 + c];
                            a[2 + c] = (1.0f - f.t) * r1[2 * f.x0 + c] + f.t * r1[2 * f.x1 + c];
                        }
                    }
            }
            if (acrossZero) {
                std::copy_n(PixelAt<float, 4>(cam, x0, y), std::size_t(x1 - x0) * 4, op);
                continue;
            }
            const float* a = across.data();
            for (int x = x0; x < x1; ++x, op += 4, a += 4) {
                const float d0 = (1.0f - ty) * a[0] + ty * a[2];
                const float d1 = (1.0f - ty) * a[1] + ty * a[3];
                if (d0 == 0.0f && d1 == 0.0f) {
                    const float* in = PixelAt<float, 4>(cam, x, y);
                    std::copy_n(in, 4, op);
                    continue;
                }
                sampleCamera(cam, float(x) + 0.5f + d0, float(y) + 0.5f + d1, op);
            }
        }
    }
};

}  // namespace

void registerFieldKernels() {
    static std::once_flag align;
    JIT::RegisterOnce<&floatVariant<AlignRows, 2, 4, 2, 4>>(align, kAlignId, kAlignParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerFieldKernels(), true);
}

}  // namespace Kernels
}  // namespace ImageStitcher
}  // namespace Kiln
