// SPDX-License-Identifier: Apache-2.0
#include "render/VectorFieldStitch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
//   brings it back (on the sphere: x scaled by cos(latitude), at least kArcFloor), times its
//   photometric agreement, 1 / (1 + (r / kResidual)^2) for the difference r between the two lumas
//   where the flow matches them (averaged over kTextureWindow; vignetting and occlusions, which no
//   shift explains, lower it);
// - the flow is smoothed weighted by confidence (horizontally over a wider arc toward the
//   poles, see arcBlur), so cells without texture or with inconsistent flow take their neighbours'
//   flow (from a three times wider neighbourhood, weighing kWideShare of the near one, where the
//   near one has none), and where less than kSupport of the neighbourhood is confident the flow
//   shrinks toward zero (regularised hardest where texture is weakest);
// - a deadband: below kDeadband cells the flow is exactly zero, rising smoothly to the full
//   flow at kDeadbandEnd, so that noise motion about a still seam becomes no motion at all.
constexpr float kDenoise = 1.0f;
constexpr int kDenoiseReach = 4;  // the half width of OpenCV's kernel for kDenoise
// The flow is measured over the overlap's box grown by this many cells (two patches of the
// flow's coarsest scale), not over the whole crop: beyond the overlap both images show the
// same camera and no cell is confident, so the flow there only gives the search its context.
constexpr int kFlowMargin = 16;
// Variational refinement steps of the flow at each scale. One step smooths the patches' flow
// as well as the preset's five do here (the confidence and the fills smooth it after), at a
// fifth of the refinement's cost (README: "Vector-field speed").
constexpr int kRefinementIterations = 1;
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
// The smallest cos(latitude) the consistency's distances are scaled by.
constexpr float kArcFloor = 0.25f;

/// cos(latitude) at the centre of grid row `y` of `h` (rows from the south pole): the share of
/// the equator's arc a cell's width spans there.
float cosLatitude(int y, int h) {
    return std::cos(((float(y) + 0.5f) / float(h) - 0.5f) * 3.14159265f);
}

// std::hypot guards against overflow that displacements of a few cells never reach, at
// several times the cost; this runs for every cell of every camera.
inline float length(float x, float y) { return std::sqrt(x * x + y * y); }

// The flow is measured on display-like luma (0 .. 255 after a 1/2.2 curve, which spreads the
// levels evenly over what the eye tells apart), gain-compensated and lightly denoised.

/// The odd width of three box filters whose sum has about the variance of a Gaussian of
/// `sigma`: three boxes of width b have a variance of (b^2 - 1) / 4.
int boxWidth(float sigma) {
    return 2 * int(std::lround((std::sqrt(4.0f * sigma * sigma + 1.0f) - 1.0f) / 2.0f)) + 1;
}

/// One box filter of width 2 `half` + 1 along a row of `w` cells of three interleaved channels,
/// zero beyond the row; `prefix` holds (w + 1) x 3 sums. The running sums stay in registers,
/// one per channel, so the channels add up independently.
void boxRow3(float* row, int w, int half, double* prefix) {
    constexpr int CN = 3;
    double sum[CN] = {};
    for (int k = 0; k < CN; ++k) prefix[k] = 0.0;
    for (int x = 0; x < w; ++x)
        for (int k = 0; k < CN; ++k) {
            sum[k] += row[x * CN + k];
            prefix[(x + 1) * CN + k] = sum[k];
        }
    const double norm = 1.0 / double(2 * half + 1);
    for (int x = 0; x < w; ++x) {
        const double* hi = prefix + std::size_t(std::min(w, x + half + 1)) * CN;
        const double* lo = prefix + std::size_t(std::max(0, x - half)) * CN;
        for (int k = 0; k < CN; ++k) row[x * CN + k] = float((hi[k] - lo[k]) * norm);
    }
}

