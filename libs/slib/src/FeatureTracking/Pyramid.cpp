// SPDX-License-Identifier: Apache-2.0
#include "Pyramid.h"

#include <algorithm>
#include <cmath>

namespace Korvane {
namespace SLIB {
namespace FeatureTracking {
namespace detail {

namespace {

/// Gauss-Newton iterations per level, and the step (pixels of the level) below which a level
/// has converged: 0.01 on the coarse levels, 0.001 on the image itself.
constexpr int kMaxIterations = 30;
constexpr double kCoarseStep = 0.01;
constexpr double kFineStep = 0.001;
/// A step still this large after the last iteration of level 0 means the search oscillates.
constexpr double kDivergedStep = 0.5;
/// The structure tensor is damped by this fraction of its trace, so that a patch on a straight
/// edge keeps its position along the edge instead of sliding on noise.
constexpr double kDamping = 1e-3;
/// A patch whose mean squared gradient is below this (intensity units squared per pixel) is
/// flat: it fixes no position.
constexpr double kMinGradientEnergy = 1e-10;

}  // namespace

Pyramid::Pyramid(const TrackingImage& image, int levels) {
    m_levels.push_back(image);
    for (int l = 1; l < levels; ++l) {
        const TrackingImage& fine = m_levels.back();
        TrackingImage coarse(fine.width / 2, fine.height / 2);
        if (coarse.width < 1 || coarse.height < 1) break;
        for (int j = 0; j < coarse.height; ++j) {
            const float* r0 = &fine.pixels[size_t(2 * j) * size_t(fine.width)];
            const float* r1 = r0 + fine.width;
            float* out = &coarse.pixels[size_t(j) * size_t(coarse.width)];
            for (int i = 0; i < coarse.width; ++i)
                out[i] = 0.25f * (r0[2 * i] + r0[2 * i + 1] + r1[2 * i] + r1[2 * i + 1]);
        }
        m_levels.push_back(std::move(coarse));
    }
}

int Pyramid::levelsFor(int width, int height, int patch, int maxLevels) {
    int levels = 1;
    const int need = std::max(patch, 1);
    while (levels < maxLevels && std::min(width, height) >> levels >= need) ++levels;
    return levels;
}

bool sampleStrict(const TrackingImage& image, double x, double y, float* value) {
    const double u = x - 0.5, v = y - 0.5;
    const double fu = std::floor(u), fv = std::floor(v);
    if (!(fu >= 0.0 && fv >= 0.0 && fu + 1.0 <= image.width - 1 && fv + 1.0 <= image.height - 1)) {
        // Exactly on the last row or column is still inside.
        if (!(u >= 0.0 && v >= 0.0 && u <= image.width - 1 && v <= image.height - 1)) return false;
        *value = sampleClamped(image, x, y);
        return true;
    }
    const int i = int(fu), j = int(fv);
    const float a = float(u - fu), b = float(v - fv);
    const float* r0 = &image.pixels[size_t(j) * size_t(image.width) + size_t(i)];
    const float* r1 = r0 + image.width;
    *value = (1 - b) * ((1 - a) * r0[0] + a * r0[1]) + b * ((1 - a) * r1[0] + a * r1[1]);
    return true;
}

float sampleClamped(const TrackingImage& image, double x, double y) {
    const double u = std::clamp(x - 0.5, 0.0, double(image.width - 1));
    const double v = std::clamp(y - 0.5, 0.0, double(image.height - 1));
    const int i = std::min(int(u), image.width - 1), j = std::min(int(v), image.height - 1);
    const int i1 = std::min(i + 1, image.width - 1), j1 = std::min(j + 1, image.height - 1);
    const float a = float(u - i), b = float(v - j);
    return (1 - b) * ((1 - a) * image.at(i, j) + a * image.at(i1, j)) +
           b * ((1 - a) * image.at(i, j1) + a * image.at(i1, j1));
}

namespace {

/// The patch of one level: its samples and their gradients, which of them lie inside the
/// image, and the inverse of the damped structure tensor of those.
struct Template {
    std::vector<float> value, gx, gy;
    std::vector<char> inside;
    double h00 = 0.0, h01 = 0.0, h11 = 0.0;  // inverse tensor
    bool usable = false;
};

/// Offsets of the patch's samples from its centre: (i - (n - 1) / 2, j - (n - 1) / 2).
double offset(int i, int n) { return i - 0.5 * (n - 1); }

/// The template around (x, y). With `whole`, every sample must lie inside the image; otherwise
/// at least half of them must, and the others are left out of the alignment.
Template makeTemplate(const TrackingImage& image, double x, double y, int n, bool whole) {
    Template t;
    const size_t count = size_t(n) * size_t(n);
    t.value.assign(count, 0.0f);
    t.gx.assign(count, 0.0f);
    t.gy.assign(count, 0.0f);
    t.inside.assign(count, 0);
    double a = 0.0, b = 0.0, c = 0.0;
    size_t k = 0, used = 0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i, ++k) {
            const double px = x + offset(i, n), py = y + offset(j, n);
            if (!sampleStrict(image, px, py, &t.value[k])) {
                if (whole) return t;
                continue;
            }
            t.inside[k] = 1;
            ++used;
            t.gx[k] = 0.5f * (sampleClamped(image, px + 1, py) - sampleClamped(image, px - 1, py));
            t.gy[k] = 0.5f * (sampleClamped(image, px, py + 1) - sampleClamped(image, px, py - 1));
            a += double(t.gx[k]) * t.gx[k];
            b += double(t.gx[k]) * t.gy[k];
            c += double(t.gy[k]) * t.gy[k];
        }
    const double trace = a + c;
    if (2 * used < count || !(trace / double(used) > kMinGradientEnergy)) return t;
    a += kDamping * trace;
    c += kDamping * trace;
    const double det = a * c - b * b;
    t.h00 = c / det;
    t.h01 = -b / det;
    t.h11 = a / det;
    t.usable = true;
    return t;
}

/// Samples the patch of `image` centred on (x, y) into `out`; false when strict and it leaves.
bool samplePatch(
    const TrackingImage& image, double x, double y, int n, bool strict, std::vector<float>& out) {
    out.resize(size_t(n) * size_t(n));
    size_t k = 0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i, ++k) {
            const double px = x + offset(i, n), py = y + offset(j, n);
            if (strict) {
                if (!sampleStrict(image, px, py, &out[k])) return false;
            } else {
                out[k] = sampleClamped(image, px, py);
            }
        }
    return true;
}

/// Zero-mean normalised cross-correlation; 0 when either patch is flat.
double correlation(const std::vector<float>& a, const std::vector<float>& b) {
    const double n = double(a.size());
    double sa = 0, sb = 0;
    for (size_t k = 0; k < a.size(); ++k) sa += a[k], sb += b[k];
    const double ma = sa / n, mb = sb / n;
    double ab = 0, aa = 0, bb = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        const double da = a[k] - ma, db = b[k] - mb;
        ab += da * db, aa += da * da, bb += db * db;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace

namespace {

/// One coarse-to-fine search over the `levels` finest levels.
PatchResult search(const Pyramid& previous,
                   const Pyramid& current,
                   double x,
                   double y,
                   int patch,
                   int window,
                   int levels) {
    PatchResult lost;
    lost.x = x;
    lost.y = y;
    double dx = 0.0, dy = 0.0;  // displacement in pixels of the level being searched
    std::vector<float> moved;
    double step = 0.0;
    for (int l = levels - 1; l >= 0; --l) {
        const double scale = std::ldexp(1.0, -l);
        const double px = x * scale, py = y * scale;
        const bool fine = l == 0;
        // A coarse level where the patch holds too little structure, or mostly lies beyond
        // the border, is passed over: the finer ones decide.
        const Template t = makeTemplate(previous.level(l), px, py, patch, fine);
        if (!t.usable) {
            if (fine) return lost;
            dx *= 2.0, dy *= 2.0;
            continue;
        }
        const TrackingImage& image = current.level(l);
        double qx = px + dx, qy = py + dy;
        const double tolerance = fine ? kFineStep : kCoarseStep;
        for (int it = 0; it < kMaxIterations; ++it) {
            // Samples beyond the border of either image are left out; an iterate may stray
            // there on its way, and only the final position must keep the patch inside.
            double bx = 0.0, by = 0.0;
            size_t k = 0;
            for (int j = 0; j < patch; ++j)
                for (int i = 0; i < patch; ++i, ++k) {
                    float v;
                    if (!t.inside[k] ||
                        !sampleStrict(image, qx + offset(i, patch), qy + offset(j, patch), &v))
                        continue;
                    const double e = double(v) - t.value[k];
                    bx += t.gx[k] * e;
                    by += t.gy[k] * e;
                }
            const double sx = t.h00 * bx + t.h01 * by, sy = t.h01 * bx + t.h11 * by;
            qx -= sx, qy -= sy;
            step = std::hypot(sx, sy);
            if (!std::isfinite(step)) return lost;
            if (step < tolerance) break;
        }
        dx = qx - px, dy = qy - py;
        // The window bounds the motion found at every level, in pixels of the coarsest one.
        if (std::hypot(dx, dy) * std::ldexp(1.0, l - (levels - 1)) > window) return lost;
        if (!fine) dx *= 2.0, dy *= 2.0;
    }
    if (step > kDivergedStep) return lost;

    const TrackingImage& image = previous.level(0);
    std::vector<float> before;
    if (!samplePatch(image, x, y, patch, true, before) ||
        !samplePatch(current.level(0), x + dx, y + dy, patch, true, moved))
        return lost;
    double sum = 0.0;
    for (size_t k = 0; k < moved.size(); ++k) {
        const double e = double(moved[k]) - before[k];
        sum += e * e;
    }
    PatchResult result;
    result.x = x + dx;
    result.y = y + dy;
    result.score = correlation(before, moved);
    result.error = std::sqrt(sum / double(moved.size()));
    return result;
}

}  // namespace

PatchResult followPatch(
    const Pyramid& previous, const Pyramid& current, double x, double y, int patch, int window) {
    // Near the border the coarsest levels see the patch mostly cut off and may send the search
    // astray; a search that fails is tried again from one level less, down to the image alone.
    PatchResult result;
    for (int levels = std::min(previous.levels(), current.levels()); levels >= 1; --levels) {
        result = search(previous, current, x, y, patch, window, levels);
        if (result.error >= 0.0) break;
    }
    return result;
}

}  // namespace detail
}  // namespace FeatureTracking
}  // namespace SLIB
}  // namespace Korvane
