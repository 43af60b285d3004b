// SPDX-License-Identifier: Apache-2.0
#include "render/kernels/RotateLatlong.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

#include "kiln/CpuRows.h"
#include "render/kernels/FastAtan2.h"
#include "render/kernels/Resample.h"

namespace Korvane {
namespace Research {
namespace Kernels {
namespace {

using Kiln::JIT::CpuLaunch;

// Output columns per strip (see rotateRows).
constexpr int kStrip = 64;

/// Panorama pixels per radian of longitude and latitude, and the pixel of direction +Z.
struct PanoramaScale {
    float sx, sy, hw, hh;
    PanoramaScale(float width, float height) {
        constexpr float kInvPi = float(0.318309886183790671538);
        sx = 0.5f * kInvPi * width;
        sy = kInvPi * height;
        hw = 0.5f * width;
        hh = 0.5f * height;
    }
};

/// A direction (any length) as longitude and latitude in source pixels. Branch-free float
/// arithmetic, so that a row of them vectorises: with two library arc tangents a pixel this
/// was the bulk of the turn.
inline __attribute__((always_inline)) void toPanorama(
    const PanoramaScale& k, float rx, float ry, float rz, float* px, float* py) {
    *px = fastAtan2(rx, rz) * k.sx + k.hw;
    *py = fastAtan2(ry, std::sqrt(rx * rx + rz * rz)) * k.sy + k.hh;
}

/// The destination is a panorama: the direction of (x, y) is (cos lat sin lon, sin lat,
/// cos lat cos lon), separable, so the sines of longitude come from a table per launch and
/// those of latitude from one per row of the launch (a strip's row reads both). The tables
/// reach one column and one row beyond the launch's, for the footprints of its edge pixels.
class LatlongRays {
public:
    LatlongRays(const Kiln::Box& box, const Kiln::Box& domain, int rowBegin, int rowEnd)
        : m_table(2 * std::size_t(domain.width() + 2 + rowEnd - rowBegin + 2)),
          m_rowBegin(rowBegin - 1),
          m_step(std::max(2.0 * kPi / box.width(), kPi / box.height())) {
        const int n = domain.width(), rows = rowEnd - rowBegin + 2;
        m_sinLon = m_table.data() + 1;
        m_cosLon = m_sinLon + n + 2;
        m_sinLat = m_cosLon + n + 1;
        m_cosLat = m_sinLat + rows;
        const auto longitude = [&](int i) {
            return ((domain.x0 - box.x0 + i + 0.5) / box.width() * 2.0 - 1.0) * kPi;
        };
        // Longitude steps by one angle a column: the sines by the angle-sum rule from exact
        // ones every 256 columns (a thousand library calls a launch cost about 0.1 ms).
        const double step = 2.0 * kPi / box.width(), cs = std::cos(step), ss = std::sin(step);
        double sinLon = 0, cosLon = 1;
        for (int i = 0; i < n; ++i) {
            if (i % 256 == 0) {
                sinLon = std::sin(longitude(i));
                cosLon = std::cos(longitude(i));
            }
            m_sinLon[i] = float(sinLon);
            m_cosLon[i] = float(cosLon);
            const double next = sinLon * cs + cosLon * ss;
            cosLon = cosLon * cs - sinLon * ss;
            sinLon = next;
        }
        for (int i : {-1, n}) {
            m_sinLon[i] = float(std::sin(longitude(i)));
            m_cosLon[i] = float(std::cos(longitude(i)));
        }
        for (int r = 0; r < rows; ++r) {
            const double lat =
                ((m_rowBegin + r - box.y0 + 0.5) / box.height() * 2.0 - 1.0) * (kPi / 2.0);
            m_sinLat[r] = float(std::sin(lat));
            m_cosLat[r] = float(std::cos(lat));
        }
    }

    /// The source positions of pixels i0 .. i0 + n of the launch's row y, turned by m.
    inline __attribute__((always_inline)) void positions(const float (&m)[9],
                                                         const PanoramaScale& k,
                                                         int y,
                                                         int i0,
                                                         int n,
                                                         float* __restrict px,
                                                         float* __restrict py) const {
        const float cl = m_cosLat[y - m_rowBegin], sl = m_sinLat[y - m_rowBegin];
        const float* __restrict sinLon = m_sinLon + i0;
        const float* __restrict cosLon = m_cosLon + i0;
        const float m0 = m[0], m1 = m[1], m2 = m[2], m3 = m[3], m4 = m[4], m5 = m[5], m6 = m[6],
                    m7 = m[7], m8 = m[8];
        for (int i = 0; i < n; ++i) {
            const float dx = cl * sinLon[i], dz = cl * cosLon[i];
            toPanorama(k,
                       m0 * dx + m1 * sl + m2 * dz,
                       m3 * dx + m4 * sl + m5 * dz,
                       m6 * dx + m7 * sl + m8 * dz,
                       px + i,
                       py + i);
        }
    }

