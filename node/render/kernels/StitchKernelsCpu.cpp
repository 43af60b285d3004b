// SPDX-License-Identifier: Apache-2.0
#include <cmath>
#include <mutex>
#include <vector>

#include "external/VisionLibrary.h"
#include "kiln/CpuRows.h"
#include "kiln/KernelRegistration.h"
#include "render/kernels/CpuKernelVariants.h"
#include "render/kernels/StitchKernels.h"

namespace Kiln {
namespace ImageStitcher {
namespace Kernels {

constexpr const char* kBandAccumulateParams =
    "o8fc0a8b66c7f0159 1\noaf3a6b3cfc881b73 1\nobc5006cfecf872e0 1\no63b0f1d8e2a4c97e 4\n";
constexpr const char* kFillLevelParams =
    "ocfc6e34dba50c757 1\no4e7305653eab07a4 1\no9f51683be8fb20e6 1\no0812739b0810f36a 1\n"
    "o63b0f1d8e2a4c97e 4\n";
constexpr const char* kAlphaAccumulateParams =
    "o8fc0a8b66c7f0159 1\noaf3a6b3cfc881b73 1\nobc5006cfecf872e0 1\no9f02e4576dafe376 1\n"
    "o3a3a2f51a22a38a5 1\no4a7d2e9b1c3f8560 1\no0812739b0810f36a 1\n";
constexpr const char* kSeamLabelParams =
    "o680eac95be1b36c8 1\no9f02e4576dafe376 1\no3a3a2f51a22a38a5 1\no4a7d2e9b1c3f8560 1\n"
    "o0812739b0810f36a 1\n";
constexpr const char* kSeamLabelReduceParams =
    "o680eac95be1b36c8 1\no9f02e4576dafe376 1\no3a3a2f51a22a38a5 1\no4a7d2e9b1c3f8560 1\n"
    "o0812739b0810f36a 1\no692a5f5e04450b6c 1\nod09d535b51111135 4\no74ebfa7267f432bf 1\n"
    "o49538e4f0342e25b 1\noc68ade87c59d4028 1\no532e9f9a39ed77be 1\n";
constexpr const char* kSeamWeightParams = "o680eac95be1b36c8 1\n";
constexpr const char* kNormaliseParams =
    "o0812739b0810f36a 1\no437a806015b84e4b 4\no0b6e5c3a9d2f1e47 4\n";

namespace {

using Compute::KernelImage;
using JIT::CpuLaunch;
using JIT::PixelAt;

int wrapIndex(int i, int n) {
    i %= n;
    return i < 0 ? i + n : i;
}

/// int(std::floor(v)) without the library call that std::floor is on a baseline x86-64 build
/// (one per sample of every feather read).
inline int floorInt(float v) {
    const int i = int(v);
    return i - int(v < float(i));
}

/// Bilinear sample at the continuous absolute position (px, py) (pixel centres at +0.5). x
/// wraps around the box when `wrapX`, else clamps; rows beyond the box clamp.
template <int C>
void sampleBilinear(const KernelImage& image, float px, float py, bool wrapX, float* out) {
    const int w = image.box.width();
    const int h = image.box.height();
    const float fx = px - 0.5f - float(image.box.x0);
    const float fy = py - 0.5f - float(image.box.y0);
    const int ix = floorInt(fx);
    const int iy = floorInt(fy);
    const float tx = fx - float(ix);
    const float ty = fy - float(iy);
    if (ix >= 0 && iy >= 0 && ix + 1 < w && iy + 1 < h) {
        // Inside: no border rule.
        const float* r0 =
            reinterpret_cast<const float*>(image.origin + std::ptrdiff_t(iy) * image.rowBytes) +
            std::ptrdiff_t(ix) * C;
        const float* r1 = reinterpret_cast<const float*>(
            reinterpret_cast<const unsigned char*>(r0) + image.rowBytes);
        for (int c = 0; c < C; ++c)
            out[c] = (1.0f - ty) * ((1.0f - tx) * r0[c] + tx * r0[C + c]) +
                     ty * ((1.0f - tx) * r1[c] + tx * r1[C + c]);
        return;
    }
    for (int c = 0; c < C; ++c) out[c] = 0.0f;
    for (int j = 0; j < 2; ++j) {
        const int y = std::clamp(iy + j, 0, h - 1);
        const float wy = j == 0 ? 1.0f - ty : ty;
        const float* row =
            reinterpret_cast<const float*>(image.origin + std::ptrdiff_t(y) * image.rowBytes);
        for (int i = 0; i < 2; ++i) {
            const int x = wrapX ? wrapIndex(ix + i, w) : std::clamp(ix + i, 0, w - 1);
            const float wgt = wy * (i == 0 ? 1.0f - tx : tx);
            const float* p = row + std::ptrdiff_t(x) * C;
            for (int c = 0; c < C; ++c) out[c] += wgt * p[c];
        }
    }
}

template <typename T, int C>
struct ResizeBoundsRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const KernelImage& src = launch.images[0];
        const KernelImage& dst = launch.images[1];
        const float sl = launch.param<float>(0), sr = launch.param<float>(1);
        const float sb = launch.param<float>(2), st = launch.param<float>(3);
        const float dl = launch.param<float>(4), dr = launch.param<float>(5);
        const float db = launch.param<float>(6), dt = launch.param<float>(7);
        const bool wrap = boolParam(launch, 8);
        const float scaleX = (sr - sl) / (dr - dl);
        const float scaleY = (st - sb) / (dt - db);
        // Bilinear samples per destination pixel and axis, spread over a shrinking footprint:
        // about one per source pixel (each sample already averages two source pixels, so
        // 2.5 source pixels take 2 samples).
        const int nx = std::max(1, int(std::floor(std::abs(scaleX) + 0.25f)));
        const int ny = std::max(1, int(std::floor(std::abs(scaleY) + 0.25f)));
        const float norm = 1.0f / float(nx * ny);
        // Whole-number shrinking between whole-pixel bounds puts every sample on a pixel
        // centre: a plain box average, without the bilinear weights.
        auto whole = [](float v) { return std::abs(v - std::round(v)) < 1e-4f; };
        if (whole(scaleX) && whole(scaleY) && scaleX >= 1 && scaleY >= 1 && whole(sl) &&
            whole(sb) && whole(dl) && whole(db)) {
            const int w = src.box.width(), h = src.box.height();
            for (int y = rowBegin; y < rowEnd; ++y) {
                const int firstRow = int(std::lround(sb)) + (y - int(std::lround(db))) * ny;
                float* out = PixelAt<float, C>(dst, launch.domain.x0, y);
                for (int x = launch.domain.x0; x < launch.domain.x1; ++x, out += C) {
                    const int firstColumn =
                        int(std::lround(sl)) + (x - int(std::lround(dl))) * nx - src.box.x0;
                    float acc[C] = {};
                    for (int j = 0; j < ny; ++j) {
                        const int row = std::clamp(firstRow + j - src.box.y0, 0, h - 1);
                        const float* in = reinterpret_cast<const float*>(
                            src.origin + std::ptrdiff_t(row) * src.rowBytes);
                        if (firstColumn >= 0 && firstColumn + nx <= w) {
                            const float* p = in + std::ptrdiff_t(firstColumn) * C;
                            for (int i = 0; i < nx * C; i += C)
                                for (int c = 0; c < C; ++c) acc[c] += p[i + c];
                            continue;
                        }
                        for (int i = 0; i < nx; ++i) {
                            const int column = wrap ? wrapIndex(firstColumn + i, w)
                                                    : std::clamp(firstColumn + i, 0, w - 1);
                            for (int c = 0; c < C; ++c) acc[c] += in[column * C + c];
                        }
                    }
                    for (int c = 0; c < C; ++c) out[c] = acc[c] * norm;
                }
            }
            return;
        }
        // The samples' columns are the same on every row: resolved once per launch. Samples
        // whose four taps lie inside the source take sampleBilinear's inside formula here;
        // the others go through it with its border rule.
        struct Column {
            float px, tx;
            int ix;
        };
        const int width = launch.domain.width();
        const int w = src.box.width(), h = src.box.height();
        thread_local std::vector<Column> columns;
        columns.resize(std::size_t(width) * std::size_t(nx));
        for (int x = launch.domain.x0; x < launch.domain.x1; ++x) {
            const float cx = sl + (float(x) + 0.5f - dl) * scaleX;
            for (int i = 0; i < nx; ++i) {
                Column& col = columns[std::size_t(x - launch.domain.x0) * nx + i];
                col.px = cx + ((float(i) + 0.5f) / float(nx) - 0.5f) * scaleX;
                const float fx = col.px - 0.5f - float(src.box.x0);
                col.ix = floorInt(fx);
                col.tx = fx - float(col.ix);
            }
        }
        for (int y = rowBegin; y < rowEnd; ++y) {
            const float cy = sb + (float(y) + 0.5f - db) * scaleY;
            float* out = PixelAt<float, C>(dst, launch.domain.x0, y);
            for (int j = 0; j < ny; ++j) {
                const float py = cy + ((float(j) + 0.5f) / float(ny) - 0.5f) * scaleY;
                const float fy = py - 0.5f - float(src.box.y0);
                const int iy = floorInt(fy);
                const float ty = fy - float(iy);
                const bool rowInside = iy >= 0 && iy + 1 < h;
                const float* r0 = reinterpret_cast<const float*>(
                    src.origin + std::ptrdiff_t(rowInside ? iy : 0) * src.rowBytes);
                const float* r1 = reinterpret_cast<const float*>(
                    reinterpret_cast<const unsigned char*>(r0) + src.rowBytes);
                const Column* col = columns.data();
                float* o = out;
                for (int x = 0; x < width; ++x, o += C) {
                    // Accumulated across j in the output itself, in the order of the samples.
                    float acc[C];
                    for (int c = 0; c < C; ++c) acc[c] = j == 0 ? 0.0f : o[c];
                    for (int i = 0; i < nx; ++i, ++col) {
                        float v[C];
                        if (rowInside && col->ix >= 0 && col->ix + 1 < w) {
                            const float* p0 = r0 + std::ptrdiff_t(col->ix) * C;
                            const float* p1 = r1 + std::ptrdiff_t(col->ix) * C;
                            const float tx = col->tx;
                            for (int c = 0; c < C; ++c)
                                v[c] = (1.0f - ty) * ((1.0f - tx) * p0[c] + tx * p0[C + c]) +
                                       ty * ((1.0f - tx) * p1[c] + tx * p1[C + c]);
                        } else {
                            sampleBilinear<C>(src, col->px, py, wrap, v);
                        }
                        for (int c = 0; c < C; ++c) acc[c] += v[c];
                    }
                    for (int c = 0; c < C; ++c) o[c] = acc[c];
                }
            }
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < C; ++c) out[std::ptrdiff_t(x) * C + c] *= norm;
        }
    }
};

/// Falloff: image 4 is the falloff image of the level P.
template <bool Falloff>
struct BandAccumulateRows {
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const KernelImage& p = launch.images[0];
        const KernelImage& e = launch.images[1];
        const KernelImage& w = launch.images[2];
        const KernelImage& a = launch.images[3];
        const float gain[3] = {
            launch.param<float>(0), launch.param<float>(1), launch.param<float>(2)};
        const bool coarsest = boolParam(launch, 3);
        const int x0 = launch.domain.x0;
        for (int y = rowBegin; y < rowEnd; ++y) {
            const float* pp = PixelAt<float, 4>(p, x0, y);
            const float* ep = PixelAt<float, 4>(e, x0, y);
            const float* wp = PixelAt<float, 1>(w, x0, y);
            float* ap = PixelAt<float, 4>(a, x0, y);
            const FalloffOf<Falloff> falloff(launch.images[Falloff ? 4 : 0], p, y);
            for (int x = x0; x < launch.domain.x1; ++x, pp += 4, ep += 4, ++wp, ap += 4) {
                const float weight = *wp;
                if (weight <= 0.0f) continue;
                const float k = coarsest ? 0.0f : pp[3];
                const float f = falloff.at(x);
                for (int c = 0; c < 3; ++c) ap[c] += weight * gain[c] * (f * pp[c] - k * ep[c]);
                ap[3] += weight;
            }
        }
    }
};

