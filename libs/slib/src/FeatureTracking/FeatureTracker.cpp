// SPDX-License-Identifier: Apache-2.0
#include "slib/FeatureTracking/FeatureTracker.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "Pyramid.h"

namespace Korvane {
namespace SLIB {
namespace FeatureTracking {

FeatureTracker::FeatureTracker() = default;
FeatureTracker::~FeatureTracker() = default;

void FeatureTracker::releaseCache() { m_pyramids.clear(); }

const detail::Pyramid& FeatureTracker::pyramidOf(const Context& context,
                                                 const TrackingImage& image,
                                                 int levels) {
    auto found = m_pyramids.find(context);
    if (found == m_pyramids.end() || found->second->levels() < levels ||
        found->second->level(0).width != image.width ||
        found->second->level(0).height != image.height)
        found =
            m_pyramids.insert_or_assign(context, std::make_shared<detail::Pyramid>(image, levels))
                .first;
    return *found->second;
}

bool FeatureTracker::track(const Context& previous,
                           const TrackingImage& previousImage,
                           const Context& current,
                           const TrackingImage& currentImage,
                           std::vector<TrackedFeatureTrack>& tracks) {
    if (previousImage.empty() || currentImage.empty() || previous == current ||
        m_patchSize < kMinPatchSize)
        return false;
    if (previousImage.width != currentImage.width || previousImage.height != currentImage.height)
        return false;
    if (!m_format.empty() &&
        (previousImage.width != m_format.width || previousImage.height != m_format.height))
        return false;

    // Tracking runs forward: pyramids of this view older than the previous frame are done.
    for (auto it = m_pyramids.begin(); it != m_pyramids.end();)
        it = it->first.view == previous.view && it->first.frame < previous.frame &&
                     it->first != current
                 ? m_pyramids.erase(it)
                 : std::next(it);

    try {
        const int levels = detail::Pyramid::levelsFor(
            currentImage.width, currentImage.height, m_patchSize, std::max(1, m_stage.maxLevels()));
        const detail::Pyramid& before = pyramidOf(previous, previousImage, levels);
        const detail::Pyramid& after = pyramidOf(current, currentImage, levels);
        int followed = 0;
        for (TrackedFeatureTrack& track : tracks) {
            const TrackedFeature* from = track.find(previous);
            if (!from || followed++ >= m_stage.maxFeatures()) continue;
            detail::PatchResult r =
                detail::followPatch(before, after, from->x, from->y, m_patchSize, m_stage.window());
            // Forward-backward check: followed back from where it arrived, a point must come
            // home. A point that slid onto a look-alike (its own place covered, or a repeated
            // pattern) arrives back elsewhere.
            if (r.error != TrackedFeature::kLost) {
                const detail::PatchResult back =
                    detail::followPatch(after, before, r.x, r.y, m_patchSize, m_stage.window());
                if (back.error == TrackedFeature::kLost ||
                    std::hypot(back.x - from->x, back.y - from->y) > kMaxRoundTrip)
                    r.error = TrackedFeature::kLost;
            }
            TrackedFeature to(r.x, r.y, r.score, r.error);
            to.id = from->id;
            if (m_stage.accepts(to)) track.setKey(current, to);
        }
        if (m_detection && m_maxNewFeatures > 0) detect(current, currentImage, tracks);
    } catch (const std::bad_alloc&) {
        m_pyramids.clear();
        return false;
    }
    return true;
}

void FeatureTracker::detect(const Context& current,
                            const TrackingImage& image,
                            std::vector<TrackedFeatureTrack>& tracks) const {
    const int w = image.width, h = image.height, n = m_patchSize, r = n / 2;
    if (w <= n + 2 || h <= n + 2) return;
    // Integral images of the structure tensor's entries (central-difference gradients).
    const size_t stride = size_t(w) + 1;
    std::vector<double> sxx(stride * size_t(h + 1), 0.0), sxy(sxx), syy(sxx);
    for (int j = 0; j < h; ++j) {
        double rxx = 0, rxy = 0, ryy = 0;
        for (int i = 0; i < w; ++i) {
            double gx = 0, gy = 0;
            if (i > 0 && i + 1 < w) gx = 0.5 * (image.at(i + 1, j) - image.at(i - 1, j));
            if (j > 0 && j + 1 < h) gy = 0.5 * (image.at(i, j + 1) - image.at(i, j - 1));
            rxx += gx * gx, rxy += gx * gy, ryy += gy * gy;
            const size_t at = size_t(j + 1) * stride + size_t(i + 1);
            sxx[at] = sxx[at - stride] + rxx;
            sxy[at] = sxy[at - stride] + rxy;
            syy[at] = syy[at - stride] + ryy;
        }
    }
    auto box = [&](const std::vector<double>& s, int i0, int j0, int i1, int j1) {
        return s[size_t(j1) * stride + size_t(i1)] - s[size_t(j0) * stride + size_t(i1)] -
               s[size_t(j1) * stride + size_t(i0)] + s[size_t(j0) * stride + size_t(i0)];
    };
    // The smaller eigenvalue of the tensor over the patch, wherever the whole patch fits.
    std::vector<float> response(size_t(w) * size_t(h), 0.0f);
    std::vector<float> values;
    for (int j = r + 1; j + r + 1 < h; ++j)
        for (int i = r + 1; i + r + 1 < w; ++i) {
            const double a = box(sxx, i - r, j - r, i + r + 1, j + r + 1);
            const double b = box(sxy, i - r, j - r, i + r + 1, j + r + 1);
            const double c = box(syy, i - r, j - r, i + r + 1, j + r + 1);
            const double m = 0.5 * (a + c) - std::sqrt(0.25 * (a - c) * (a - c) + b * b);
            response[size_t(j) * size_t(w) + size_t(i)] = float(m);
            values.push_back(float(m));
        }
    if (values.empty()) return;
    const size_t q = std::min(values.size() - 1,
                              size_t(std::clamp(m_responseQuantile, 0.0, 1.0) * values.size()));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(q), values.end());
    const float threshold = std::max(values[q], 1e-12f);