    /// The largest angle (radians) between a pixel's direction and its neighbours'.
    double step() const { return m_step; }

private:
    static constexpr double kPi = 3.14159265358979323846;
    std::vector<float> m_table;  // sines and cosines of longitude, then of latitude
    float *m_sinLon, *m_cosLon, *m_sinLat, *m_cosLat;
    int m_rowBegin;
    double m_step;
};

/// sin and cos of t in [0, pi] without branches: t = u + pi / 2 with |u| <= pi / 2, whose
/// Taylor series of degree 11 and 12 are within 6e-8 there.
inline __attribute__((always_inline)) void sinCosHalfTurn(float t, float* s, float* c) {
    const float u = t - 1.57079632679489662f, u2 = u * u;
    float sinU = -2.50521084e-8f;
    sinU = sinU * u2 + 2.75573192e-6f;
    sinU = sinU * u2 - 1.98412698e-4f;
    sinU = sinU * u2 + 8.33333333e-3f;
    sinU = sinU * u2 - 1.66666667e-1f;
    sinU = u + u * u2 * sinU;
    float cosU = 2.08767570e-9f;
    cosU = cosU * u2 - 2.75573192e-7f;
    cosU = cosU * u2 + 2.48015873e-5f;
    cosU = cosU * u2 - 1.38888889e-3f;
    cosU = cosU * u2 + 4.16666667e-2f;
    cosU = cosU * u2 - 0.5f;
    cosU = 1.0f + u2 * cosU;
    *s = cosU;
    *c = -sinU;
}

/// The destination is an ideal lens at the panorama's centre; its pixel (x, y) lies at
/// q = (x + 0.5 - cx, (y + 0.5 - cy) / aspect) from the optical centre.
/// Rectilinear: the ray of q is (q, focal), linear across a row.
/// Fisheye (equidistant): q looks at the angle theta = |q| / focal from the axis, towards q,
/// along (q sin theta, |q| cos theta) (the unit ray times |q|; the axis itself at q = 0). From
/// theta = pi on, the lens sees nothing: those pixels get kNoSample and show zeros.
template <bool kFisheye>
class LensRays {
public:
    LensRays(const Kiln::Box& box, int x0, float focal, float cx, float cy, float aspect)
        : m_left(float(double(x0 - box.x0) + 0.5 - double(cx))),
          m_focal(focal),
          m_cy(cy),
          m_aspect(aspect),
          m_y0(box.y0) {}

    inline __attribute__((always_inline)) void positions(const float (&m)[9],
                                                         const PanoramaScale& k,
                                                         int y,
                                                         int i0,
                                                         int n,
                                                         float* __restrict px,
                                                         float* __restrict py) const {
        const float qy = float((double(y - m_y0) + 0.5 - double(m_cy)) / double(m_aspect));
        const float left = m_left + float(i0);
        if constexpr (!kFisheye) {
            // The row's constant terms: its y and the focal length.
            const float cx = m[1] * qy + m[2] * m_focal, cy = m[4] * qy + m[5] * m_focal,
                        cz = m[7] * qy + m[8] * m_focal;
            const float m0 = m[0], m3 = m[3], m6 = m[6];
            for (int i = 0; i < n; ++i) {
                const float qx = left + float(i);
                toPanorama(k, m0 * qx + cx, m3 * qx + cy, m6 * qx + cz, px + i, py + i);
            }
        } else {
            constexpr float kPi = 3.14159265358979324f;
            const float qy2 = qy * qy, invFocal = 1.0f / m_focal;
            const float m0 = m[0], m1 = m[1], m2 = m[2], m3 = m[3], m4 = m[4], m5 = m[5], m6 = m[6],
                        m7 = m[7], m8 = m[8];
            for (int i = 0; i < n; ++i) {
                const float qx = left + float(i);
                const float r = std::sqrt(qx * qx + qy2), theta = r * invFocal;
                float s, c;
                sinCosHalfTurn(theta, &s, &c);
                const float dx = qx * s, dy = qy * s, dz = r > 0.0f ? r * c : 1.0f;
                float x, y;
                toPanorama(k,
                           m0 * dx + m1 * dy + m2 * dz,
                           m3 * dx + m4 * dy + m5 * dz,
                           m6 * dx + m7 * dy + m8 * dz,
                           &x,
                           &y);
                px[i] = theta < kPi ? x : kNoSample;
                py[i] = theta < kPi ? y : kNoSample;
            }
        }
    }