struct FillLevelRows {
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const KernelImage& p = launch.images[0];
        const KernelImage& e = launch.images[1];
        const KernelImage& f = launch.images[2];
        const float fill[3] = {
            launch.param<float>(0), launch.param<float>(1), launch.param<float>(2)};
        const float threshold = launch.param<float>(3);
        const bool coarsest = boolParam(launch, 4);
        const int x0 = launch.domain.x0;
        for (int y = rowBegin; y < rowEnd; ++y) {
            const float* pp = PixelAt<float, 4>(p, x0, y);
            const float* ep = coarsest ? nullptr : PixelAt<float, 4>(e, x0, y);
            float* fp = PixelAt<float, 4>(f, x0, y);
            for (int x = x0; x < launch.domain.x1; ++x, pp += 4, fp += 4) {
                const float alpha = std::clamp(pp[3], 0.0f, 1.0f);
                float rgb[3];
                if (coarsest) {
                    for (int c = 0; c < 3; ++c)
                        rgb[c] = alpha > threshold ? pp[c] / alpha : fill[c];
                } else {
                    for (int c = 0; c < 3; ++c) rgb[c] = pp[c] + (1.0f - alpha) * ep[c];
                    ep += 4;
                }
                for (int c = 0; c < 3; ++c) fp[c] = rgb[c];
                fp[3] = 1.0f;
            }
        }
    }
};

