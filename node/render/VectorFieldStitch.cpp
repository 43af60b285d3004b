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

// The flow's robustness against sensor noise and photometric differences, in vector-grid cells
// and luma levels (0 .. 255). Noise differs from frame to frame, so whatever part of the flow
// it drives shimmers on static content; these keep that part out:
// - the lumas are blurred by kDenoise cells before the flow (the grid is already a box average
//   of about 2.5 x 2.5 panorama pixels, so this is light);
// - a cell's confidence is its texture strength, the smaller eigenvalue e of the structure
//   tensor (gradients in levels per cell, averaged over kTextureWindow cells), as
//   e / (e + kTexture), times its forward-backward consistency, 1 / (1 + (d / kConsistency)^2)
//   for the distance d between where the forward flow lands and where the backward flow
//   brings it back, times its photometric agreement, 1 / (1 + (r / kResidual)^2) for the
//   difference r between the two lumas where the flow matches them (averaged over
//   kTextureWindow; vignetting and occlusions, which no shift explains, lower it);
// - the flow is smoothed weighted by confidence (over the same arc at every latitude, see
//   arcBlur), so cells without texture or with
//   inconsistent flow take their neighbours' flow (from a three times wider neighbourhood,
//   weighing kWideShare of the near one, where the near one has none), and where less than
//   kSupport of the neighbourhood is confident the flow shrinks toward zero (regularised
//   hardest where texture is weakest);
// - a deadband: below kDeadband cells the flow is exactly zero, rising smoothly to the full
//   flow at kDeadbandEnd, so that noise motion about a still seam becomes no motion at all.
constexpr float kDenoise = 1.0f;
constexpr float kTextureWindow = 2.0f;
constexpr float kTexture = 0.25f;
constexpr float kConsistency = 0.25f;
constexpr float kResidual = 4.0f;
constexpr float kSupport = 0.4f;
constexpr float kWideShare = 0.3f;
constexpr float kSettle = 2.0f;
constexpr float kDeadband = 0.1f;
constexpr float kDeadbandEnd = 0.3f;
// Toward the poles a grid cell spans an ever smaller arc of longitude, so the flow there rests
// on a few camera pixels smeared over many cells, and its horizontal shifts, in cells, grow
// without bound for a small turn. The field fades out between these latitudes (degrees).
constexpr float kPoleFadeStart = 60.0f;
constexpr float kPoleFadeEnd = 75.0f;

// std::hypot guards against overflow that displacements of a few cells never reach, at
// several times the cost; this runs for every cell of every camera.
inline float length(float x, float y) { return std::sqrt(x * x + y * y); }

// The flow is measured on display-like luma (0 .. 255 after a 1/2.2 curve, which spreads the
// levels evenly over what the eye tells apart), gain-compensated and lightly denoised.
cv::Mat lumaOf(const HostImage& camera, const std::array<float, 3>& gain) {
    cv::Mat luma(camera.height, camera.width, CV_32FC1);
    for (int y = 0; y < camera.height; ++y) {
        float* row = luma.ptr<float>(y);
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
            row[x] = 255.0f * std::pow(std::clamp(Y, 0.0f, 1.0f), 1.0f / 2.2f);
        }
    }
    return luma;
}