    /// The largest angle (radians) between a pixel's direction and its neighbours': a step
    /// across the image plane turns the ray by at most 1 / focal (at the optical centre for
    /// the rectilinear lens, radially for the fisheye), a step down by 1 / (focal aspect).
    double step() const { return std::max(1.0, 1.0 / double(m_aspect)) / double(m_focal); }

private:
    float m_left, m_focal, m_cy, m_aspect;
    int m_y0;
};

/// One launch's turn: the rotation matrix and the destination's lens.
struct Turn {
    float m[9];
    int lens = 0;  // 0 panorama, 1 rectilinear, 2 fisheye
    float focal = 0, centreX = 0, centreY = 0, aspect = 1;
};

inline Pixel4 load4(const float* p) {
    Pixel4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

/// A pixel whose footprint crosses the seam or a pole, or whose position lies outside the
/// frame: the taps wrapped and clamped one at a time.
template <class F>
inline void edgePixel4(const SourceView& s, float x, float y, float* o) {
    constexpr int kTaps = F::kTaps;
    constexpr int kFirst = 1 - kTaps / 2;
    const int w = s.box.width(), h = s.box.height();
    if (!(y >= 0.0f && y <= s.frameHeight) || !(x >= 0.0f && x <= s.frameWidth)) {
        if (!samplePixel<F, 4>(s, x, y, o))
            for (int c = 0; c < 4; ++c) o[c] = 0.0f;
        return;
    }
    const float u = x - 0.5f, v = y - 0.5f;
    const int iu = floorToInt(u), iv = floorToInt(v);
    float wx[kTaps], wy[kTaps];
    F::weights(u - float(iu), wx);
    F::weights(v - float(iv), wy);
    const int left = iu + kFirst, bottom = iv + kFirst;
    // x lies in [0, w], so the taps lie less than w outside the row: one wrap each.
    int columns[kTaps];
    for (int t = 0; t < kTaps; ++t) {
        const int c = left + t;
        columns[t] = (c < 0 ? c + w : c >= w ? c - w : c) * 4;
    }
    Pixel4 result = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int j = 0; j < kTaps; ++j) {
        const float* r = s.rowAt(std::clamp(bottom + j, 0, h - 1));
        Pixel4 across = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int t = 0; t < kTaps; ++t) across = across + wx[t] * load4(r + columns[t]);
        result = result + wy[j] * across;
    }
    std::memcpy(o, &result, sizeof result);
}

typedef float Pixel16 __attribute__((vector_size(64)));

/// Cubic's 4 x 4 taps of pixel i of a run, all inside the source: a row's four taps are one
/// 16-float vector (one register with AVX-512), summed down the rows with the weights down,
/// then across with the weights across.
inline __attribute__((always_inline)) void cubicInside4(const SourceView& s,
                                                        const RunWeights<CubicFilter, kStrip>& run,
                                                        int i,
                                                        float* out) {
    const unsigned char* first =
        reinterpret_cast<const unsigned char*>(s.rowAt(run.bottom[i]) + 4 * run.left[i]);
    Pixel16 acc = {};
    for (int j = 0; j < 4; ++j) {
        Pixel16 taps;
        std::memcpy(&taps, first + std::ptrdiff_t(j) * s.rowBytes, sizeof taps);
        acc += run.wy[j][i] * taps;
    }
    const float a = run.wx[0][i], b = run.wx[1][i], c = run.wx[2][i], d = run.wx[3][i];
    const Pixel16 across = acc * Pixel16{a, a, a, a, b, b, b, b, c, c, c, c, d, d, d, d};
    const Pixel8 half = __builtin_shufflevector(across, across, 0, 1, 2, 3, 4, 5, 6, 7) +
                        __builtin_shufflevector(across, across, 8, 9, 10, 11, 12, 13, 14, 15);
    const Pixel4 result = __builtin_shufflevector(half, half, 0, 1, 2, 3) +
                          __builtin_shufflevector(half, half, 4, 5, 6, 7);
    std::memcpy(out, &result, sizeof result);
}

/// n <= kStrip pixels of a row: the weights of all of them first, then their taps (where that
/// pays; else pixel by pixel).
template <class F>
inline __attribute__((always_inline)) void filteredRow4(
    const SourceView& s, const float* px, const float* py, int n, float* o) {
    using Run = RunWeights<F, kStrip>;
    if constexpr (Run::kPays) {
        Run run;
        run.weigh(s, px, py, 1, n);
        for (int i = 0; i < n; ++i, o += 4)
            if (!run.inside[i])
                edgePixel4<F>(s, px[i], py[i], o);
            else if constexpr (std::is_same_v<F, CubicFilter>)
                cubicInside4(s, run, i, o);
            else
                run.sample(s, i, o);
    } else {
        constexpr int kTaps = F::kTaps, kFirst = Run::kFirst;
        const int w = s.box.width(), h = s.box.height();
        for (int i = 0; i < n; ++i, o += 4) {
            const float x = px[i], y = py[i];
            if (!(y >= 0.0f && y <= s.frameHeight && x >= 0.0f && x <= s.frameWidth)) {
                edgePixel4<F>(s, x, y, o);
                continue;
            }
            const float u = x - 0.5f, v = y - 0.5f;
            const int iu = floorToInt(u), iv = floorToInt(v);
            const int left = iu + kFirst, bottom = iv + kFirst;
            if (left < 0 || left + kTaps > w || bottom < 0 || bottom + kTaps > h) {
                edgePixel4<F>(s, x, y, o);
                continue;
            }
            float wx[kTaps], wy[kTaps];
            F::weights(u - float(iu), wx);
            F::weights(v - float(iv), wy);
            sampleInside4<F>(s, left, bottom, wx, wy, o);
        }
    }
}

/// Asks for the source lines that a strip's row `kAhead` rows further down will read, from
/// where its footprints are heading: this row's positions and the last row's. A strip's next
/// rows read a band of source lines slanting across many rows of the source, which no
/// hardware prefetcher follows: a third of a tilted Cubic turn waited for them.
class StripPrefetch {
public:
    static constexpr int kAhead = 4;

    StripPrefetch(const Kiln::Compute::KernelImage& source, int channels)
        : m_origin(reinterpret_cast<const char*>(source.origin)),
          m_pixelBytes(std::ptrdiff_t(channels) * std::ptrdiff_t(sizeof(float))),
          m_rowBytes(source.rowBytes),
          m_maxX(float(std::max(0, source.box.width() - 4))),
          m_maxY(float(std::max(0, source.box.height() - 4))),
          m_rows(std::min(4, source.box.height())) {}

    /// Positions (px, py) of this row and (qx, qy) of the row before, n of them.
    inline __attribute__((always_inline)) void request(
        const float* px, const float* py, const float* qx, const float* qy, int n) {
        const float a = float(kAhead);
        for (int i = 0; i < n; ++i) {
            // Clamped first (NaN goes to 0), then the footprint's first column and row.
            const float x = std::min(m_maxX, std::max(0.0f, px[i] + a * (px[i] - qx[i]) - 1.5f));
            const float y = std::min(m_maxY, std::max(0.0f, py[i] + a * (py[i] - qy[i]) - 1.5f));
            m_offset[i] = std::ptrdiff_t(y) * m_rowBytes + std::ptrdiff_t(x) * m_pixelBytes;
        }
        // Neighbouring footprints share most lines: every other pixel's rows suffice.
        for (int i = 0; i < n; i += 2)
            for (int j = 0; j < m_rows; ++j)
                __builtin_prefetch(m_origin + m_offset[i] + j * m_rowBytes);
    }

private:
    const char* m_origin;
    std::ptrdiff_t m_pixelBytes, m_rowBytes;
    float m_maxX, m_maxY;
    int m_rows;
    std::ptrdiff_t m_offset[kStrip];
};

/// n <= kStrip pixels of a row through filter F as it is.
template <class F, int C>
inline __attribute__((always_inline)) void plainRow(
    const SourceView& s, const float* px, const float* py, int n, float* o) {
    if constexpr (C == 4 && F::kTaps > 1) {
        filteredRow4<F>(s, px, py, n, o);
    } else {
        for (int i = 0; i < n; ++i, o += C)
            if (!samplePixel<F, C>(s, px[i], py[i], o))
                for (int c = 0; c < C; ++c) o[c] = 0.0f;
    }
}

/// Which strip rows may shrink the source, from a bound on every footprint that needs no
/// neighbours: a destination pixel's direction is at most `step` radians from its
/// neighbours' (the lens's step()), and a source pixel spans pi / height radians down and
/// 2 pi cos(latitude) / width across. So a footprint can reach kWidenFrom only where the
/// source's latitude exceeds acos(step width / (2 pi kWidenFrom)), or everywhere where
/// step height / pi reaches it. The bound holds for derivatives; the footprints are taken
/// over neighbouring pixels, up to `step` away, and between those the directions turn, which
/// the margins of 2 steps of latitude and of 2 step (relative) on kWidenFrom cover.
class ShrinkBound {
public:
    ShrinkBound(double step, int width, int height) : m_centre(0.5f * float(height)) {
        constexpr double kPi = 3.14159265358979323846;
        const double from = kWidenFrom * (1.0 - 2.0 * step);
        const double across = step * width / (2.0 * kPi * from);
        const double down = step * height / (kPi * from);
        m_limit = step < 0.25 && across < 1.0 && down < 1.0
                      ? float((std::acos(across) - 2.0 * step) * height / kPi)
                      : -1.0f;
    }