/// The feather weights of a camera along panorama rows: bilinear from the feather image
/// (which covers the whole panorama at analysis size, x wrapping), never below `floor`;
/// exactly sampleBilinear<1>'s values. The horizontal half of the bilinear weights, applied to
/// the two feather rows a panorama row lies between, is kept while the next rows of the same
/// task lie between the same two (about 1 / sy rows), and the columns whose taps lie inside
/// the image take it without the border rule: such a row costs one blend of two numbers a
/// pixel.
class FeatherRows {
public:
    FeatherRows(const KernelImage& feather, float sx, float sy, float floor)
        : m_feather(feather), m_sx(sx), m_sy(sy), m_floor(floor), m_cache(cache()) {
        m_cache.iy = -1;  // nothing kept from another launch
    }

    /// The weights of columns [x0, x1) of row y, at x - x0; valid until the next call.
    const float* row(int y, int x0, int x1) {
        const Box& box = m_feather.box;
        const float py = float(box.y0) + (float(y) + 0.5f) * m_sy;
        const float fy = py - 0.5f - float(box.y0);
        const int iy = floorInt(fy);
        const float ty = fy - float(iy);
        Cache& c = m_cache;
        c.out.resize(std::size_t(x1 - x0));
        float* out = c.out.data() - x0;
        auto border = [&](int from, int to) {
            for (int x = from; x < to; ++x) {
                float f;
                sampleBilinear<1>(m_feather, px(x), py, true, &f);
                out[x] = std::max(f, m_floor);
            }
        };
        if (!(iy >= 0 && iy + 1 < box.height())) {
            border(x0, x1);
            return c.out.data();
        }
        if (iy != c.iy || x0 != c.x0 || x1 != c.x1) blendColumns(iy, x0, x1);
        // The columns whose taps lie inside the image form one span (the taps move right
        // with x); the others take the border rule.
        border(x0, c.a);
        const float* top = c.top.data() - x0;
        const float* bottom = c.bottom.data() - x0;
        for (int x = c.a; x < c.b; ++x)
            out[x] = std::max((1.0f - ty) * top[x] + ty * bottom[x], m_floor);
        border(c.b, x1);
        return c.out.data();
    }

private:
    struct Cache {
        int iy = -1, x0 = 0, x1 = 0;
        int a = 0, b = 0;  // the columns whose taps lie inside
        std::vector<float> top, bottom, out;
    };
    static Cache& cache() {
        thread_local Cache c;
        return c;
    }

