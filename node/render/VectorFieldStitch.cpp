// SPDX-License-Identifier: Apache-2.0
#include "render/VectorFieldStitch.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "kiln/WorkerPool.h"

namespace Kiln {
namespace ImageStitcher {
namespace {

// A camera "sees" a cell where its alpha passes this: the flow is measured only where both
// cameras see the whole cell.
constexpr float kSeen = 0.9f;

// std::hypot guards against overflow that displacements of a few cells never reach, at
// several times the cost; this runs for every cell of every camera.
inline float length(float x, float y) { return std::sqrt(x * x + y * y); }

cv::Mat lumaOf(const HostImage& camera, const std::array<float, 3>& gain) {
    cv::Mat luma(camera.height, camera.width, CV_8UC1);
    for (int y = 0; y < camera.height; ++y) {
        unsigned char* row = luma.ptr<unsigned char>(y);
        for (int x = 0; x < camera.width; ++x) {
            const float a = camera.at(x, y, 3);
            if (a <= 0.0f) {
                row[x] = 0;
                continue;
            }
            const float Y =
                (0.2126f * gain[0] * camera.at(x, y, 0) + 0.7152f * gain[1] * camera.at(x, y, 1) +
                 0.0722f * gain[2] * camera.at(x, y, 2)) /
                a;
            // A display-like curve spreads the 8 bits evenly over what the eye tells apart.
            row[x] = static_cast<unsigned char>(
                std::lround(255.0f * std::pow(std::clamp(Y, 0.0f, 1.0f), 1.0f / 2.2f)));
        }
    }
    return luma;
}

/// The first column of the overlap's run when the columns are read around the circle, and
/// the run's length: the overlap starts right after the widest gap of columns without it.
std::pair<int, int> circularSpan(const std::vector<bool>& used) {
    const int w = int(used.size());
    int bestGap = 0, bestEnd = 0;
    for (int start = 0; start < w; ++start) {
        if (used[start] || used[(start + w - 1) % w]) continue;  // not the start of a gap
        int len = 0;
        while (len < w && !used[(start + len) % w]) ++len;
        if (len > bestGap) {
            bestGap = len;
            bestEnd = (start + len) % w;
        }
    }
    if (bestGap == 0) {
        // Either no gap at all or gaps that start at column 0.
        int len = 0;
        while (len < w && !used[len]) ++len;
        if (len == w) return {0, 0};
        int tail = 0;
        while (tail < w && !used[w - 1 - tail]) ++tail;
        if (len + tail == 0) return {0, w};
        return {len, w - len - tail};
    }
    return {bestEnd, w - bestGap};
}

/// featherDistance(camera, 3, 0.5) computed over the box of the cells the camera sees, grown by
/// one unseen cell (whole rows or columns where it reaches around): the nearest unseen cell of
/// any seen one lies inside that box, so the distances are the whole grid's at a fraction of
/// the cost.
HostImage featherOverFootprint(const HostImage& camera) {
    const int w = camera.width, h = camera.height;
    int x0 = w, x1 = -1, y0 = h, y1 = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (camera.at(x, y, 3) > 0.5f) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    if (x1 < 0) return HostImage(w, h, 1, 0.0f);
    x0 -= 1, y0 = std::max(0, y0 - 1), x1 += 1, y1 = std::min(h - 1, y1 + 1);
    if (x0 < 0 || x1 >= w) x0 = 0, x1 = w - 1;  // around the longitude seam: whole rows
    if (x0 == 0 && x1 == w - 1 && y0 == 0 && y1 == h - 1) return featherDistance(camera, 3, 0.5f);
    HostImage part(x1 - x0 + 1, y1 - y0 + 1, 4, 0.0f);
    for (int y = 0; y < part.height; ++y)
        for (int x = 0; x < part.width; ++x) part.at(x, y, 3) = camera.at(x0 + x, y0 + y, 3);
    const HostImage distance = featherDistance(part, 3, 0.5f);
    HostImage whole(w, h, 1, 0.0f);
    for (int y = 0; y < part.height; ++y)
        for (int x = 0; x < part.width; ++x) whole.at(x0 + x, y0 + y) = distance.at(x, y);
    return whole;
}

}  // namespace

std::vector<HostImage> computeVectorFields(const std::vector<HostImage>& cameras,
                                           const std::vector<std::array<float, 3>>& gains,
                                           const std::vector<std::pair<int, int>>& links,
                                           VectorFieldStats* stats,
                                           float smoothing,
                                           float largestShift) {
    const int n = int(cameras.size());
    VectorFieldStats figures;
    if (n == 0) {
        if (stats) *stats = figures;
        return {};
    }
    const int w = cameras[0].width;
    const int h = cameras[0].height;
    std::vector<HostImage> fields(n, HostImage(w, h, 2, 0.0f));
    std::vector<HostImage> feathers(n);
    std::vector<cv::Mat> lumas(n);
    // Cameras, then pairs, run on the worker pool; each task writes only its own entries.
    Kiln::WorkerPool::ParallelFor(std::size_t(n), [&](std::size_t i) {
        feathers[i] = featherOverFootprint(cameras[i]);
        lumas[i] = lumaOf(cameras[i], gains[i]);
    });
    std::set<std::pair<int, int>> linked;
    for (const auto& [a, b] : links)
        if (a != b && a >= 0 && b >= 0 && a < n && b < n)
            linked.insert({std::min(a, b), std::max(a, b)});
    const std::vector<std::pair<int, int>> pairs(linked.begin(), linked.end());

    const int margin = int(std::ceil(3 * smoothing)) + 4;
    const float fade = 3.0f * smoothing;

    // The smoothed flow of each pair over its overlap's box; empty where the pair does not
    // overlap enough to be measured.
    struct PairFlow {
        int cx0 = 0, cy0 = 0, cw = 0, ch = 0;
        std::vector<cv::Mat> parts;
        cv::Mat den;
    };
    std::vector<PairFlow> flows(pairs.size());
    Kiln::WorkerPool::ParallelFor(pairs.size(), [&](std::size_t p) {
        const auto [i, j] = pairs[p];
        const HostImage& ci = cameras[i];
        const HostImage& cj = cameras[j];
        std::vector<bool> columns(w, false);
        int count = 0, y0 = h, y1 = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (ci.at(x, y, 3) >= kSeen && cj.at(x, y, 3) >= kSeen) {
                    columns[x] = true;
                    ++count;
                    y0 = std::min(y0, y);
                    y1 = std::max(y1, y);
                }
        if (count < 64) return;
        const auto [start, span] = circularSpan(columns);
        // An overlap around the whole longitude circle (toward a pole, or between cameras of
        // very wide lenses) is measured over the circle and a margin more on either side, so
        // the flow continues across the longitude seam instead of starting afresh at both
        // edges (the two copies of the columns about the seam are mixed, below).
        const bool around = span + 2 * margin >= w;
        const int cw = around ? w + 2 * margin : span + 2 * margin;
        const int cx0 = around ? -margin : start - margin;
        const int cy0 = std::max(0, y0 - margin);
        const int ch = std::min(h - 1, y1 + margin) - cy0 + 1;
        auto column = [&](int x) { return ((cx0 + x) % w + w) % w; };

        // Each image completed by the other outside its footprint: the flow there is zero.
        cv::Mat a(ch, cw, CV_8UC1), b(ch, cw, CV_8UC1), both(ch, cw, CV_32FC1);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                const int gx = column(x), gy = cy0 + y;
                const bool si = ci.at(gx, gy, 3) >= kSeen;
                const bool sj = cj.at(gx, gy, 3) >= kSeen;
                const unsigned char li = lumas[i].at<unsigned char>(gy, gx);
                const unsigned char lj = lumas[j].at<unsigned char>(gy, gx);
                a.at<unsigned char>(y, x) = si ? li : (sj ? lj : 0);
                b.at<unsigned char>(y, x) = sj ? lj : (si ? li : 0);
                both.at<float>(y, x) = si && sj ? 1.0f : 0.0f;
            }
        // The grid is already coarse (about 2.5 panorama pixels a cell): refine down to full
        // grid resolution, which the sub-cell accuracy of the seam needs.
        cv::Ptr<cv::DISOpticalFlow> dis =
            cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_FAST);
        dis->setFinestScale(0);
        cv::Mat flow;
        dis->calc(a, b, flow);

        // Normalised smoothing over the cells both see; outliers limited first.
        std::vector<cv::Mat> parts(2);
        cv::split(flow, parts);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                float& fx = parts[0].at<float>(y, x);
                float& fy = parts[1].at<float>(y, x);
                const float len = length(fx, fy);
                const float k = len > largestShift ? largestShift / len : 1.0f;
                const float m = both.at<float>(y, x);
                fx *= k * m;
                fy *= k * m;
            }
        cv::Mat den;
        const cv::Size kernel(0, 0);
        cv::GaussianBlur(both, den, kernel, smoothing, smoothing, cv::BORDER_CONSTANT);
        cv::GaussianBlur(parts[0], parts[0], kernel, smoothing, smoothing, cv::BORDER_CONSTANT);
        cv::GaussianBlur(parts[1], parts[1], kernel, smoothing, smoothing, cv::BORDER_CONSTANT);
        flows[p] = {cx0, cy0, cw, ch, parts, den};
    });

    for (std::size_t p = 0; p < pairs.size(); ++p) {
        const auto [i, j] = pairs[p];
        const PairFlow& pf = flows[p];
        if (pf.cw == 0) continue;
        ++figures.pairs;
        const int cx0 = pf.cx0, cy0 = pf.cy0, cw = pf.cw, ch = pf.ch;
        const int from = cw > w ? (cw - w) / 2 : 0, to = cw > w ? from + w : cw;
        const std::vector<cv::Mat>& parts = pf.parts;
        const cv::Mat& den = pf.den;
        auto column = [&](int x) { return ((cx0 + x) % w + w) % w; };
        // The smoothed flow at crop column x: (fx, fy, den). Around the whole circle, the
        // 2 x `from` columns about the longitude seam have two copies in the crop, one
        // continuous with the crop's right part (crop w + u) and one with its left part (crop
        // u); they are mixed by a smoothstep across the band, so the field has no seam.
        auto flowAt = [&](int y, int x) {
            const auto at = [&](int c) {
                return std::array<float, 3>{
                    parts[0].at<float>(y, c), parts[1].at<float>(y, c), den.at<float>(y, c)};
            };
            const int g = column(x);
            const int u = cw <= w ? -1 : g >= w - from ? g - (w - from) : g < from ? g + from : -1;
            if (u < 0) return at(x);
            const float t = (float(u) + 0.5f) / float(2 * from);
            const float s = t * t * (3.0f - 2.0f * t);
            const auto right = at(w + u), left = at(u);
            return std::array<float, 3>{(1 - s) * right[0] + s * left[0],
                                        (1 - s) * right[1] + s * left[1],
                                        (1 - s) * right[2] + s * left[2]};
        };
        for (int y = 0; y < ch; ++y)
            for (int x = from; x < to; ++x) {
                // Full strength where at least half the neighbourhood is overlap, fading
                // smoothly to zero beyond its edge.
                const auto [px, py, d] = flowAt(y, x);
                if (d < 1e-4f) continue;
                const float norm = 1.0f / std::max(d, 0.5f);
                float fx = px * norm;
                float fy = py * norm;
                const int gx = column(x), gy = cy0 + y;
                const float fi = feathers[i].at(gx, gy), fj = feathers[j].at(gx, gy);
                const float ti = fi + fj > 0.0f ? fj / (fi + fj) : 0.5f;
                // Where both cameras near their own edges (the overlap's top and bottom), the
                // shares swing fast: the field fades there so that it never folds.
                const float r = std::clamp(std::min(fi, fj) / fade, 0.0f, 1.0f);
                const float ramp = r * r * (3.0f - 2.0f * r);
                fx *= ramp;
                fy *= ramp;
                fields[i].at(gx, gy, 0) -= ti * fx;
                fields[i].at(gx, gy, 1) -= ti * fy;
                fields[j].at(gx, gy, 0) += (1.0f - ti) * fx;
                fields[j].at(gx, gy, 1) += (1.0f - ti) * fy;
            }
    }

    for (int i = 0; i < n; ++i) {
        const HostImage& f = fields[i];
        for (int y = 0; y < h; ++y) {
            // Rows run from the south pole (row 0) to the north pole; cell centres at +0.5.
            const float arc = std::cos((float(y) + 0.5f) / float(h) * 3.14159265f - 1.5707963f);
            for (int x = 0; x < w; ++x) {
                const float dx = f.at(x, y, 0), dy = f.at(x, y, 1);
                figures.largestShift = std::max(figures.largestShift, length(dx, dy));
                if (cameras[i].at(x, y, 3) < 0.5f) continue;
                auto jump = [&](int x2, int y2) {
                    if (cameras[i].at(x2, y2, 3) < 0.5f) return;
                    const float ex = f.at(x2, y2, 0) - dx, ey = f.at(x2, y2, 1) - dy;
                    figures.largestJump = std::max(figures.largestJump, length(ex, ey));
                    figures.largestArcJump = std::max(figures.largestArcJump, length(ex * arc, ey));
                };
                jump((x + 1) % w, y);
                if (y + 1 < h) jump(x, y + 1);
            }
        }
    }
    if (stats) *stats = figures;
    return fields;
}

}  // namespace ImageStitcher
}  // namespace Kiln