    /// Whether one of the n positions (py: source rows) may shrink the source. Positions
    /// that show nothing have no footprint and are passed over.
    inline __attribute__((always_inline)) bool mayShrink(const float* py, int n) const {
        int beyond = 0;
        for (int i = 0; i < n; ++i)
            beyond |= isSample(py[i]) & !(std::abs(py[i] - m_centre) <= m_limit);
        return beyond != 0;
    }

private:
    float m_centre, m_limit;
};

// Cubic's row of four taps is one AVX-512 register (cubicInside4): a third build for those
// CPUs (x86-64-v4) turns 10 % faster than the AVX2 one.
#if defined(__x86_64__)
#define TURN_CUBIC_CPU_VERSIONS \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define TURN_CUBIC_CPU_VERSIONS
#endif

// The four-channel rows of a strip row that may shrink whose filter does not widen, through
// the turn's own row loops, as functions of their own: inlined into the shrinking rows (large
// functions), the filters' weights were not, and a run's weights were no longer vectorised.
RENDER_CPU_VERSIONS void plainBilinear4(
    const SourceView& s, const float* px, const float* py, int n, float* o) {
    plainRow<BilinearFilter, 4>(s, px, py, n, o);
}
TURN_CUBIC_CPU_VERSIONS void plainCubic4(
    const SourceView& s, const float* px, const float* py, int n, float* o) {
    plainRow<CubicFilter, 4>(s, px, py, n, o);
}
RENDER_CPU_VERSIONS void plainLanczos4(
    const SourceView& s, const float* px, const float* py, int n, float* o) {
    plainRow<LanczosFilter, 4>(s, px, py, n, o);
}

/// plainRow, four-channel rows through the functions above.
template <class F, int C>
inline __attribute__((always_inline)) void plainRunOf(
    const SourceView& s, const float* px, const float* py, int n, float* o) {
    if constexpr (C == 4 && std::is_same_v<F, BilinearFilter>)
        plainBilinear4(s, px, py, n, o);
    else if constexpr (C == 4 && std::is_same_v<F, CubicFilter>)
        plainCubic4(s, px, py, n, o);
    else if constexpr (C == 4 && std::is_same_v<F, LanczosFilter>)
        plainLanczos4(s, px, py, n, o);
    else
        plainRow<F, C>(s, px, py, n, o);
}

/// The positions around a strip row, for its pixels' footprints: the row's own (px, py) and
/// those of the pixels either side where the destination has them (lo, hi), and the rows
/// below and above (null where the destination ends).
struct StripRows {
    const float *px, *py;
    float leftX, leftY, rightX, rightY;
    bool lo, hi;
    const float *belowX = nullptr, *belowY = nullptr, *aboveX = nullptr, *aboveY = nullptr;
};

/// The stretched weights of a run of m <= kStrip widened pixels, computed for all of them
/// together (each loop runs over the pixels, so that eight of them share a vector), as
/// stretchedWeights computes one pixel's: w[t][k] is tap t of pixel k, whose first tap is
/// first[k], and norm[k] the reciprocal of its weights' sum. Every pixel gets the run's largest
/// count of taps, which is returned (its weights rounded up to an even count, for taps read in
/// pairs): beyond a pixel's own taps the kernel is zero. `p` are the positions along the axis,
/// clamped to [0, frame] first so that far ones make valid indices.
template <class F>
inline __attribute__((always_inline)) int runWeights(const float* p,
                                                     const float* stretch,
                                                     int m,
                                                     float frame,
                                                     int* first,
                                                     float (*w)[kStrip],
                                                     float* norm) {
    constexpr int kMax = kStretchedTaps<F>;
    float from[kStrip], step[kStrip], sum[kStrip];
    int most = 1;
    for (int k = 0; k < m; ++k) {
        const float u = std::min(frame, std::max(0.0f, p[k])) - 0.5f;
        const float radius = F::kRadius * stretch[k];
        const int lo = floorToInt(u - radius) + 1;
        most = std::max(most, std::min(floorToInt(u + radius) - lo + 1, kMax));
        step[k] = 1.0f / stretch[k];
        from[k] = (float(lo) - u) * step[k];
        first[k] = lo;
        sum[k] = 0.0f;
    }
    for (int t = 0; t < (most + 1) / 2 * 2; ++t)
        for (int k = 0; k < m; ++k) {
            w[t][k] = F::kernel(from[k] + float(t) * step[k]);
            sum[k] += w[t][k];
        }
    for (int k = 0; k < m; ++k) norm[k] = 1.0f / sum[k];
    return most;
}

/// A run of widened four-channel pixels: their weights (runWeights), and which of them read
/// the run's whole block of taps inside the source (the others go pixel by pixel).
template <class F>
struct WidenedRun {
    static constexpr int kSlots = kStretchedSlots<F>;
    float wx[kSlots][kStrip], wy[kSlots][kStrip], normX[kStrip], normY[kStrip];
    int left[kStrip], bottom[kStrip];
    bool inside[kStrip];
    int pairs, rows;  // the run's taps: pairs across (an odd count reads one more), rows down