    float px(int x) const { return float(m_feather.box.x0) + (float(x) + 0.5f) * m_sx; }

    /// The horizontal blends of feather rows iy and iy + 1 over columns [x0, x1).
    void blendColumns(int iy, int x0, int x1) {
        Cache& c = m_cache;
        c.iy = iy, c.x0 = x0, c.x1 = x1, c.a = x1, c.b = x1;
        c.top.resize(std::size_t(x1 - x0)), c.bottom.resize(std::size_t(x1 - x0));
        const auto* r0 = reinterpret_cast<const float*>(m_feather.origin +
                                                        std::ptrdiff_t(iy) * m_feather.rowBytes);
        const auto* r1 = reinterpret_cast<const float*>(reinterpret_cast<const unsigned char*>(r0) +
                                                        m_feather.rowBytes);
        for (int x = x0; x < x1; ++x) {
            const float fx = px(x) - 0.5f - float(m_feather.box.x0);
            const int ix = floorInt(fx);
            const bool inside = ix >= 0 && ix + 1 < m_feather.box.width();
            if (!inside) {
                if (c.a < x1 && c.b == x1) c.b = x;  // past the span
                continue;
            }
            if (c.a == x1) c.a = x;
            const float tx = fx - float(ix);
            const std::size_t i = std::size_t(x - x0);
            c.top[i] = (1.0f - tx) * r0[ix] + tx * r0[ix + 1];
            c.bottom[i] = (1.0f - tx) * r1[ix] + tx * r1[ix + 1];
        }
    }