/// A Gaussian blur, zero beyond the image, as three box filters each way (whose cost does not
/// grow with the width), of the three channels of `source` (a weight and its weighted flow).
/// Vertically `sigma` cells; horizontally `sigma` / cos(latitude)^2 cells (at most 8 x `sigma`).
/// A cell's width spans cos(latitude) of the arc it spans at the equator, so one power keeps
/// the arc averaged the same at every latitude; but the flow's x component, in cells, is
/// 1 / cos(latitude) times the shift it stands for, and so is its noise, which moves panorama
/// pixels as much as anywhere: the second power averages it over a wider arc to match.
/// `firstRow` is the grid row of the image's row 0, `gridRows` the grid's height (rows from the
/// south pole).
void arcBlur(const cv::Mat& source, cv::Mat& result, float sigma, int firstRow, int gridRows) {
    CV_Assert(source.type() == CV_32FC3);
    const int h = source.rows, w = source.cols;
    const cv::Size column(1, boxWidth(sigma));
    cv::boxFilter(source, result, -1, column, {-1, -1}, true, cv::BORDER_CONSTANT);
    cv::boxFilter(result, result, -1, column, {-1, -1}, true, cv::BORDER_CONSTANT);
    cv::boxFilter(result, result, -1, column, {-1, -1}, true, cv::BORDER_CONSTANT);
    std::vector<double> prefix((std::size_t(w) + 1) * 3);
    for (int y = 0; y < h; ++y) {
        const float arc = cosLatitude(firstRow + y, gridRows);
        const int half = boxWidth(sigma / std::max(arc * arc, 0.125f)) / 2;
        float* row = result.ptr<float>(y);
        for (int pass = 0; pass < 3; ++pass) boxRow3(row, w, half, prefix.data());
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

/// What the pairs read of one camera at vector-grid size, made once per camera.
struct CameraCells {
    /// 1 where the camera sees the cell (alpha at least kSeen), row by row.
    std::vector<std::uint8_t> seen;
    /// Display-like luma (0 .. 255 after a 1/2.2 curve, which spreads the levels evenly over
    /// what the eye tells apart), gain-compensated; set where `seen` alone, since the flow
    /// reads nothing else.
    cv::Mat luma;
    /// Distance to the camera's own boundary (featherOverFootprint).
    HostImage feather;
    /// The rows holding seen cells (y0 > y1 when none).
    int y0 = 0, y1 = -1;
};

CameraCells cellsOf(const HostImage& camera, const std::array<float, 3>& gain) {
    const int w = camera.width, h = camera.height;
    CameraCells cells;
    cells.seen.assign(std::size_t(w) * h, 0);
    cells.luma = cv::Mat(h, w, CV_32FC1, cv::Scalar(0));
    cells.y0 = h;
    const float r = 0.2126f * gain[0], g = 0.7152f * gain[1], b = 0.0722f * gain[2];
    for (int y = 0; y < h; ++y) {
        const float* in = camera.pixels.data() + std::size_t(y) * w * 4;
        std::uint8_t* seen = cells.seen.data() + std::size_t(y) * w;
        float* row = cells.luma.ptr<float>(y);
        bool any = false;
        for (int x = 0; x < w; ++x, in += 4) {
            if (!(in[3] >= kSeen)) continue;
            seen[x] = 1;
            any = true;
            const float Y = (r * in[0] + g * in[1] + b * in[2]) / in[3];
            row[x] = 255.0f * std::pow(std::clamp(Y, 0.0f, 1.0f), 1.0f / 2.2f);
        }
        if (any) cells.y0 = std::min(cells.y0, y), cells.y1 = y;
    }
    return cells;
}

/// v rounded to the nearest integer, halves to even (cvRound's rounding): one instruction on
/// x86-64, where std::lrint is a library call.
inline int roundEven(float v) {
#if defined(__SSE2__)
    return _mm_cvtss_si32(_mm_set_ss(v));
#else
    return int(std::lrint(v));
#endif
}

/// image(px, py), bilinear, the border replicated, C channels: cv::remap's INTER_LINEAR with
/// BORDER_REPLICATE (positions rounded to 1/32 cell, its weights), one position at a time.
template <int C>
inline void bilinear(const cv::Mat& image, float px, float py, float* out) {
    constexpr int kShift = 5, kSteps = 1 << kShift;
    const int w = image.cols, h = image.rows;
    // Far outside, every tap is a border cell: clamp before the conversion to int.
    const int qx = roundEven(std::clamp(px, -2.0f, float(w + 1)) * kSteps);
    const int qy = roundEven(std::clamp(py, -2.0f, float(h + 1)) * kSteps);
    const int ix = qx >> kShift, iy = qy >> kShift;  // floor, as OpenCV does
    const float tx = float(qx & (kSteps - 1)) / kSteps, ty = float(qy & (kSteps - 1)) / kSteps;
    const float w00 = (1.0f - ty) * (1.0f - tx), w01 = (1.0f - ty) * tx;
    const float w10 = ty * (1.0f - tx), w11 = ty * tx;
    const int x0 = std::clamp(ix, 0, w - 1) * C, x1 = std::clamp(ix + 1, 0, w - 1) * C;
    const float* r0 = image.ptr<float>(std::clamp(iy, 0, h - 1));
    const float* r1 = image.ptr<float>(std::clamp(iy + 1, 0, h - 1));
    for (int c = 0; c < C; ++c)
        out[c] = r0[x0 + c] * w00 + r0[x1 + c] * w01 + r1[x0 + c] * w10 + r1[x1 + c] * w11;
}

/// Per cell of a pair's crop, how far the flow there can be trusted (0 .. 1; see kTexture and
/// kConsistency), 0 where the two cameras do not both see the cell, faded toward the poles.
/// `a` and `b` are the denoised lumas, `flow` takes a to b and `back` b to a; `firstRow` is
/// the grid row of the crop's row 0, `gridRows` the grid's height. One pass gathers what is
/// averaged (the structure tensor of the two images' mean, and the photometric residual
/// where the flow lands in b) and each cell's forward-backward consistency; one blur averages
/// the four sums together.
cv::Mat flowConfidence(const cv::Mat& a,
                       const cv::Mat& b,
                       const cv::Mat& flow,
                       const cv::Mat& back,
                       const cv::Mat& both,
                       int firstRow,
                       int gridRows) {
    const int h = a.rows, w = a.cols;
    cv::Mat sums(h, w, CV_32FC4), consistency(h, w, CV_32FC1);
    for (int y = 0; y < h; ++y) {
        const float *a0 = a.ptr<float>(y), *b0 = b.ptr<float>(y);
        const float *aUp = a.ptr<float>(std::max(y - 1, 0)),
                    *bUp = b.ptr<float>(std::max(y - 1, 0));
        const float *aDown = a.ptr<float>(std::min(y + 1, h - 1)),
                    *bDown = b.ptr<float>(std::min(y + 1, h - 1));
        const float* f = flow.ptr<float>(y);
        float* s = sums.ptr<float>(y);
        float* c = consistency.ptr<float>(y);
        // Toward the poles x shifts in cells stand for ever smaller turns: measured in cells, the
        // noise's share of the distance would mark consistent flow inconsistent there, from
        // frame to frame differently, and move the weighted mean with it.
        const float arc = std::max(cosLatitude(firstRow + y, gridRows), kArcFloor);
        for (int x = 0; x < w; ++x, f += 2, s += 4) {
            // Central differences of the mean (half the difference of the neighbours).
            const int left = std::max(x - 1, 0), right = std::min(x + 1, w - 1);
            const float gx = 0.25f * ((a0[right] + b0[right]) - (a0[left] + b0[left]));
            const float gy = 0.25f * ((aDown[x] + bDown[x]) - (aUp[x] + bUp[x]));
            const float px = float(x) + f[0], py = float(y) + f[1];
            float landed, returned[2];
            bilinear<1>(b, px, py, &landed);
            bilinear<2>(back, px, py, returned);
            s[0] = gx * gx;
            s[1] = gy * gy;
            s[2] = gx * gy;
            s[3] = std::abs(a0[x] - landed);
            const float d = length(arc * (f[0] + returned[0]), f[1] + returned[1]) / kConsistency;
            c[x] = 1.0f / (1.0f + d * d);
        }
    }
    cv::GaussianBlur(sums, sums, {0, 0}, kTextureWindow, kTextureWindow, cv::BORDER_REPLICATE);
    cv::Mat confidence(h, w, CV_32FC1);
    for (int y = 0; y < h; ++y) {
        const float pole = poleShare(firstRow + y, gridRows);
        const std::uint8_t* seen = both.ptr<std::uint8_t>(y);
        const float* s = sums.ptr<float>(y);
        const float* c = consistency.ptr<float>(y);
        float* out = confidence.ptr<float>(y);
        for (int x = 0; x < w; ++x, s += 4) {
            if (!seen[x]) {
                out[x] = 0.0f;
                continue;
            }
            const float half = 0.5f * (s[0] - s[1]);
            const float smaller =
                std::max(0.0f, 0.5f * (s[0] + s[1]) - std::sqrt(half * half + s[2] * s[2]));
            const float e = s[3] / kResidual;
            out[x] = smaller / (smaller + kTexture) * c[x] / (1.0f + e * e) * pole;
        }
    }
    return confidence;
}

/// featherDistance(camera, 3, 0.5) computed over the box of the cells the camera sees, grown by
/// one unseen cell: its columns read around the circle from the first of the seen run (see
/// circularRun; whole rows where the run and a column either side cover the circle). Every
/// path from a seen cell to an unseen one beyond the box crosses the box's unseen border
/// first, so the distances are the whole grid's at a fraction of the cost.
HostImage featherOverFootprint(const HostImage& camera) {
    const int w = camera.width, h = camera.height;
    std::vector<char> columns(w, 0);
    int y0 = h, y1 = -1;
    for (int y = 0; y < h; ++y) {
        const float* alpha = camera.pixels.data() + std::size_t(y) * w * 4 + 3;
        bool any = false;
        for (int x = 0; x < w; ++x)
            if (alpha[4 * x] > 0.5f) {
                columns[x] = 1;
                any = true;
            }
        if (any) y0 = std::min(y0, y), y1 = y;
    }
    if (y1 < 0) return HostImage(w, h, 1, 0.0f);
    const auto [start, span] = circularRun(columns);
    y0 = std::max(0, y0 - 1), y1 = std::min(h - 1, y1 + 1);
    const bool rows = span + 2 >= w;
    if (rows && y0 == 0 && y1 == h - 1) return featherDistance(camera, 3, 0.5f);
    const int first = rows ? 0 : start - 1 + w;
    HostImage part(rows ? w : span + 2, y1 - y0 + 1, 1);
    for (int y = 0; y < part.height; ++y)
        for (int x = 0; x < part.width; ++x) part.at(x, y) = camera.at((first + x) % w, y0 + y, 3);
    const HostImage distance = featherDistance(part, 0, 0.5f);
    HostImage whole(w, h, 1, 0.0f);
    for (int y = 0; y < part.height; ++y)
        for (int x = 0; x < part.width; ++x) whole.at((first + x) % w, y0 + y) = distance.at(x, y);
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
    // The rows a camera's field may be nonzero on: its pairs' crops.
    std::vector<std::pair<int, int>> fieldRows(n, {h, -1});
    std::vector<CameraCells> cells(n);
    // Cameras, then pairs, run on the worker pool; each task writes only its own entries.
    Kiln::WorkerPool::ParallelFor(std::size_t(n), [&](std::size_t i) {
        cells[i] = cellsOf(cameras[i], gains[i]);
        cells[i].feather = featherOverFootprint(cameras[i]);
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
        cv::Mat flow;  // 2 channels
        cv::Mat den;
    };
    std::vector<PairFlow> flows(pairs.size());
    Kiln::WorkerPool::ParallelFor(pairs.size(), [&](std::size_t p) {
        const auto [i, j] = pairs[p];
        const CameraCells& ci = cells[i];
        const CameraCells& cj = cells[j];
        std::vector<char> columns(w, 0);
        int count = 0, y0 = h, y1 = -1;
        for (int y = std::max(ci.y0, cj.y0); y <= std::min(ci.y1, cj.y1); ++y) {
            const std::uint8_t* si = ci.seen.data() + std::size_t(y) * w;
            const std::uint8_t* sj = cj.seen.data() + std::size_t(y) * w;
            int inRow = 0;
            for (int x = 0; x < w; ++x)
                if (si[x] & sj[x]) {
                    columns[x] = 1;
                    ++inRow;
                }
            if (inRow == 0) continue;
            count += inRow;
            y0 = std::min(y0, y);
            y1 = y;
        }
        if (count < 64) return;
        const auto [start, span] = circularRun(columns);
        // An overlap around the whole longitude circle (toward a pole, or between cameras of
        // very wide lenses) is measured over the circle and a margin more on either side, so
        // the flow continues across the longitude seam instead of starting afresh at both
        // edges (the two copies of the columns about the seam are mixed, below).
        const bool around = span + 2 * margin >= w;
        const int cw = around ? w + 2 * margin : span + 2 * margin;
        const int cx0 = around ? -margin : start - margin;
        const int cy0 = std::max(0, y0 - margin);
        const int ch = std::min(h - 1, y1 + margin) - cy0 + 1;
        std::vector<int> column(cw);
        for (int x = 0; x < cw; ++x) column[x] = ((cx0 + x) % w + w) % w;

        // The flow over the overlap's box and kFlowMargin around it (zero beyond).
        const int mx = around ? 0 : std::max(0, margin - kFlowMargin);
        const int my0 = std::max(0, y0 - kFlowMargin - cy0);
        const int my1 = std::min(ch, y1 + kFlowMargin + 1 - cy0);
        const cv::Rect measured(mx, my0, cw - 2 * mx, my1 - my0);
        // Each image completed by the other outside its footprint: the flow there is zero. Set
        // over the measured box and as far around it as the denoising blur reads.
        const cv::Rect lumaBox = cv::Rect(mx - kDenoiseReach,
                                          my0 - kDenoiseReach,
                                          measured.width + 2 * kDenoiseReach,
                                          measured.height + 2 * kDenoiseReach) &
                                 cv::Rect(0, 0, cw, ch);
        cv::Mat a(lumaBox.size(), CV_32FC1), b(lumaBox.size(), CV_32FC1);
        cv::Mat both(lumaBox.size(), CV_8UC1);
        for (int y = 0; y < lumaBox.height; ++y) {
            const std::size_t row = std::size_t(cy0 + lumaBox.y + y) * w;
            const std::uint8_t* seenI = ci.seen.data() + row;
            const std::uint8_t* seenJ = cj.seen.data() + row;
            const float* lumaI = ci.luma.ptr<float>(cy0 + lumaBox.y + y);
            const float* lumaJ = cj.luma.ptr<float>(cy0 + lumaBox.y + y);
            float* ra = a.ptr<float>(y);
            float* rb = b.ptr<float>(y);
            std::uint8_t* rboth = both.ptr<std::uint8_t>(y);
            for (int x = 0; x < lumaBox.width; ++x) {
                const int g = column[lumaBox.x + x];
                const bool si = seenI[g] != 0, sj = seenJ[g] != 0;
                const float li = lumaI[g], lj = lumaJ[g];
                ra[x] = si ? li : (sj ? lj : 0.0f);
                rb[x] = sj ? lj : (si ? li : 0.0f);
                rboth[x] = si && sj ? 1 : 0;
            }
        }
        const cv::Rect inLumaBox = measured - lumaBox.tl();
        const cv::Size kernel(0, 0);
        cv::Mat smoothA, smoothB;  // the blur reads the cells around the box
        cv::GaussianBlur(a(inLumaBox), smoothA, kernel, kDenoise, kDenoise, cv::BORDER_REPLICATE);
        cv::GaussianBlur(b(inLumaBox), smoothB, kernel, kDenoise, kDenoise, cv::BORDER_REPLICATE);
        cv::Mat a8, b8;
        smoothA.convertTo(a8, CV_8U);
        smoothB.convertTo(b8, CV_8U);
        // The grid is already coarse (about 2.5 panorama pixels a cell): refine down to full
        // grid resolution, which the sub-cell accuracy of the seam needs. Cheaper settings
        // (a coarser finest scale, a wider patch stride, either for the backward flow alone)
        // let sensor noise move the field more (README: "Vector-field speed").
        cv::Ptr<cv::DISOpticalFlow> dis =
            cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_FAST);
        dis->setFinestScale(0);
        dis->setVariationalRefinementIterations(kRefinementIterations);
        cv::Mat measuredFlow, back;
        dis->calc(a8, b8, measuredFlow);
        dis->calc(b8, a8, back);
        cv::Mat flow(ch, cw, CV_32FC2, cv::Scalar::all(0));
        cv::Mat confidence(ch, cw, CV_32FC1, cv::Scalar(0));
        measuredFlow.copyTo(flow(measured));
        flowConfidence(smoothA, smoothB, measuredFlow, back, both(inLumaBox), cy0 + my0, h)
            .copyTo(confidence(measured));
        // Confidence-weighted smoothing, outliers limited first: channels are the weight and
        // the weighted flow.
        cv::Mat weighted(ch, cw, CV_32FC3);
        for (int y = 0; y < ch; ++y) {
            const float* f = flow.ptr<float>(y);
            const float* m = confidence.ptr<float>(y);
            float* out = weighted.ptr<float>(y);
            for (int x = 0; x < cw; ++x, f += 2, out += 3) {
                const float len = length(f[0], f[1]);
                const float k = (len > largestShift ? largestShift / len : 1.0f) * m[x];
                out[0] = m[x];
                out[1] = f[0] * k;
                out[2] = f[1] * k;
            }
        }
        // Two scales: the flow smoothed over `smoothing` cells where confidence is there, and
        // over three times that where it is not, so holes in the confidence are filled from
        // farther away instead of being pulled to zero; the field shrinks only where the
        // confident share of both neighbourhoods is below kSupport, and does so as smoothly as
        // the wider one allows (a sharp shrink would let neighbouring cells jump).
        cv::Mat near, wide;
        arcBlur(weighted, near, smoothing, cy0, h);
        arcBlur(weighted, wide, 3.0f * smoothing, cy0, h);
        cv::Mat filled(ch, cw, CV_32FC2), den(ch, cw, CV_32FC1);
        for (int y = 0; y < ch; ++y) {
            const float* s = near.ptr<float>(y);
            const float* v = wide.ptr<float>(y);
            float* f = filled.ptr<float>(y);
            float* d = den.ptr<float>(y);
            for (int x = 0; x < cw; ++x, s += 3, v += 3, f += 2) {
                const float ds = s[0], dw = v[0];
                const float sum = ds + kWideShare * dw;
                if (sum < 1e-6f) {
                    f[0] = f[1] = 0.0f;
                    d[x] = ds;
                    continue;
                }
                const float k = std::min(1.0f, 0.5f * (ds + dw) / kSupport) / sum;
                f[0] = (s[1] + kWideShare * v[1]) * k;
                f[1] = (s[2] + kWideShare * v[2]) * k;
                d[x] = 0.5f * (ds + dw);
            }
        }
        // Where the near neighbourhood's confidence begins, the mix turns from the wide mean
        // to the near one within a few cells: a last light smoothing keeps that turn from
        // becoming a jump between neighbouring cells.
        cv::GaussianBlur(filled, filled, kernel, kSettle, kSettle, cv::BORDER_CONSTANT);
        flows[p] = {cx0, cy0, cw, ch, filled, den};
    });

    for (std::size_t p = 0; p < pairs.size(); ++p) {
        const auto [i, j] = pairs[p];
        const PairFlow& pf = flows[p];
        if (pf.cw == 0) continue;
        ++figures.pairs;
        for (const int c : {i, j})
            fieldRows[c] = {std::min(fieldRows[c].first, pf.cy0),
                            std::max(fieldRows[c].second, pf.cy0 + pf.ch - 1)};
        const int cx0 = pf.cx0, cy0 = pf.cy0, cw = pf.cw, ch = pf.ch;
        const int from = cw > w ? (cw - w) / 2 : 0, to = cw > w ? from + w : cw;
        const HostImage& featherI = cells[i].feather;
        const HostImage& featherJ = cells[j].feather;
        auto column = [&](int x) { return ((cx0 + x) % w + w) % w; };
        for (int y = 0; y < ch; ++y) {
            const float* flow = pf.flow.ptr<float>(y);
            const float* den = pf.den.ptr<float>(y);
            const float pole = poleShare(cy0 + y, h);
            // The smoothed flow at crop column x: (fx, fy, den). Around the whole circle, the
            // 2 x `from` columns about the longitude seam have two copies in the crop, one
            // continuous with the crop's right part (crop w + u) and one with its left part
            // (crop u); they are mixed by a smoothstep across the band, so the field has no
            // seam.
            auto flowAt = [&](int x) {
                const int g = column(x);
                const int u = cw <= w         ? -1
                              : g >= w - from ? g - (w - from)
                              : g < from      ? g + from
                                              : -1;
                if (u < 0) return std::array<float, 3>{flow[2 * x], flow[2 * x + 1], den[x]};
                const float t = (float(u) + 0.5f) / float(2 * from);
                const float s = t * t * (3.0f - 2.0f * t);
                const int r = w + u, l = u;
                return std::array<float, 3>{(1 - s) * flow[2 * r] + s * flow[2 * l],
                                            (1 - s) * flow[2 * r + 1] + s * flow[2 * l + 1],
                                            (1 - s) * den[r] + s * den[l]};
            };
            for (int x = from; x < to; ++x) {
                // Full strength where enough of the neighbourhood is confident overlap, fading
                // smoothly to zero beyond its edge and where texture is weak.
                const auto [px, py, d] = flowAt(x);
                if (d < 1e-4f) continue;
                float fx = px, fy = py;
                const float dead = deadband(length(fx, fy)) * pole;
                if (dead == 0.0f) continue;
                fx *= dead;
                fy *= dead;
                const int gx = column(x), gy = cy0 + y;
                const float fi = featherI.at(gx, gy), fj = featherJ.at(gx, gy);
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
    }

    for (int i = 0; i < n; ++i) {
        const HostImage& f = fields[i];
        // Beyond those rows the field is zero, and so are its steps (the row above the first
        // steps into it).
        for (int y = std::max(0, fieldRows[i].first - 1); y <= fieldRows[i].second; ++y) {
            // Rows run from the south pole (row 0) to the north pole; cell centres at +0.5.
            const float arc = cosLatitude(y, h);
            const float* row = f.pixels.data() + std::size_t(y) * w * 2;
            const float* below = y + 1 < h ? row + std::size_t(w) * 2 : nullptr;
            const float* alpha = cameras[i].pixels.data() + std::size_t(y) * w * 4 + 3;
            const float* alphaBelow = alpha + std::size_t(w) * 4;
            for (int x = 0; x < w; ++x) {
                const float dx = row[2 * x], dy = row[2 * x + 1];
                const int right = x + 1 == w ? 0 : x + 1;
                // Most cells lie beyond every overlap, where the field and its steps are zero.
                if (dx == 0.0f && dy == 0.0f && row[2 * right] == 0.0f &&
                    row[2 * right + 1] == 0.0f &&
                    (!below || (below[2 * x] == 0.0f && below[2 * x + 1] == 0.0f)))
                    continue;
                figures.largestShift = std::max(figures.largestShift, length(dx, dy));
                if (alpha[4 * x] < 0.5f) continue;
                auto jump = [&](const float* other, float otherAlpha) {
                    if (otherAlpha < 0.5f) return;
                    const float ex = other[0] - dx, ey = other[1] - dy;
                    figures.largestJump = std::max(figures.largestJump, length(ex, ey));
                    figures.largestArcJump = std::max(figures.largestArcJump, length(ex * arc, ey));
                };
                jump(row + 2 * right, alpha[4 * right]);
                if (below) jump(below + 2 * x, alphaBelow[4 * x]);
            }
        }
    }
    if (stats) *stats = figures;
    return fields;
}

}  // namespace ImageStitcher
}  // namespace Kiln