    inline __attribute__((always_inline)) void weigh(const SourceView& s,
                                                     const float* px,
                                                     const float* py,
                                                     const float* sx,
                                                     const float* sy,
                                                     int m) {
        pairs = (runWeights<F>(px, sx, m, s.frameWidth, left, wx, normX) + 1) / 2;
        rows = runWeights<F>(py, sy, m, s.frameHeight, bottom, wy, normY);
        const int x0 = s.box.x0, x1 = s.box.x1, y0 = s.box.y0, y1 = s.box.y1;
        for (int k = 0; k < m; ++k)
            inside[k] = (py[k] >= 0.0f) & (py[k] <= s.frameHeight) & (px[k] >= 0.0f) &
                        (px[k] <= s.frameWidth) & (left[k] >= x0) & (left[k] + 2 * pairs <= x1) &
                        (bottom[k] >= y0) & (bottom[k] + rows <= y1);
    }
};

/// The pixels of a weighed run marked inside, kPairs pairs of taps across each (the run's
/// count, so that the loop over the pixels has no branch of its own), into o.
template <class F, int kPairs = 1>
inline __attribute__((always_inline)) void widenedTaps(const SourceView& s,
                                                       const WidenedRun<F>& run,
                                                       int m,
                                                       float* o) {
    if constexpr (kPairs < WidenedRun<F>::kSlots / 2) {
        if (run.pairs > kPairs) return widenedTaps<F, kPairs + 1>(s, run, m, o);
    }
    for (int k = 0; k < m; ++k) {
        if (!run.inside[k]) continue;
        const TapBlock block{s.rowAt(run.bottom[k] - s.box.y0) + 4 * (run.left[k] - s.box.x0),
                             s.rowBytes,
                             run.rows,
                             &run.wx[0][k],
                             &run.wy[0][k],
                             kStrip};
        pairedRows<kPairs>(block, run.normX[k] * run.normY[k], o + std::ptrdiff_t(k) * 4);
    }
}

/// m <= kStrip pixels of a row through filter F stretched by (sx, sy): four channels as a
/// run (the weights of all pixels first, then their taps), others pixel by pixel.
template <class F, int C>
inline __attribute__((always_inline)) void widenedRow(const SourceView& s,
                                                      const float* px,
                                                      const float* py,
                                                      const float* sx,
                                                      const float* sy,
                                                      int m,
                                                      float* o) {
    bool inside[kStrip] = {};
    if constexpr (C == 4) {
        WidenedRun<F> run;
        run.weigh(s, px, py, sx, sy, m);
        widenedTaps<F>(s, run, m, o);
        std::copy_n(run.inside, m, inside);
    }
    for (int k = 0; k < m; ++k)
        if (!inside[k] &&
            !sampleStretched<F, C>(s, px[k], py[k], sx[k], sy[k], o + std::ptrdiff_t(k) * C))
            for (int c = 0; c < C; ++c) o[std::ptrdiff_t(k) * C + c] = 0.0f;
}

/// A strip row of n pixels that may shrink the source: their footprints, as the resampler
/// measures them in a position image, then runs of pixels whose filter widens (stretched,
/// as the resampler's) and runs of pixels through the filter as it is.
template <class F, int C>
inline __attribute__((always_inline)) void shrinkingRow(const SourceView& s,
                                                        const StripRows& r,
                                                        int n,
                                                        float* o) {
    float sx[kStrip], sy[kStrip];
    constexpr float kFrom = kWidenFrom * kWidenFrom;
    bool measured = false;
    if (r.lo && r.hi && r.belowX && r.aboveX) {
        // Every neighbour there (most strip rows): the central differences of all pixels in
        // one loop that vectorises, as PositionRows::footprint takes them; a pixel or
        // neighbour that shows nothing (or NaN) sends the row to it.
        float x[kStrip + 2], y[kStrip + 2];
        std::copy_n(r.px, n, x + 1);
        std::copy_n(r.py, n, y + 1);
        x[0] = r.leftX, y[0] = r.leftY, x[n + 1] = r.rightX, y[n + 1] = r.rightY;
        const float period = float(s.period), half = 0.5f * period;
        const auto unwrap = [=](float d) {
            return d > half ? d - period : d < -half ? d + period : d;
        };
        int holes = 0;
        for (int i = 0; i < n; ++i) {
            const float acrossX = unwrap(x[i + 2] - x[i]) * 0.5f;
            const float downX = unwrap(r.aboveX[i] - r.belowX[i]) * 0.5f;
            const float acrossY = (y[i + 2] - y[i]) * 0.5f;
            const float downY = (r.aboveY[i] - r.belowY[i]) * 0.5f;
            sx[i] = acrossX * acrossX + downX * downX;
            sy[i] = acrossY * acrossY + downY * downY;
            holes |= !isSample(x[i + 1]) | !isSample(x[i]) | !isSample(x[i + 2]) |
                     !isSample(r.belowX[i]) | !isSample(r.aboveX[i]) | !(sx[i] + sy[i] >= 0.0f);
        }
        measured = holes == 0;
    }
    if (measured) {
        const auto widens = [&](int i) { return sx[i] > kFrom || sy[i] > kFrom; };
        if (!filterStretches(0, n, widens, sx, sy)) return plainRunOf<F, C>(s, r.px, r.py, n, o);
    } else {
        // x, y pairs as in a position image, pixel i at pair i + 1.
        float pairs[3][2 * (kStrip + 2)];
        const auto interleave = [n](float* to, const float* x, const float* y) {
            for (int i = 0; i < n; ++i) {
                to[2 * i + 2] = x[i];
                to[2 * i + 3] = y[i];
            }
        };
        interleave(pairs[0], r.px, r.py);
        pairs[0][0] = r.leftX, pairs[0][1] = r.leftY;
        pairs[0][2 * n + 2] = r.rightX, pairs[0][2 * n + 3] = r.rightY;
        const float* row = pairs[0] + 2;
        const float* below = row;
        const float* above = row;
        if (r.belowX) interleave(pairs[1], r.belowX, r.belowY), below = pairs[1] + 2;
        if (r.aboveX) interleave(pairs[2], r.aboveX, r.aboveY), above = pairs[2] + 2;
        const PositionRows rows(row, below, above, s.period);
        const auto measure = [&](int i) {
            rows.footprint(i, i > 0 || r.lo, i + 1 < n || r.hi, &sx[i], &sy[i]);
            return sx[i] > kFrom || sy[i] > kFrom;
        };
        if (!filterStretches(0, n, measure, sx, sy)) return plainRunOf<F, C>(s, r.px, r.py, n, o);
    }
    for (int i = 0; i < n;) {
        const bool widens = (sx[i] > 1.0f) | (sy[i] > 1.0f);
        int j = i + 1;
        while (j < n && ((sx[j] > 1.0f) | (sy[j] > 1.0f)) == widens) ++j;
        if (!widens) {
            plainRunOf<F, C>(s, r.px + i, r.py + i, j - i, o + std::ptrdiff_t(i) * C);
        } else {
            widenedRow<F, C>(
                s, r.px + i, r.py + i, sx + i, sy + i, j - i, o + std::ptrdiff_t(i) * C);
        }
        i = j;
    }
}

// The four-channel shrinking rows for two CPU generations, as the turn's rows, but functions of
// their own: inlined, they made the turn's other rows 5 % slower.
RENDER_CPU_VERSIONS void shrinkingBilinear4(const SourceView& s,
                                            const StripRows& r,
                                            int n,
                                            float* o) {
    shrinkingRow<BilinearFilter, 4>(s, r, n, o);
}
RENDER_CPU_VERSIONS void shrinkingCubic4(const SourceView& s, const StripRows& r, int n, float* o) {
    shrinkingRow<CubicFilter, 4>(s, r, n, o);
}
RENDER_CPU_VERSIONS void shrinkingLanczos4(const SourceView& s,
                                           const StripRows& r,
                                           int n,
                                           float* o) {
    shrinkingRow<LanczosFilter, 4>(s, r, n, o);
}

template <class F, int C>
inline __attribute__((always_inline)) void shrinking(const SourceView& s,
                                                     const StripRows& r,
                                                     int n,
                                                     float* o) {
    if constexpr (C == 4 && std::is_same_v<F, BilinearFilter>)
        shrinkingBilinear4(s, r, n, o);
    else if constexpr (C == 4 && std::is_same_v<F, CubicFilter>)
        shrinkingCubic4(s, r, n, o);
    else if constexpr (C == 4 && std::is_same_v<F, LanczosFilter>)
        shrinkingLanczos4(s, r, n, o);
    else
        shrinkingRow<F, C>(s, r, n, o);
}

/// The slot of row y in a ring of three rows.
inline int slot(int y) { return (y % 3 + 3) % 3; }

template <class F, int C, class Rays>
inline __attribute__((always_inline)) void rotateRows(
    const CpuLaunch& launch, const float (&m)[9], const Rays& rays, int rowBegin, int rowEnd) {
    const Kiln::Compute::KernelImage& src = launch.images[0];
    const Kiln::Compute::KernelImage& out = launch.images[1];
    // Positions are taken relative to the source box, whose frame starts at its corner.
    const Kiln::Compute::KernelImage local{
        src.origin, src.rowBytes, Kiln::Box{0, 0, src.box.width(), src.box.height()}};
    const SourceView source(local, src.box.width(), src.box.height(), true);
    const PanoramaScale scale(float(src.box.width()), float(src.box.height()));
    const ShrinkBound bound(rays.step(), src.box.width(), src.box.height());
    const int x0 = launch.domain.x0, x1 = launch.domain.x1;
    StripPrefetch prefetch(src, C);
    // Three rows' positions, row y in slot y mod 3: this row's, the last one's and, once a row
    // that may shrink has made them for its footprints, the next one's.
    float positions[3][2][kStrip];
    // Columns in strips, each down all the rows: the source pixels that neighbouring rows of
    // a strip read stay in the cache (a whole turned row walks across up to 32 MB).
    for (int s0 = x0; s0 < x1; s0 += kStrip) {
        const int count = std::min(kStrip, x1 - s0), column = s0 - x0;
        int made = rowBegin - 1;  // the last row whose positions are made
        for (int y = rowBegin; y < rowEnd; ++y) {
            float* px = positions[slot(y)][0];
            float* py = positions[slot(y)][1];
            if (made < y) rays.positions(m, scale, y, column, count, px, py);
            made = std::max(made, y);
            if (y > rowBegin)
                prefetch.request(
                    px, py, positions[slot(y - 1)][0], positions[slot(y - 1)][1], count);
            float* o = Kiln::JIT::PixelAt<float, C>(out, s0, y);
            if constexpr (F::kTaps > 1) {  // Nearest never widens (masks, ids)
                if (bound.mayShrink(py, count)) {
                    StripRows r{px, py, 0, 0, 0, 0, s0 > out.box.x0, s0 + count < out.box.x1};
                    if (r.lo) rays.positions(m, scale, y, column - 1, 1, &r.leftX, &r.leftY);
                    if (r.hi) rays.positions(m, scale, y, column + count, 1, &r.rightX, &r.rightY);
                    if (y > out.box.y0) {
                        auto& below = positions[slot(y - 1)];
                        if (y == rowBegin)
                            rays.positions(m, scale, y - 1, column, count, below[0], below[1]);
                        r.belowX = below[0], r.belowY = below[1];
                    }
                    if (y + 1 < out.box.y1) {
                        auto& above = positions[slot(y + 1)];
                        rays.positions(m, scale, y + 1, column, count, above[0], above[1]);
                        r.aboveX = above[0], r.aboveY = above[1];
                        made = y + 1;
                    }
                    shrinking<F, C>(source, r, count, o);
                    continue;
                }
            }
            plainRow<F, C>(source, px, py, count, o);
        }
    }
}

/// The turn's rows through the destination's lens.
template <class F, int C>
inline __attribute__((always_inline)) void turnRows(const CpuLaunch& launch,
                                                    const Turn& turn,
                                                    int rowBegin,
                                                    int rowEnd) {
    const Kiln::Box& box = launch.images[1].box;
    const int x0 = launch.domain.x0;
    // No lambda here: it would be a function of its own, outside the CPU versions' builds.
    if (turn.lens == 1)
        rotateRows<F, C>(
            launch,
            turn.m,
            LensRays<false>(box, x0, turn.focal, turn.centreX, turn.centreY, turn.aspect),
            rowBegin,
            rowEnd);
    else if (turn.lens == 2)
        rotateRows<F, C>(
            launch,
            turn.m,
            LensRays<true>(box, x0, turn.focal, turn.centreX, turn.centreY, turn.aspect),
            rowBegin,
            rowEnd);
    else
        rotateRows<F, C>(
            launch, turn.m, LatlongRays(box, launch.domain, rowBegin, rowEnd), rowBegin, rowEnd);
}

// The four-channel row loops (every view) for two CPU generations (RENDER_CPU_VERSIONS): the
// wider registers take a pair of taps and eight positions at a time.
RENDER_CPU_VERSIONS void rotateBilinear4(const CpuLaunch& launch,
                                         const Turn& turn,
                                         int rowBegin,
                                         int rowEnd) {
    turnRows<BilinearFilter, 4>(launch, turn, rowBegin, rowEnd);
}
TURN_CUBIC_CPU_VERSIONS void rotateCubic4(const CpuLaunch& launch,
                                          const Turn& turn,
                                          int rowBegin,
                                          int rowEnd) {
    turnRows<CubicFilter, 4>(launch, turn, rowBegin, rowEnd);
}
RENDER_CPU_VERSIONS void rotateLanczos4(const CpuLaunch& launch,
                                        const Turn& turn,
                                        int rowBegin,
                                        int rowEnd) {
    turnRows<LanczosFilter, 4>(launch, turn, rowBegin, rowEnd);
}

/// A turn about the vertical axis only (the view panned sideways, the most common turn) over
/// a panorama of the same size: every row moves along itself by the same `shift` pixels and
/// stays on its own row, so the source position of (x, y) is (x + 0.5 + shift, y + 0.5),
/// x modulo the width. The filter's weights are the same for every pixel of the launch and
/// across rows they are the filter's at 0 (the row itself for every filter here), so each
/// pixel reads kTaps neighbours of one source row: no trigonometry, a quarter of the taps.
/// The same result as the general turn up to its float rounding of the positions.
template <class F, int C>
inline __attribute__((always_inline)) void yawRows(const CpuLaunch& launch,
                                                   double shift,
                                                   int rowBegin,
                                                   int rowEnd) {
    const Kiln::Compute::KernelImage& src = launch.images[0];
    const Kiln::Compute::KernelImage& out = launch.images[1];
    const int width = src.box.width();
    constexpr int kTaps = F::kTaps;
    // Source column of tap 0 for output column x: x - out.x0 + first (mod width).
    float wx[kTaps] = {1.0f};
    int first;
    if constexpr (kTaps == 1) {
        first = floorToInt(0.5 + shift);
    } else {
        const double whole = std::floor(shift);
        F::weights(float(shift - whole), wx);
        first = int(whole) + 1 - kTaps / 2;
    }
    first = wrapIndex(first, width);
    // Tap 0's column for the launch's first pixel; it steps by one per pixel, wrapping.
    const int start = wrapIndex(launch.domain.x0 - out.box.x0 + first, width);
    for (int y = rowBegin; y < rowEnd; ++y) {
        const float* row = reinterpret_cast<const float*>(
            src.origin + std::ptrdiff_t(y - out.box.y0) * src.rowBytes);
        float* o = Kiln::JIT::PixelAt<float, C>(out, launch.domain.x0, y);
        int column = start;
        for (int x = launch.domain.x0; x < launch.domain.x1; ++x, o += C) {
            float acc[C] = {};
            if (column + kTaps <= width) {
                const float* p = row + std::ptrdiff_t(column) * C;
                for (int t = 0; t < kTaps; ++t)
                    for (int c = 0; c < C; ++c) acc[c] += wx[t] * p[t * C + c];
            } else {
                for (int t = 0; t < kTaps; ++t) {
                    const int k = column + t < width ? column + t : column + t - width;
                    for (int c = 0; c < C; ++c) acc[c] += wx[t] * row[k * C + c];
                }
            }
            for (int c = 0; c < C; ++c) o[c] = acc[c];
            column = column + 1 == width ? 0 : column + 1;
        }
    }
}

// The four-channel sideways turns for both CPU generations, as the general turn's.
RENDER_CPU_VERSIONS void yawBilinear4(const CpuLaunch& launch,
                                      double shift,
                                      int rowBegin,
                                      int rowEnd) {
    yawRows<BilinearFilter, 4>(launch, shift, rowBegin, rowEnd);
}
RENDER_CPU_VERSIONS void yawCubic4(const CpuLaunch& launch,
                                   double shift,
                                   int rowBegin,
                                   int rowEnd) {
    yawRows<CubicFilter, 4>(launch, shift, rowBegin, rowEnd);
}
RENDER_CPU_VERSIONS void yawLanczos4(const CpuLaunch& launch,
                                     double shift,
                                     int rowBegin,
                                     int rowEnd) {
    yawRows<LanczosFilter, 4>(launch, shift, rowBegin, rowEnd);
}

/// Calls rows(F()) with the type F of the launch's filter (parameter 4: 0 Bilinear, 1 Cubic,
/// 2 Lanczos, 3 Nearest; anything else Bilinear).
template <class Rows>
inline void withFilter(int filter, Rows&& rows) {
    switch (filter) {
        case 1:
            return rows(CubicFilter());
        case 2:
            return rows(LanczosFilter());
        case 3:
            return rows(NearestFilter());
        default:
            return rows(BilinearFilter());
    }
}

template <int C>
void yawTurn(const CpuLaunch& launch, double shift, int rowBegin, int rowEnd) {
    const int filter = launch.param<int>(4);
    if constexpr (C == 4) {
        // Bilinear, Cubic and Lanczos over four channels: the loops built per CPU generation.
        static void (*const kRows4[])(const CpuLaunch&, double, int, int) = {
            yawBilinear4, yawCubic4, yawLanczos4};
        if (filter >= 0 && filter < 3) return kRows4[filter](launch, shift, rowBegin, rowEnd);
    }
    withFilter(filter, [&](auto f) { yawRows<decltype(f), C>(launch, shift, rowBegin, rowEnd); });
}

/// Zeros over the launch's rows: a launch whose scalars show nothing.
template <int C>
void zeroRows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
    for (int r = rowBegin; r < rowEnd; ++r) {
        float* o = Kiln::JIT::PixelAt<float, C>(launch.images[1], launch.domain.x0, r);
        std::fill(o, o + std::ptrdiff_t(launch.domain.width()) * C, 0.0f);
    }
}

template <typename T, int C>
struct RotateRows {
    static constexpr unsigned kOutputImage = 1;
    static void rows(const CpuLaunch& launch, int rowBegin, int rowEnd) {
        double w = launch.param<float>(0), x = launch.param<float>(1);
        double y = launch.param<float>(2), z = launch.param<float>(3);
        const int filter = launch.param<int>(4);
        Turn turn;
        turn.lens = launch.param<int>(5);
        turn.focal = launch.param<float>(6);
        turn.centreX = launch.param<float>(7);
        turn.centreY = launch.param<float>(8);
        turn.aspect = launch.param<float>(9);
        const bool lensValid =
            turn.lens == 0 ||
            ((turn.lens == 1 || turn.lens == 2) && turn.focal > 0.0f && turn.aspect > 0.0f &&
             std::isfinite(turn.focal * turn.aspect * turn.centreX * turn.centreY));
        const double n = std::sqrt(w * w + x * x + y * y + z * z);
        if (!(n > 0.0) || !std::isfinite(n) || !lensValid)
            return zeroRows<C>(launch, rowBegin, rowEnd);
        w /= n, x /= n, y /= n, z /= n;
        const Kiln::Compute::KernelImage& src = launch.images[0];
        const Kiln::Compute::KernelImage& out = launch.images[1];
        const bool sameSize = turn.lens == 0 && src.box.width() == out.box.width() &&
                              src.box.height() == out.box.height();
        // No turn over a panorama of the same size: every position is a pixel centre, which
        // every filter reads back unchanged, so copy.
        if (x == 0.0 && y == 0.0 && z == 0.0 && sameSize) {
            const int dx = src.box.x0 - out.box.x0, dy = src.box.y0 - out.box.y0;
            for (int r = rowBegin; r < rowEnd; ++r)
                std::copy_n(Kiln::JIT::PixelAt<float, C>(src, launch.domain.x0 + dx, r + dy),
                            std::ptrdiff_t(launch.domain.width()) * C,
                            Kiln::JIT::PixelAt<float, C>(out, launch.domain.x0, r));
            return;
        }
        if (x == 0.0 && z == 0.0 && sameSize) {
            // R(q) turns longitude by 2 atan2(y, w) about +Y: the source of longitude lon lies
            // at lon + that angle.
            constexpr double kPi = 3.14159265358979323846;
            const double yaw = 2.0 * std::atan2(y, w);
            return yawTurn<C>(launch, yaw / (2.0 * kPi) * src.box.width(), rowBegin, rowEnd);
        }
        // The rotation matrix of a unit quaternion.
        const double m[9] = {1 - 2 * (y * y + z * z),
                             2 * (x * y - w * z),
                             2 * (x * z + w * y),
                             2 * (x * y + w * z),
                             1 - 2 * (x * x + z * z),
                             2 * (y * z - w * x),
                             2 * (x * z - w * y),
                             2 * (y * z + w * x),
                             1 - 2 * (x * x + y * y)};
        for (int i = 0; i < 9; ++i) turn.m[i] = float(m[i]);
        if constexpr (C == 4) {
            static void (*const kRows4[])(const CpuLaunch&, const Turn&, int, int) = {
                rotateBilinear4, rotateCubic4, rotateLanczos4};
            if (filter >= 0 && filter < 3) return kRows4[filter](launch, turn, rowBegin, rowEnd);
        }
        withFilter(filter,
                   [&](auto f) { turnRows<decltype(f), C>(launch, turn, rowBegin, rowEnd); });
    }
};

}  // namespace

void registerRotateLatlong() {
    static std::once_flag once;
    Kiln::JIT::RegisterOnce<&Kiln::JIT::FloatShapeVariants<RotateRows, 2>>(
        once, kRotateLatlongId, kRotateLatlongParams);
}

namespace {
[[maybe_unused]] const bool kRegistered = (registerRotateLatlong(), true);
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