    const KernelImage& m_feather;
    float m_sx, m_sy, m_floor;
    Cache& m_cache;
};

/// Falloff: image 3 is the falloff image of the camera C.
template <bool Falloff>
struct AlphaAccumulateRows {
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const KernelImage& cam = launch.images[0];
        const KernelImage& feather = launch.images[1];
        const KernelImage& a = launch.images[2];
        const float gain[3] = {
            launch.param<float>(0), launch.param<float>(1), launch.param<float>(2)};
        const float sx = launch.param<float>(3), sy = launch.param<float>(4);
        const float floor = launch.param<float>(5), threshold = launch.param<float>(6);
        const int x0 = launch.domain.x0;
        FeatherRows feathers(feather, sx, sy, floor);
        for (int y = rowBegin; y < rowEnd; ++y) {
            const float* cp = PixelAt<float, 4>(cam, x0, y);
            float* ap = PixelAt<float, 4>(a, x0, y);
            const float* fp = feathers.row(y, x0, launch.domain.x1) - x0;
            const FalloffOf<Falloff> falloff(launch.images[Falloff ? 3 : 0], cam, y);
            for (int x = x0; x < launch.domain.x1; ++x, cp += 4, ap += 4) {
                if (cp[3] <= threshold) continue;
                const float f = fp[x];
                const float fc = f * falloff.at(x);
                for (int c = 0; c < 3; ++c) ap[c] += fc * gain[c] * cp[c];
                ap[3] += f * cp[3];
            }
        }
    }
};

/// The feather rows of a seam label launch: feather image 1, scale x, y and floor scalars 1 to 3.
inline FeatherRows featherRows(const CpuLaunch& launch) {
    return FeatherRows(
        launch.images[1], launch.param<float>(1), launch.param<float>(2), launch.param<float>(3));
}

