// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <mutex>
#include <vector>

#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"
#include "render/kernels/CpuKernelVariants.h"
#include "render/kernels/FieldKernels.h"
#include "render/kernels/Resample.h"

namespace Kiln {
namespace ImageStitcher {
namespace Kernels {

constexpr const char* kAlignParams = "o9f02e4576dafe376 1\no3a3a2f51a22a38a5 1\n";

namespace {

using Compute::KernelImage;
using JIT::CpuLaunch;
using JIT::PixelAt;

/// Where a field column is read for an output column: its two taps (wrapped) and weight.
struct FieldColumn {
    int x0, x1;
    float t;
};

using Korvane::Research::Kernels::CubicFilter;
using Korvane::Research::Kernels::floorToInt;

/// C at the continuous position (px, py) through the renderer's Cubic filter, x wrapping
/// around C's box, zero beyond its rows. Where all 4 x 4 taps lie inside the box (all but the
/// pixels near its edges) they are read in pairs, as the resampling kernels read them.
inline __attribute__((always_inline)) void sampleCamera(const KernelImage& cam,
                                                        float px,
                                                        float py,
                                                        float* out) {
    constexpr int kTaps = CubicFilter::kTaps;
    const int w = cam.box.width(), h = cam.box.height();
    const float fx = px - 0.5f - float(cam.box.x0);
    const float fy = py - 0.5f - float(cam.box.y0);
    const int ix = floorToInt(fx), iy = floorToInt(fy);
    float wx[kTaps], wy[kTaps];
    CubicFilter::weights(fx - float(ix), wx);
    CubicFilter::weights(fy - float(iy), wy);
    const int left = ix - 1, bottom = iy - 1;
    if (left >= 0 && left + kTaps <= w && bottom >= 0 && bottom + kTaps <= h) {
        Korvane::Research::Kernels::sampleInside4<CubicFilter>(
            cam.origin + std::ptrdiff_t(bottom) * cam.rowBytes + std::ptrdiff_t(left) * 16,
            cam.rowBytes,
            wx,
            wy,
            out);
        return;
    }
    // Across the longitude seam (or farther), or at the first and last rows.
    int columns[kTaps];
    for (int i = 0; i < kTaps; ++i) columns[i] = ((left + i) % w + w) % w * 4;
    float result[4] = {};
    for (int j = 0; j < kTaps; ++j) {
        const int y = bottom + j;
        if (y < 0 || y >= h) continue;
        const float* row =
            reinterpret_cast<const float*>(cam.origin + std::ptrdiff_t(y) * cam.rowBytes);
        for (int i = 0; i < kTaps; ++i)
            for (int c = 0; c < 4; ++c) result[c] += wy[j] * wx[i] * row[columns[i] + c];
    }
    std::copy_n(result, 4, out);
}

/// No field moves a pixel this far; anything beyond (or NaN) is not applied.
constexpr float kFarthestShift = 1.0e5f;

/// One output row, columns x0 .. x1, y: `across` holds per column the field's x and y
/// interpolated across its upper row, then across its lower row; `ty` mixes the two. The
/// Cubic weights of a run of pixels are computed together (RunWeights: they vectorise).
RENDER_CPU_VERSIONS void alignRow(
    const KernelImage& cam, const float* across, float ty, int x0, int x1, int y, float* op) {
    using Run = Korvane::Research::Kernels::RunWeights<CubicFilter>;
    // The frame reaches from 0 to the box's far edges; the taps are checked against the box.
    const Korvane::Research::Kernels::SourceView source(cam, cam.box.x1, cam.box.y1, false);
    Run run;
    float px[Run::kSize], py[Run::kSize];
    bool still[Run::kSize];
    for (int first = x0; first < x1; first += Run::kSize) {
        const int n = std::min(Run::kSize, x1 - first);
        bool moved = false;
        for (int i = 0; i < n; ++i, across += 4) {
            const float d0 = (1.0f - ty) * across[0] + ty * across[2];
            const float d1 = (1.0f - ty) * across[1] + ty * across[3];
            // A displacement that is not a finite, sane number of pixels leaves the pixel where
            // it is: a NaN would otherwise turn into a tap index anywhere in memory.
            still[i] = (d0 == 0.0f && d1 == 0.0f) ||
                       !(std::fabs(d0) < kFarthestShift && std::fabs(d1) < kFarthestShift);
            moved |= !still[i];
            px[i] = float(first + i) + 0.5f + d0;
            py[i] = float(y) + 0.5f + d1;
        }
        float* out = op + std::ptrdiff_t(first - x0) * 4;
        if (!moved) {
            std::copy_n(PixelAt<float, 4>(cam, first, y), std::size_t(n) * 4, out);
            continue;
        }
        run.weigh(source, px, py, 1, n);
        for (int i = 0; i < n; ++i, out += 4) {
            const int x = first + i;
            if (still[i])
                std::copy_n(PixelAt<float, 4>(cam, x, y), 4, out);
            else if (run.inside[i])
                run.sample(source, i, out);
            else
                sampleCamera(cam, px[i], py[i], out);
        }
    }
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
            const int ix = floorToInt(fx);
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
            const int iy = floorToInt(fy);
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
            alignRow(cam, across.data(), ty, x0, x1, y, op);
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