/// Per cell of a pair's crop, how far the flow there can be trusted (0 .. 1; see kTexture and
/// kConsistency), 0 where the two cameras do not both see the cell. `a` and `b` are the
/// denoised lumas, `flow` takes a to b and `back` b to a.
cv::Mat flowConfidence(const cv::Mat& a,
                       const cv::Mat& b,
                       const cv::Mat& flow,
                       const cv::Mat& back,
                       const cv::Mat& both) {
    const int h = a.rows, w = a.cols;
    // Structure tensor of the two images' mean.
    cv::Mat mean = 0.5f * (a + b), gx, gy;
    cv::Sobel(mean, gx, CV_32F, 1, 0, 1, 0.5, 0, cv::BORDER_REPLICATE);
    cv::Sobel(mean, gy, CV_32F, 0, 1, 1, 0.5, 0, cv::BORDER_REPLICATE);
    cv::Mat jxx = gx.mul(gx), jyy = gy.mul(gy), jxy = gx.mul(gy);
    const cv::Size kernel(0, 0);
    for (cv::Mat* j : {&jxx, &jyy, &jxy})
        cv::GaussianBlur(*j, *j, kernel, kTextureWindow, kTextureWindow, cv::BORDER_REPLICATE);
    // Where the forward flow lands, the backward flow (bilinear).
    cv::Mat mapX(h, w, CV_32FC1), mapY(h, w, CV_32FC1), returned;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const cv::Vec2f f = flow.at<cv::Vec2f>(y, x);
            mapX.at<float>(y, x) = float(x) + f[0];
            mapY.at<float>(y, x) = float(y) + f[1];
        }
    cv::remap(back, returned, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    // The photometric residual: a against b where the flow says a's content lies in b,
    // averaged over a few cells.
    cv::Mat landed, residual;
    cv::remap(b, landed, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::absdiff(a, landed, residual);
    cv::GaussianBlur(
        residual, residual, {0, 0}, kTextureWindow, kTextureWindow, cv::BORDER_REPLICATE);
    cv::Mat confidence(h, w, CV_32FC1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (both.at<float>(y, x) <= 0.0f) {
                confidence.at<float>(y, x) = 0.0f;
                continue;
            }
            const float xx = jxx.at<float>(y, x), yy = jyy.at<float>(y, x),
                        xy = jxy.at<float>(y, x);
            const float half = 0.5f * (xx - yy);
            const float smaller =
                std::max(0.0f, 0.5f * (xx + yy) - std::sqrt(half * half + xy * xy));
            const cv::Vec2f f = flow.at<cv::Vec2f>(y, x), r = returned.at<cv::Vec2f>(y, x);
            const float d = length(f[0] + r[0], f[1] + r[1]) / kConsistency;
            const float e = residual.at<float>(y, x) / kResidual;
            confidence.at<float>(y, x) =
                smaller / (smaller + kTexture) / (1.0f + d * d) / (1.0f + e * e);
        }
    return confidence;
}

/// The odd width of three box filters whose sum has about the variance of a Gaussian of
/// `sigma`: three boxes of width b have a variance of (b^2 - 1) / 4.
int boxWidth(float sigma) {
    return 2 * int(std::lround((std::sqrt(4.0f * sigma * sigma + 1.0f) - 1.0f) / 2.0f)) + 1;
}

/// A Gaussian blur over the same arc on the sphere everywhere, zero beyond the image, as three
/// box filters each way (whose cost does not grow with the width). Vertically `sigma` cells;
/// horizontally `sigma` / cos(latitude) cells (at most 4 x `sigma`), since a cell's width spans
/// cos(latitude) of the arc it spans at the equator: toward the poles the flow is averaged
/// over as much of the scene, not over ever fewer camera pixels. `firstRow` is the grid row of
/// the image's row 0, `gridRows` the grid's height (rows from the south pole).
void arcBlur(const cv::Mat& source, cv::Mat& result, float sigma, int firstRow, int gridRows) {
    const int h = source.rows, w = source.cols;
    cv::boxFilter(source, result, -1, {1, boxWidth(sigma)}, {-1, -1}, true, cv::BORDER_CONSTANT);
    cv::boxFilter(result, result, -1, {1, boxWidth(sigma)}, {-1, -1}, true, cv::BORDER_CONSTANT);
    cv::boxFilter(result, result, -1, {1, boxWidth(sigma)}, {-1, -1}, true, cv::BORDER_CONSTANT);
    std::vector<double> prefix(std::size_t(w) + 1);
    for (int y = 0; y < h; ++y) {
        const float latitude =
            ((float(firstRow + y) + 0.5f) / float(gridRows) - 0.5f) * 3.14159265f;
        const int half = boxWidth(sigma / std::max(std::cos(latitude), 0.25f)) / 2;
        float* row = result.ptr<float>(y);
        for (int pass = 0; pass < 3; ++pass) {
            prefix[0] = 0.0;
            for (int x = 0; x < w; ++x) prefix[x + 1] = prefix[x] + row[x];
            const double norm = 1.0 / double(2 * half + 1);
            for (int x = 0; x < w; ++x)
                row[x] = float((prefix[std::min(w, x + half + 1)] - prefix[std::max(0, x - half)]) *
                               norm);
        }
    }
}

/// The share of the field kept at grid row `y` of `h` (rows from the south pole; see
/// kPoleFadeStart).
float poleShare(int y, int h) {
    const float latitude = std::abs((float(y) + 0.5f) / float(h) * 180.0f - 90.0f);
    const float t =
        std::clamp((kPoleFadeEnd - latitude) / (kPoleFadeEnd - kPoleFadeStart), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

/// The share of a flow of `size` cells that is kept: 0 below kDeadband, 1 from kDeadbandEnd,
/// a smoothstep between (so the kept flow grows continuously with the measured one).
float deadband(float size) {
    const float t = std::clamp((size - kDeadband) / (kDeadbandEnd - kDeadband), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
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
        cv::Mat a(ch, cw, CV_32FC1), b(ch, cw, CV_32FC1), both(ch, cw, CV_32FC1);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                const int gx = column(x), gy = cy0 + y;
                const bool si = ci.at(gx, gy, 3) >= kSeen;
                const bool sj = cj.at(gx, gy, 3) >= kSeen;
                const float li = lumas[i].at<float>(gy, gx);
                const float lj = lumas[j].at<float>(gy, gx);
                a.at<float>(y, x) = si ? li : (sj ? lj : 0.0f);
                b.at<float>(y, x) = sj ? lj : (si ? li : 0.0f);
                both.at<float>(y, x) = si && sj ? 1.0f : 0.0f;
            }
        const cv::Size kernel(0, 0);
        cv::GaussianBlur(a, a, kernel, kDenoise, kDenoise, cv::BORDER_REPLICATE);
        cv::GaussianBlur(b, b, kernel, kDenoise, kDenoise, cv::BORDER_REPLICATE);
        cv::Mat a8, b8;
        a.convertTo(a8, CV_8U);
        b.convertTo(b8, CV_8U);
        // The grid is already coarse (about 2.5 panorama pixels a cell): refine down to full
        // grid resolution, which the sub-cell accuracy of the seam needs.
        cv::Ptr<cv::DISOpticalFlow> dis =
            cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_FAST);
        dis->setFinestScale(0);
        cv::Mat flow, back;
        dis->calc(a8, b8, flow);
        dis->calc(b8, a8, back);

        cv::Mat confidence = flowConfidence(a, b, flow, back, both);
        for (int y = 0; y < ch; ++y) confidence.row(y) *= poleShare(cy0 + y, h);
        // Confidence-weighted smoothing; outliers limited first.
        std::vector<cv::Mat> parts(2);
        cv::split(flow, parts);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                float& fx = parts[0].at<float>(y, x);
                float& fy = parts[1].at<float>(y, x);
                const float len = length(fx, fy);
                const float k = len > largestShift ? largestShift / len : 1.0f;
                const float m = confidence.at<float>(y, x);
                fx *= k * m;
                fy *= k * m;
            }
        // Two scales: the flow smoothed over `smoothing` cells where confidence is there, and
        // over three times that where it is not, so holes in the confidence are filled from
        // farther away instead of being pulled to zero; the field shrinks only where the
        // confident share of both neighbourhoods is below kSupport, and does so as smoothly as
        // the wider one allows (a sharp shrink would let neighbouring cells jump).
        cv::Mat den, wide, wideX, wideY;
        const float broad = 3.0f * smoothing;
        arcBlur(confidence, den, smoothing, cy0, h);
        arcBlur(confidence, wide, broad, cy0, h);
        arcBlur(parts[0], wideX, broad, cy0, h);
        arcBlur(parts[1], wideY, broad, cy0, h);
        arcBlur(parts[0], parts[0], smoothing, cy0, h);
        arcBlur(parts[1], parts[1], smoothing, cy0, h);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                const float ds = den.at<float>(y, x), dw = wide.at<float>(y, x);
                const float sum = ds + kWideShare * dw;
                float& fx = parts[0].at<float>(y, x);
                float& fy = parts[1].at<float>(y, x);
                if (sum < 1e-6f) {
                    fx = fy = 0.0f;
                    continue;
                }
                const float k = std::min(1.0f, 0.5f * (ds + dw) / kSupport) / sum;
                fx = (fx + kWideShare * wideX.at<float>(y, x)) * k;
                fy = (fy + kWideShare * wideY.at<float>(y, x)) * k;
                den.at<float>(y, x) = 0.5f * (ds + dw);
            }
        // Where the near neighbourhood's confidence begins, the mix turns from the wide mean
        // to the near one within a few cells: a last light smoothing keeps that turn from
        // becoming a jump between neighbouring cells.
        cv::GaussianBlur(parts[0], parts[0], kernel, kSettle, kSettle, cv::BORDER_CONSTANT);
        cv::GaussianBlur(parts[1], parts[1], kernel, kSettle, kSettle, cv::BORDER_CONSTANT);
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
                // Full strength where enough of the neighbourhood is confident overlap, fading
                // smoothly to zero beyond its edge and where texture is weak.
                const auto [px, py, d] = flowAt(y, x);
                if (d < 1e-4f) continue;
                float fx = px, fy = py;
                const float dead = deadband(length(fx, fy)) * poleShare(cy0 + y, h);
                if (dead == 0.0f) continue;
                fx *= dead;
                fy *= dead;
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