/// Row y, columns [x0, x1) of the seam label (kSeamLabelId). L: the label's channels, 4
/// (weight, camera, coverage, 0) or 2 (weight, camera).
template <int L>
void labelRow(const CpuLaunch& launch, FeatherRows& feathers, int y, int x0, int x1) {
    const KernelImage& cam = launch.images[0];
    const KernelImage& label = launch.images[2];
    const float camera = launch.param<float>(0);
    const float threshold = launch.param<float>(4);
    const float* cp = PixelAt<float, 4>(cam, x0, y);
    float* lp = PixelAt<float, L>(label, x0, y);
    const float* fp = feathers.row(y, x0, x1) - x0;
    for (int x = x0; x < x1; ++x, cp += 4, lp += L) {
        if (cp[3] <= threshold) continue;
        if constexpr (L == 4) lp[2] = std::max(lp[2], std::min(cp[3], 1.0f));
        const float f = fp[x];
        if (f > lp[0]) {
            lp[0] = f;
            lp[1] = camera;
        }
    }
}

template <int L>
struct SeamLabelRows {
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        FeatherRows feathers = featherRows(launch);
        for (int y = rowBegin; y < rowEnd; ++y)
            labelRow<L>(launch, feathers, y, launch.domain.x0, launch.domain.x1);
    }
};

/// One row of the pyramid's reduce of a four-channel image, for two CPU generations as the
/// reduce kernel runs it.
SLIB_PYRAMID_CPU_VERSIONS void reduceRow4(const KernelImage& fine,
                                          const KernelImage& coarse,
                                          int y,
                                          int x0,
                                          int x1,
                                          const std::array<float, 8>& taps,
                                          bool spherical,
                                          std::vector<float>& line) {
    Korvane::SLIB::ImagePyramids::ReduceRow<4>(fine, coarse, y, x0, x1, taps, spherical, line);
}

/// Each coarse row is reduced first, which brings fine rows 2y - 3 .. 2y + 4 into the cache;
/// the labels of fine rows 2y and 2y + 1 then read them from there. Falloff: image 4 is the
/// falloff image of the level, which divides each reduced row while it is in the cache.
template <int L, bool Falloff>
struct SeamLabelReduceRows {
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const KernelImage& cam = launch.images[0];
        const KernelImage& label = launch.images[2];
        const KernelImage& coarse = launch.images[3];
        const auto taps = Korvane::SLIB::ImagePyramids::ReduceTaps(launch.param<float>(5));
        const bool spherical = boolParam(launch, 6);
        // The label's rectangle: the camera's footprint within the camera and label boxes.
        const Box area = Box{int(launch.param<float>(7)),
                             int(launch.param<float>(8)),
                             int(launch.param<float>(9)),
                             int(launch.param<float>(10))}
                             .intersect(cam.box)
                             .intersect(label.box);
        thread_local std::vector<float> line;
        FeatherRows feathers = featherRows(launch);
        for (int y = rowBegin; y < rowEnd; ++y) {
            reduceRow4(cam, coarse, y, launch.domain.x0, launch.domain.x1, taps, spherical, line);
            if constexpr (Falloff) {
                const FalloffRow falloff(launch.images[4], coarse, y);
                float* p = PixelAt<float, 4>(coarse, launch.domain.x0, y);
                for (int x = launch.domain.x0; x < launch.domain.x1; ++x, p += 4) {
                    const float f = falloff.at(x);
                    p[0] *= f;
                    p[1] *= f;
                    p[2] *= f;
                }
            }
            if (area.empty()) continue;
            // The fine rows of coarse row y (pyramid alignment, as ReduceRow indexes them).
            const int fine = 2 * y - 2 * (cam.box.y0 >> 1) + cam.box.y0;
            for (int fy = std::max(fine, area.y0); fy < std::min(fine + 2, area.y1); ++fy)
                labelRow<L>(launch, feathers, fy, area.x0, area.x1);
        }
    }
};

template <int L>
struct SeamWeightRows {
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const KernelImage& label = launch.images[0];
        const KernelImage& w = launch.images[1];
        const float camera = launch.param<float>(0);
        const int x0 = launch.domain.x0;
        for (int y = rowBegin; y < rowEnd; ++y) {
            const float* lp = PixelAt<float, L>(label, x0, y);
            float* wp = PixelAt<float, 1>(w, x0, y);
            for (int x = x0; x < launch.domain.x1; ++x, lp += L, ++wp)
                *wp = lp[0] > 0.0f && lp[1] == camera ? 1.0f : 0.0f;
        }
    }
};