    struct Candidate {
        float response;
        int i, j;
    };
    std::vector<Candidate> candidates;
    for (int j = r + 1; j + r + 1 < h; ++j)
        for (int i = r + 1; i + r + 1 < w; ++i) {
            const float v = response[size_t(j) * size_t(w) + size_t(i)];
            if (v < threshold) continue;
            bool peak = true;
            for (int dj = -1; dj <= 1 && peak; ++dj)
                for (int di = -1; di <= 1 && peak; ++di)
                    if ((di || dj) && response[size_t(j + dj) * size_t(w) + size_t(i + di)] > v)
                        peak = false;
            if (peak) candidates.push_back({v, i, j});
        }
    std::stable_sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
        return a.response > b.response;
    });

    // Spacing through a grid of cells one spacing wide: a point's neighbours lie in the 3 x 3
    // cells around it.
    const double spacing = std::max(1.0, m_featureSpacing * n);
    const int cw = int(w / spacing) + 1, ch = int(h / spacing) + 1;
    std::vector<std::vector<std::pair<double, double>>> cells(size_t(cw) * size_t(ch));
    auto cellOf = [&](double x, double y) {
        return std::pair<int, int>(std::clamp(int(x / spacing), 0, cw - 1),
                                   std::clamp(int(y / spacing), 0, ch - 1));
    };
    auto place = [&](double x, double y) {
        const auto [cx, cy] = cellOf(x, y);
        cells[size_t(cy) * size_t(cw) + size_t(cx)].emplace_back(x, y);
    };
    auto free = [&](double x, double y) {
        const auto [cx, cy] = cellOf(x, y);
        for (int gy = std::max(cy - 1, 0); gy <= std::min(cy + 1, ch - 1); ++gy)
            for (int gx = std::max(cx - 1, 0); gx <= std::min(cx + 1, cw - 1); ++gx)
                for (const auto& p : cells[size_t(gy) * size_t(cw) + size_t(gx)])
                    if (std::hypot(p.first - x, p.second - y) < spacing) return false;
        return true;
    };
    int nextId = 0;
    for (const TrackedFeatureTrack& track : tracks) {
        for (const auto& key : track.keys()) nextId = std::max(nextId, key.second.id + 1);
        if (const TrackedFeature* f = track.find(current)) place(f->x, f->y);
    }
    int added = 0;
    for (const Candidate& c : candidates) {
        if (added >= m_maxNewFeatures) break;
        const double x = c.i + 0.5, y = c.j + 0.5;
        if (!free(x, y)) continue;
        place(x, y);
        TrackedFeature feature(x, y, 1.0, 0.0);
        feature.id = nextId++;
        tracks.emplace_back();
        tracks.back().setKey(current, feature);
        ++added;
    }
}

}  // namespace FeatureTracking
}  // namespace SLIB
}  // namespace Korvane
