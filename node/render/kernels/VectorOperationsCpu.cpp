// SPDX-License-Identifier: Apache-2.0
#include "render/kernels/VectorOperations.h"

#include <algorithm>
#include <mutex>

#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"
#include "render/kernels/PositionImage.h"

namespace Korvane {
namespace Research {
namespace Kernels {
namespace {

using Kiln::JIT::CpuLaunch;
using Kiln::JIT::PixelAt;

struct ConvertRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const int mode = launch.param<int>(0);
        const float sign = mode == 1 ? 1.0f : mode == 2 ? -1.0f : 0.0f;
        const Kiln::Compute::KernelImage& in = launch.images[0];
        const Kiln::Compute::KernelImage& out = launch.images[1];
        for (int y = rowBegin; y < rowEnd; ++y) {
            const float cy = sign * (float(y) + 0.5f);
            float* o = PixelAt<float, 2>(out, launch.domain.x0, y);
            const bool rowInside = y >= in.box.y0 && y < in.box.y1;
            for (int x = launch.domain.x0; x < launch.domain.x1; ++x, o += 2) {
                // A pixel the source lacks reads as no displacement (or the position q).
                float vx = 0.0f, vy = 0.0f;
                if (rowInside && x >= in.box.x0 && x < in.box.x1) {
                    const float* i = PixelAt<float, 2>(in, x, y);
                    vx = i[0];
                    vy = i[1];
                }
                o[0] = vx + sign * (float(x) + 0.5f);
                o[1] = vy + cy;
            }
        }
    }
};

struct ComposeRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const Kiln::Compute::KernelImage& inner = launch.images[0];
        const Kiln::Compute::KernelImage& positions = launch.images[1];
        const bool wrap = launch.param<int>(0) != 0;
        const Kiln::Box& box = inner.box;
        const float left = float(box.x0), right = float(box.x1);
        const float bottom = float(box.y0), top = float(box.y1);
        const float period = right - left;
        for (int y = rowBegin; y < rowEnd; ++y) {
            float* p = PixelAt<float, 2>(positions, launch.domain.x0, y);
            for (int x = launch.domain.x0; x < launch.domain.x1; ++x, p += 2) {
                float px = p[0];
                const float py = p[1];
                bool ok = isSample(px) && isSample(py) && py >= bottom && py <= top;
                if (ok && wrap && !(px >= left && px < right) && std::abs(px) < 1e9f)
                    px -= period * std::floor((px - left) / period);
                ok = ok && px >= left && px <= right;
                if (!ok) {
                    p[0] = p[1] = kNoSample;
                    continue;
                }
                const float u = px - 0.5f, v = py - 0.5f;
                const int iu = floorToInt(u), iv = floorToInt(v);
                const float fx = u - float(iu), fy = v - float(iv);
                const auto column = [&](int i) {
                    if (wrap) i = box.x0 + wrapIndex(i - box.x0, box.x1 - box.x0);
                    return std::clamp(i, box.x0, box.x1 - 1);
                };
                const int ca = column(iu), cb = column(iu + 1);
                const int ra = std::clamp(iv, box.y0, box.y1 - 1);
                const int rb = std::clamp(iv + 1, box.y0, box.y1 - 1);
                const float* t00 = PixelAt<float, 2>(inner, ca, ra);
                const float* t10 = PixelAt<float, 2>(inner, cb, ra);
                const float* t01 = PixelAt<float, 2>(inner, ca, rb);
                const float* t11 = PixelAt<float, 2>(inner, cb, rb);
                const float w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy);
                const float w01 = (1 - fx) * fy, w11 = fx * fy;
                const auto dead = [](const float* t, float w) {
                    return w > 0.0f && !isSample(t[0]);
                };
                if (dead(t00, w00) || dead(t10, w10) || dead(t01, w01) || dead(t11, w11)) {
                    p[0] = p[1] = kNoSample;
                    continue;
                }
                // A tap without weight may hold kNoSample; leave it out of the sum.
                const auto take = [](const float* t, float w, int c) {
                    return w > 0.0f ? w * t[c] : 0.0f;
                };
                for (int c = 0; c < 2; ++c)
                    p[c] = take(t00, w00, c) + take(t10, w10, c) + take(t01, w01, c) +
                           take(t11, w11, c);
            }
        }
    }
};

template <class Rows>
std::vector<Kiln::JIT::CpuVariant> vectorVariants() {
    return {
        {{&Rows::rows, Rows::kOutputImage}, {2, 2, 0, 0}, 2, Kiln::Pixel::ComponentType::Float}};
}

}  // namespace

void registerVectorOperations() {
    static std::once_flag convert, compose;
    Kiln::JIT::RegisterOnce<&vectorVariants<ConvertRows>>(
        convert, kVectorConvertId, kVectorConvertParams);
    Kiln::JIT::RegisterOnce<&vectorVariants<ComposeRows>>(
        compose, kVectorComposeId, kVectorComposeParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerVectorOperations(), true);
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