/// L: the label's channels (4, or 2 with expand: no coverage).
template <int L>
struct NormaliseRows {
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        const KernelImage& a = launch.images[0];
        const KernelImage& label = launch.images[1];
        const KernelImage& out = launch.images[2];
        const float threshold = launch.param<float>(0);
        const bool expand = L == 2 || boolParam(launch, 1);
        const bool final = boolParam(launch, 2);
        const int x0 = launch.domain.x0;
        for (int y = rowBegin; y < rowEnd; ++y) {
            const float* ap = PixelAt<float, 4>(a, x0, y);
            const float* lp = final ? PixelAt<float, L>(label, x0, y) : nullptr;
            float* op = PixelAt<float, 4>(out, x0, y);
            for (int x = x0; x < launch.domain.x1; ++x, ap += 4, op += 4) {
                if (final) {
                    const float coverage = expand ? 1.0f : lp[L == 4 ? 2 : 0];
                    lp += L;
                    for (int c = 0; c < 3; ++c) op[c] = ap[c] * coverage;
                    op[3] = coverage;
                } else {
                    const float weight = ap[3];
                    const float inv = weight > threshold ? 1.0f / weight : 0.0f;
                    for (int c = 0; c < 3; ++c) op[c] = ap[c] * inv;
                    op[3] = weight;
                }
            }
        }
    }
};

}  // namespace

void registerStitchKernels() {
    static std::once_flag resize, band, fill, alpha, label, labelReduce, weight, normalise;
    JIT::RegisterOnce<&JIT::FloatShapeVariants<ResizeBoundsRows, 2>>(
        resize, kResizeBoundsId, kResizeBoundsParams);
    JIT::RegisterOnce<&joinVariants<&floatVariant<BandAccumulateRows<false>, 3, 4, 4, 1, 4>,
                                    &floatVariant<BandAccumulateRows<true>, 3, 4, 4, 1, 4, 1>>>(
        band, kBandAccumulateId, kBandAccumulateParams);
    JIT::RegisterOnce<&floatVariant<FillLevelRows, 2, 4, 4, 4>>(
        fill, kFillLevelId, kFillLevelParams);
    JIT::RegisterOnce<&joinVariants<&floatVariant<AlphaAccumulateRows<false>, 2, 4, 1, 4>,
                                    &floatVariant<AlphaAccumulateRows<true>, 2, 4, 1, 4, 1>>>(
        alpha, kAlphaAccumulateId, kAlphaAccumulateParams);
    JIT::RegisterOnce<&joinVariants<&floatVariant<SeamLabelRows<4>, 2, 4, 1, 4>,
                                    &floatVariant<SeamLabelRows<2>, 2, 4, 1, 2>>>(
        label, kSeamLabelId, kSeamLabelParams);
    JIT::RegisterOnce<&joinVariants<&floatVariant<SeamLabelReduceRows<4, false>, 3, 4, 1, 4, 4>,
                                    &floatVariant<SeamLabelReduceRows<2, false>, 3, 4, 1, 2, 4>,
                                    &floatVariant<SeamLabelReduceRows<4, true>, 3, 4, 1, 4, 4, 1>,
                                    &floatVariant<SeamLabelReduceRows<2, true>, 3, 4, 1, 2, 4, 1>>>(
        labelReduce, kSeamLabelReduceId, kSeamLabelReduceParams);
    JIT::RegisterOnce<&joinVariants<&floatVariant<SeamWeightRows<4>, 1, 4, 1>,
                                    &floatVariant<SeamWeightRows<2>, 1, 2, 1>>>(
        weight, kSeamWeightId, kSeamWeightParams);
    JIT::RegisterOnce<&joinVariants<&floatVariant<NormaliseRows<4>, 2, 4, 4, 4>,
                                    &floatVariant<NormaliseRows<2>, 2, 4, 2, 4>>>(
        normalise, kNormaliseId, kNormaliseParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerStitchKernels(), true);
}

}  // namespace Kernels
}  // namespace ImageStitcher
}  // namespace Kiln
