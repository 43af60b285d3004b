// SPDX-License-Identifier: Apache-2.0
#include "vellacam/TrackFeatures.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include "MatchGeometry.h"
#include "PatchAligner.h"
#include "RotationCorrection.h"
#include "kiln/WorkerPool.h"
#include "vellacam/CameraWindowSource.h"

namespace Korvane {
namespace Research {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Share of the frame's pixels clipped at each end when the contrast is normalised.
constexpr double kClipShare = 0.005;
// Side of the cells that share out the features of a camera, pixels.
constexpr int kCell = 32;
// FAST threshold, in levels of the normalised 8-bit image.
constexpr int kFastThreshold = 10;
// Descriptor patches: 11 x 11 samples one pixel (or its angle) apart, from the image blurred
// by this sigma, so that features found a pixel apart in two cameras still correlate.
constexpr int kDescriptorRadius = 5;
constexpr int kDescriptorLength = (2 * kDescriptorRadius + 1) * (2 * kDescriptorRadius + 1);
constexpr double kDescriptorBlur = 1.0;
// A patch flatter than this (standard deviation, 8-bit levels) fixes no position.
constexpr double kMinDeviation = 2.0;
// Refinement: the reference patch must have at least this gradient (levels per pixel) in its
// weakest direction.
constexpr double kMinGradient = 1.5;
// Features keep this far inside an image circle, pixels: the housing's rim is a strong edge
// that is no scene point, and the patches of description and refinement must not reach it.
constexpr double kCircleMargin = 10.0;
// The wide pass of the rotation correction looks for points from this many times the nearest
// depth on.
constexpr double kWideDepthFactor = 3.0;
// Least band, pixels, whatever the angle gives at the camera's resolution.
constexpr double kMinBandPixels = 3.0;

/// One detected feature of a camera.
struct Keypoint {
    Eigen::Vector2d position;   ///< library pixels
    Eigen::Vector3d direction;  ///< unit ray, rig frame (with rig geometry only)
};

/// Everything known about one camera while matching.
struct CameraState {
    bool present = false;
    int width = 0;
    int height = 0;
    std::vector<float> display;  ///< contrast-normalised 0..255, top row first
    /// `display` blurred as the descriptors see it: description and sub-pixel alignment.
    detail::SampledImage smooth;
    std::vector<Keypoint> keypoints;
    std::vector<float> descriptors;  ///< kDescriptorLength per keypoint
    // Keypoint index: cells of kCell pixels in library coordinates, compressed rows.
    int indexColumns = 0;
    int indexRows = 0;
    std::vector<int> cellStart;
    std::vector<int> cellItems;

    const float* descriptor(size_t k) const { return descriptors.data() + k * kDescriptorLength; }
};

/// The contrast curve shared by every camera of the frame: a square root (footage is usually
/// linear light, and detectors work on perceptual steps), then the range between the clipped
/// ends stretched to 0..255. A scene point so keeps its value from camera to camera.
struct Contrast {
    double low = 0.0;
    double high = 0.0;
    bool flat() const { return !(high > low); }
};

Contrast frameContrast(const std::vector<FeatureImage>& images) {
    double top = 0.0;
    size_t total = 0;
    for (const FeatureImage& image : images)
        for (float v : image.pixels) {
            if (std::isfinite(v)) top = std::max(top, double(v));
            ++total;
        }
    Contrast contrast;
    if (!(top > 0.0)) return contrast;
    const double scale = std::sqrt(top);
    constexpr int kBins = 4096;
    std::vector<size_t> histogram(kBins, 0);
    for (const FeatureImage& image : images)
        for (float v : image.pixels) {
            const double g = v > 0.0f && std::isfinite(v) ? std::sqrt(double(v)) / scale : 0.0;
            ++histogram[size_t(std::min(kBins - 1, int(g * (kBins - 1) + 0.5)))];
        }
    const size_t clip = size_t(kClipShare * double(total));
    size_t seen = 0;
    int low = 0;
    for (; low < kBins - 1 && seen + histogram[size_t(low)] <= clip; ++low)
        seen += histogram[size_t(low)];
    seen = 0;
    int high = kBins - 1;
    for (; high > 0 && seen + histogram[size_t(high)] <= clip; --high)
        seen += histogram[size_t(high)];
    contrast.low = scale * low / (kBins - 1);
    contrast.high = scale * high / (kBins - 1);
    return contrast;
}

/// The camera's display image: contrast applied, rows flipped to top first.
void prepareImage(const FeatureImage& image, const Contrast& contrast, CameraState* camera) {
    camera->width = image.width;
    camera->height = image.height;
    camera->display.assign(size_t(image.width) * size_t(image.height), 0.0f);
    if (contrast.flat()) return;
    const double gain = 255.0 / (contrast.high - contrast.low);
    for (int j = 0; j < image.height; ++j) {
        const float* in = image.pixels.data() + size_t(j) * size_t(image.width);
        float* out = camera->display.data() + size_t(image.height - 1 - j) * size_t(image.width);
        for (int i = 0; i < image.width; ++i) {
            const double g = in[i] > 0.0f && std::isfinite(in[i]) ? std::sqrt(double(in[i])) : 0.0;
            out[i] = float(std::clamp((g - contrast.low) * gain, 0.0, 255.0));
        }
    }
}

/// Where a camera looks for features and how many it keeps: cells of kCell pixels, row 0 at
/// the top of the image, each with its quota (0: not searched), and a pixel mask.
struct DetectionPlan {
    int columns = 0;
    int rows = 0;
    std::vector<int> quota;
    cv::Mat mask;  ///< 8-bit, top row first; empty: every pixel of a cell with a quota
};

DetectionPlan emptyPlan(const CameraState& camera) {
    DetectionPlan plan;
    plan.columns = (camera.width + kCell - 1) / kCell;
    plan.rows = (camera.height + kCell - 1) / kCell;
    plan.quota.assign(size_t(plan.columns) * size_t(plan.rows), 0);
    return plan;
}

/// A rig camera's plan: each camera it is matched with gets an equal share of maxFeatures,
/// spread evenly over the cells where the two overlap (grown by a cell, since a cell counts by
/// its centre); a cell in several overlaps takes the largest of their quotas. A small overlap,
/// such as the corner that cameras 120 degrees apart share, so gets as many features as a
/// large one.
DetectionPlan overlapPlan(int c,
                          const CameraState& camera,
                          const std::vector<std::pair<int, int>>& pairs,
                          const std::vector<detail::CameraRays>& rays,
                          double minDepth,
                          int maxFeatures) {
    DetectionPlan plan = emptyPlan(camera);
    std::vector<int> partners;
    for (const auto& pair : pairs)
        if (pair.first == c || pair.second == c)
            partners.push_back(pair.first == c ? pair.second : pair.first);
    for (int other : partners) {
        std::vector<unsigned char> cells(plan.quota.size(), 0);
        detail::markOverlap(
            rays[size_t(c)], rays[size_t(other)], minDepth, kCell, plan.rows, plan.columns, &cells);
        cv::Mat grown;
        cv::dilate(cv::Mat(plan.rows, plan.columns, CV_8U, cells.data()), grown, cv::Mat());
        const int count = cv::countNonZero(grown);
        if (count == 0) continue;
        const int quota = (maxFeatures / int(partners.size()) + count - 1) / count;
        for (size_t cell = 0; cell < plan.quota.size(); ++cell)
            if (grown.data[cell]) plan.quota[cell] = std::max(plan.quota[cell], quota);
    }
    return plan;
}

/// A panorama's plan: maxFeatures spread evenly over where the camera's footage lies in its
/// panorama, kept 8 pixels inside that area's border.
DetectionPlan panoramaPlan(const CameraState& camera, int maxFeatures) {
    DetectionPlan plan = emptyPlan(camera);
    const cv::Mat display(
        camera.height, camera.width, CV_32F, const_cast<float*>(camera.display.data()));
    const cv::Mat covered = display > 0.0f;
    cv::erode(covered, plan.mask, cv::Mat(), cv::Point(-1, -1), 8);
    int count = 0;
    for (int r = 0; r < plan.rows; ++r)
        for (int q = 0; q < plan.columns; ++q) {
            const cv::Rect rect = cv::Rect(q * kCell, r * kCell, kCell, kCell) &
                                  cv::Rect(0, 0, camera.width, camera.height);
            if (cv::countNonZero(plan.mask(rect)) == 0) continue;
            plan.quota[size_t(r) * size_t(plan.columns) + size_t(q)] = 1;
            ++count;
        }
    const int quota = count > 0 ? (maxFeatures + count - 1) / count : 0;
    for (int& q : plan.quota) q *= quota;
    return plan;
}

/// True unless the camera has an image circle and `position` lies within kCircleMargin of its
/// rim or outside it.
bool insideCircle(const CameraDefinition& camera, const Eigen::Vector2d& position) {
    if (!camera.hasImageCircle()) return true;
    const double room = camera.getImageCircleRadius() - kCircleMargin;
    return room > 0.0 && (position - camera.getImageCircleCentre()).squaredNorm() <= room * room;
}

/// Corners of the camera's image, as OpenCV keypoints (top-left origin, centres at integers).
std::vector<cv::KeyPoint> findCorners(const TrackFeaturesOptions& options, const cv::Mat& grey) {
    std::vector<cv::KeyPoint> found;
    switch (options.detector) {
        case TrackFeaturesOptions::Detector::Fast:
            cv::FAST(grey, found, kFastThreshold, true);
            break;
        case TrackFeaturesOptions::Detector::Orb:
            cv::ORB::create(1 << 20, 1.2f, 8, 31, 0, 2, cv::ORB::HARRIS_SCORE, 31, kFastThreshold)
                ->detect(grey, found);
            break;
        case TrackFeaturesOptions::Detector::Akaze:
            cv::AKAZE::create()->detect(grey, found);
            break;
        case TrackFeaturesOptions::Detector::Sift:
            cv::SIFT::create()->detect(grey, found);
            break;
    }
    return found;
}

/// Detects the camera's features by the plan (in each cell the strongest, up to its quota, so
/// that features spread over every overlap instead of piling up where the texture is
/// strongest) and describes each by a patch: with rig geometry the patch lies on the view
/// sphere around the feature's ray, in axes fixed in the rig frame and one `step` (radians)
/// apart, so the same scene point gives the same patch in every camera whatever the lens and
/// orientation; in panoramas, whose pixels already share one frame, it is the image patch.
void detect(const TrackFeaturesOptions& options,
            const DetectionPlan& plan,
            const detail::CameraRays* rays,
            double step,
            CameraState* camera) {
    cv::Mat display(camera->height, camera->width, CV_32F, camera->display.data());
    cv::Mat grey;
    display.convertTo(grey, CV_8U);
    const std::vector<cv::KeyPoint> found = findCorners(options, grey);
    std::vector<std::vector<int>> byCell(plan.quota.size());
    for (size_t k = 0; k < found.size(); ++k) {
        const cv::Point pixel(int(found[k].pt.x + 0.5f), int(found[k].pt.y + 0.5f));
        if (!plan.mask.empty() && (!cv::Rect(0, 0, camera->width, camera->height).contains(pixel) ||
                                   !plan.mask.at<unsigned char>(pixel)))
            continue;
        const int cx = std::clamp(pixel.x / kCell, 0, plan.columns - 1);
        const int cy = std::clamp(pixel.y / kCell, 0, plan.rows - 1);
        byCell[size_t(cy * plan.columns + cx)].push_back(int(k));
    }

    cv::Mat blurred;
    cv::GaussianBlur(display, blurred, cv::Size(), kDescriptorBlur);
    camera->smooth =
        detail::SampledImage(camera->width,
                             camera->height,
                             std::vector<float>(blurred.begin<float>(), blurred.end<float>()));
    camera->keypoints.clear();
    camera->descriptors.clear();
    std::vector<float> patch(kDescriptorLength);
    for (size_t cell = 0; cell < byCell.size(); ++cell) {
        std::vector<int>& items = byCell[cell];
        std::sort(items.begin(), items.end(), [&](int a, int b) {
            return found[size_t(a)].response > found[size_t(b)].response;
        });
        int kept = 0;
        for (size_t i = 0; i < items.size() && kept < plan.quota[cell]; ++i) {
            const cv::KeyPoint& k = found[size_t(items[i])];
            Keypoint keypoint;
            keypoint.position = Eigen::Vector2d(k.pt.x + 0.5, camera->height - 0.5 - k.pt.y);
            Eigen::Matrix2d axes = Eigen::Matrix2d::Identity();
            if (rays && (!insideCircle(rays->camera(), keypoint.position) ||
                         !rays->ray(keypoint.position, &keypoint.direction) ||
                         !detail::tangentAxes(*rays, keypoint.direction, step, &axes)))
                continue;
            if (!detail::describePatch(camera->smooth,
                                       keypoint.position,
                                       axes,
                                       kDescriptorRadius,
                                       kMinDeviation,
                                       patch.data()))
                continue;
            camera->keypoints.push_back(keypoint);
            camera->descriptors.insert(camera->descriptors.end(), patch.begin(), patch.end());
            ++kept;
        }
    }
}

void buildIndex(CameraState* camera) {
    camera->indexColumns = camera->width / kCell + 1;
    camera->indexRows = camera->height / kCell + 1;
    const size_t cells = size_t(camera->indexColumns) * size_t(camera->indexRows);
    std::vector<int> cellOf(camera->keypoints.size());
    camera->cellStart.assign(cells + 1, 0);
    for (size_t k = 0; k < camera->keypoints.size(); ++k) {
        const Eigen::Vector2d& p = camera->keypoints[k].position;
        const int cx = std::clamp(int(p.x()) / kCell, 0, camera->indexColumns - 1);
        const int cy = std::clamp(int(p.y()) / kCell, 0, camera->indexRows - 1);
        cellOf[k] = cy * camera->indexColumns + cx;
        ++camera->cellStart[size_t(cellOf[k]) + 1];
    }
    std::partial_sum(camera->cellStart.begin(), camera->cellStart.end(), camera->cellStart.begin());
    camera->cellItems.assign(camera->keypoints.size(), 0);
    std::vector<int> fill(camera->cellStart.begin(), camera->cellStart.end() - 1);
    for (size_t k = 0; k < camera->keypoints.size(); ++k)
        camera->cellItems[size_t(fill[size_t(cellOf[k])]++)] = int(k);
}

float correlation(const float* a, const float* b) {
    float sum = 0.0f;
    for (int k = 0; k < kDescriptorLength; ++k) sum += a[k] * b[k];
    return sum;
}

/// Finds, for the features of one camera, their best match among the features of another that
/// lie where the rig allows: within the band around the feature's depth curve (with rig
/// geometry) or within the parallax radius of its own position (panoramas).
class PairMatcher {
public:
    PairMatcher(const std::vector<CameraState>& cameras,
                const std::vector<detail::CameraRays>& rays,
                bool geometry,
                std::vector<double> bands,
                double panoramaRadius,
                double minDepth,
                const TrackFeaturesOptions& options)
        : m_cameras(cameras),
          m_rays(rays),
          m_geometry(geometry),
          m_bands(std::move(bands)),
          m_panoramaRadius(panoramaRadius),
          m_minDepth(minDepth),
          m_options(options) {}

    /// For every feature of `from` (or those listed in `subset`), its match in `to` when
    /// distinctive, else -1.
    std::vector<int> bestMatches(int from, int to, const std::vector<int>* subset = nullptr) const {
        const CameraState& a = m_cameras[size_t(from)];
        const CameraState& b = m_cameras[size_t(to)];
        std::vector<int> best(a.keypoints.size(), -1);
        std::vector<int> stamp(b.keypoints.size(), -1);
        std::vector<Eigen::Vector2d> pieces;
        const size_t count = subset ? subset->size() : a.keypoints.size();
        for (size_t s = 0; s < count; ++s) {
            const size_t i = subset ? size_t((*subset)[s]) : s;
            double radius = m_panoramaRadius;
            if (m_geometry) {
                const detail::DepthCurve curve(m_rays[size_t(to)],
                                               m_rays[size_t(from)].centre(),
                                               a.keypoints[i].direction,
                                               m_minDepth);
                pieces = curve.pieces();
                radius = m_bands[size_t(to)];
            } else {
                pieces.assign(2, a.keypoints[i].position);
            }
            float first = -1.0f, second = -1.0f;
            int firstIndex = -1;
            for (size_t p = 0; p + 1 < pieces.size(); p += 2)
                visit(b, pieces[p], pieces[p + 1], radius, [&](int j) {
                    if (stamp[size_t(j)] == int(i)) return;
                    stamp[size_t(j)] = int(i);
                    const float r = correlation(a.descriptor(i), b.descriptor(size_t(j)));
                    if (r > first) {
                        second = first;
                        first = r;
                        firstIndex = j;
                    } else if (r > second) {
                        second = r;
                    }
                });
            // Distinctive: well correlated, and clearly closer than the runner-up, in terms of
            // 1 - r (half the squared distance of unit descriptors).
            if (firstIndex >= 0 && first >= m_options.minMatchCorrelation &&
                1.0f - first < float(m_options.ratio) * (1.0f - std::max(second, 0.0f)))
                best[i] = firstIndex;
        }
        return best;
    }

private:
    /// Calls `f` with every feature of `b` within `radius` of the segment p0 p1.
    template <typename F>
    void visit(const CameraState& b,
               const Eigen::Vector2d& p0,
               const Eigen::Vector2d& p1,
               double radius,
               F&& f) const {
        const Eigen::Vector2d lower = p0.cwiseMin(p1).array() - radius;
        const Eigen::Vector2d upper = p0.cwiseMax(p1).array() + radius;
        const int cx0 = std::max(0, int(std::floor(lower.x() / kCell)));
        const int cy0 = std::max(0, int(std::floor(lower.y() / kCell)));
        const int cx1 = std::min(b.indexColumns - 1, int(std::floor(upper.x() / kCell)));
        const int cy1 = std::min(b.indexRows - 1, int(std::floor(upper.y() / kCell)));
        const Eigen::Vector2d d = p1 - p0;
        const double length2 = d.squaredNorm();
        for (int cy = cy0; cy <= cy1; ++cy)
            for (int cx = cx0; cx <= cx1; ++cx) {
                const size_t cell = size_t(cy) * size_t(b.indexColumns) + size_t(cx);
                for (int k = b.cellStart[cell]; k < b.cellStart[cell + 1]; ++k) {
                    const int j = b.cellItems[size_t(k)];
                    const Eigen::Vector2d& q = b.keypoints[size_t(j)].position;
                    const double t =
                        length2 > 0.0 ? std::clamp((q - p0).dot(d) / length2, 0.0, 1.0) : 0.0;
                    if ((p0 + t * d - q).squaredNorm() <= radius * radius) f(j);
                }
            }
    }

    const std::vector<CameraState>& m_cameras;
    const std::vector<detail::CameraRays>& m_rays;
    bool m_geometry;
    std::vector<double> m_bands;
    double m_panoramaRadius;
    double m_minDepth;
    const TrackFeaturesOptions& m_options;
};

/// The wide pass for cameras a and b: a share of a's features that b may see (their point at
/// 5 m has an image in b), evenly thinned, matched both ways within the wide band, as rays.
std::vector<detail::RayMatch> widePairMatches(const std::vector<CameraState>& cameras,
                                              const std::vector<detail::CameraRays>& rays,
                                              const PairMatcher& wide,
                                              const TrackFeaturesOptions& options,
                                              int a,
                                              int b) {
    const CameraState& from = cameras[size_t(a)];
    std::vector<int> seen;
    Eigen::Vector2d pixel;
    for (size_t i = 0; i < from.keypoints.size(); ++i)
        if (rays[size_t(b)].project(rays[size_t(a)].centre() + 5.0 * from.keypoints[i].direction,
                                    &pixel))
            seen.push_back(int(i));
    std::vector<int> subset;
    const size_t share = size_t(std::max(1, options.wideFeatures));
    for (size_t k = 0; k < std::min(share, seen.size()); ++k)
        subset.push_back(seen[k * seen.size() / std::min(share, seen.size())]);
    const std::vector<int> forward = wide.bestMatches(a, b, &subset);
    std::vector<int> targets;
    for (int i : subset)
        if (forward[size_t(i)] >= 0) targets.push_back(forward[size_t(i)]);
    std::sort(targets.begin(), targets.end());
    targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
    const std::vector<int> backward = wide.bestMatches(b, a, &targets);
    std::vector<detail::RayMatch> found;
    for (int i : subset) {
        const int j = forward[size_t(i)];
        if (j < 0 || backward[size_t(j)] != i) continue;
        detail::RayMatch m;
        m.a = a;
        m.b = b;
        m.rayA = from.keypoints[size_t(i)].direction;
        m.rayB = cameras[size_t(b)].keypoints[size_t(j)].direction;
        found.push_back(m);
    }
    return found;
}

/// The wide pass over every pair, the rotation each camera needs estimated from its matches,
/// and `rays` and the keypoints' directions replaced by the corrected rig's. Nothing changes
/// when too few matches agree.
void correctRotations(std::vector<CameraState>& cameras,
                      const std::vector<std::pair<int, int>>& pairs,
                      const PairMatcher& wide,
                      double minDepth,
                      const TrackFeaturesOptions& options,
                      std::vector<detail::CameraRays>* rays,
                      TrackFeaturesStats* figures) {
    std::vector<std::vector<detail::RayMatch>> found(pairs.size());
    Kiln::WorkerPool::ParallelFor(pairs.size(), [&](size_t p) {
        found[p] = widePairMatches(cameras, *rays, wide, options, pairs[p].first, pairs[p].second);
    });
    std::vector<detail::RayMatch> matches;
    for (const auto& list : found) matches.insert(matches.end(), list.begin(), list.end());
    std::vector<Eigen::Vector3d> centres;
    for (const detail::CameraRays& r : *rays) centres.push_back(r.centre());
    detail::RotationCorrectionOptions estimate;
    estimate.minDepth = minDepth;
    // Two fisheyes back to back share only the ring at their rims, where an error of the lens
    // curve moves the two seams opposite ways: their angle from the axis is corrected too.
    // More cameras pin each lens through several neighbours (and Refine Rig fits their lenses).
    if (rays->size() == 2 &&
        std::all_of(rays->begin(), rays->end(), [](const detail::CameraRays& r) {
            return r.camera().getProjection() == ProjectionTypeEnum::Fisheye;
        }))
        for (const detail::CameraRays& r : *rays)
            estimate.axes.push_back(r.camera().getCameraToWorldRotation().col(2));
    std::vector<Eigen::Matrix3d> corrections;
    std::vector<double> factors;
    std::vector<bool> agreeing;
    if (!detail::estimateRotationCorrections(
            centres, matches, estimate, &corrections, &agreeing, &factors))
        return;
    figures->correctionMatches = int(std::count(agreeing.begin(), agreeing.end(), true));
    figures->corrections = corrections;
    figures->lensFactors = factors;
    for (size_t c = 0; c < cameras.size(); ++c) {
        if (corrections[c] == Eigen::Matrix3d::Identity() && factors[c] == 1.0) continue;
        CameraDefinition camera = (*rays)[c].camera();
        camera.setCameraToWorldRotation(corrections[c] * camera.getCameraToWorldRotation());
        // Equidistant: r = f theta, so theta made k theta is f made f / k.
        camera.setFocalLength(camera.getFocalLength() / factors[c]);
        (*rays)[c] = detail::CameraRays(camera);
        for (Keypoint& keypoint : cameras[c].keypoints)
            if (!(*rays)[c].ray(keypoint.position, &keypoint.direction))
                keypoint.direction = corrections[c] * keypoint.direction;
    }
}

/// Disjoint sets over (camera, feature) nodes.
class UnionFind {
public:
    explicit UnionFind(size_t n) : m_parent(n) { std::iota(m_parent.begin(), m_parent.end(), 0); }
    size_t find(size_t x) {
        while (m_parent[x] != x) x = m_parent[x] = m_parent[m_parent[x]];
        return x;
    }
    void unite(size_t a, size_t b) {
        a = find(a);
        b = find(b);
        if (a != b) m_parent[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<size_t> m_parent;
};

using Chain = std::vector<std::pair<int, int>>;  ///< (camera, feature), cameras ascending

/// Joins pairwise matches that share a feature into chains; a chain that meets a camera twice
/// is ambiguous and dropped.
std::vector<Chain> chainMatches(const std::vector<CameraState>& cameras,
                                const std::vector<std::pair<int, int>>& pairs,
                                const std::vector<std::vector<std::pair<int, int>>>& matches) {
    std::vector<size_t> offset(cameras.size() + 1, 0);
    for (size_t c = 0; c < cameras.size(); ++c)
        offset[c + 1] = offset[c] + cameras[c].keypoints.size();
    UnionFind sets(offset.back());
    std::vector<bool> matched(offset.back(), false);
    for (size_t p = 0; p < pairs.size(); ++p)
        for (const auto& m : matches[p]) {
            const size_t a = offset[size_t(pairs[p].first)] + size_t(m.first);
            const size_t b = offset[size_t(pairs[p].second)] + size_t(m.second);
            sets.unite(a, b);
            matched[a] = matched[b] = true;
        }
    std::vector<Chain> chains;
    std::vector<int> chainOf(offset.back(), -1);
    for (size_t c = 0; c < cameras.size(); ++c)
        for (size_t k = 0; k < cameras[c].keypoints.size(); ++k) {
            const size_t node = offset[c] + k;
            if (!matched[node]) continue;
            const size_t root = sets.find(node);
            if (chainOf[root] < 0) {
                chainOf[root] = int(chains.size());
                chains.emplace_back();
            }
            chains[size_t(chainOf[root])].emplace_back(int(c), int(k));
        }
    chains.erase(std::remove_if(chains.begin(),
                                chains.end(),
                                [](const Chain& chain) {
                                    for (size_t i = 1; i < chain.size(); ++i)
                                        if (chain[i].first == chain[i - 1].first) return true;
                                    return chain.size() < 2;
                                }),
                 chains.end());
    return chains;
}

/// Display colours spread around the hue circle by the golden angle.
Eigen::Vector3d trackColour(size_t index) {
    const double hue = std::fmod(0.61803398874989485 * double(index), 1.0) * 6.0;
    const int sector = int(hue);
    const double f = hue - sector;
    const double p = 0.3, q = 1.0 - 0.7 * f, t = 1.0 - 0.7 * (1.0 - f);
    switch (sector % 6) {
        case 0:
            return {1.0, t, p};
        case 1:
            return {q, 1.0, p};
        case 2:
            return {p, 1.0, t};
        case 3:
            return {p, q, 1.0};
        case 4:
            return {t, p, 1.0};
        default:
            return {1.0, p, q};
    }
}

/// Moves the progress bar and asks for a cancel; true when the work must stop.
bool interrupted(ProgressReporter* progress, double fraction) {
    if (!progress) return false;
    progress->setProgressFraction(fraction);
    return progress->isInterrupted();
}

/// Why cameras are left out of matching, as said of one camera and of several.
struct LeftOut {
    std::string one;
    std::string many;
    std::vector<int> cameras;
};

/// One warning per reason, however many cameras it leaves out: a rig of hundreds of cameras
/// with a handful of inputs must not bury the user in lines.
void warnLeftOut(FeatureImageSource& source,
                 const CameraRigDefinition& rig,
                 const std::vector<LeftOut>& reasons) {
    for (const LeftOut& reason : reasons)
        if (reason.cameras.size() == 1)
            source.warning("camera " + CameraName(rig, reason.cameras[0]) +
                           " is left out of matching: " + reason.one + ".");
        else
            source.warning(std::to_string(reason.cameras.size()) +
                           " cameras are left out of matching (" + CameraList(rig, reason.cameras) +
                           "): " + reason.many + ".");
}

/// Why an image fetched for `camera` cannot be matched, as said of one camera and of several;
/// none when it can. `panorama`: the size of the first panorama taken (0 x 0: none yet).
std::pair<std::string, std::string> unusable(const FeatureImage& image,
                                             const CameraDefinition& camera,
                                             bool latlong,
                                             const std::pair<int, int>& panorama) {
    const auto size = [](int w, int h) { return std::to_string(w) + " x " + std::to_string(h); };
    const std::string got = size(image.width, image.height);
    const std::string wanted = size(camera.getFormatWidth(), camera.getFormatHeight());
    if (!latlong &&
        (image.width != camera.getFormatWidth() || image.height != camera.getFormatHeight()))
        return {"its image is " + got + " but the rig gives it " + wanted,
                "their images are " + got + " but the rig gives them " + wanted};
    if (latlong && panorama.first > 0 &&
        (image.width != panorama.first || image.height != panorama.second))
        return {"its panorama differs in size from the other cameras'",
                "their panoramas differ in size from the other cameras'"};
    return {};
}

/// The first stage: every listed camera's image, fetched on this thread, and the frame's
/// contrast applied. A camera without a usable image stays absent (`present` false); those the
/// caller listed (input >= 0) are named in the warnings. False when the user cancelled.
bool fetchImages(FeatureImageSource& source,
                 ProgressReporter* progress,
                 const CameraRigDefinition& rig,
                 bool latlong,
                 int frame,
                 const std::vector<int>& inputs,
                 std::vector<CameraState>* cameras,
                 std::vector<int>* missing) {
    const int n = rig.getNumberCameras();
    std::vector<FeatureImage> images(static_cast<size_t>(n));
    std::vector<LeftOut> reasons;
    auto leaveOut = [&](int c, const std::pair<std::string, std::string>& why) {
        images[size_t(c)] = FeatureImage();
        missing->push_back(c);
        for (LeftOut& reason : reasons)
            if (reason.one == why.first) return reason.cameras.push_back(c);
        reasons.push_back({why.first, why.second, {c}});
    };
    const std::string at = " no image at frame " + std::to_string(frame);
    std::pair<int, int> panorama(0, 0);
    for (int c = 0; c < n; ++c) {
        FeatureImage& image = images[size_t(c)];
        if (inputs[size_t(c)] < 0) {
            missing->push_back(c);  // the caller knows: no input was given for it
            continue;
        }
        if (!source.getImage(inputs[size_t(c)], frame, &image) || image.empty() ||
            image.pixels.size() != size_t(image.width) * size_t(image.height)) {
            leaveOut(c, {"it has" + at, "they have" + at});
        } else if (const auto why = unusable(image, rig.getCamera(c), latlong, panorama);
                   !why.first.empty()) {
            leaveOut(c, why);
        } else {
            (*cameras)[size_t(c)].present = true;
            if (latlong && panorama.first == 0) panorama = {image.width, image.height};
        }
        if (interrupted(progress, 0.1 * (c + 1) / std::max(n, 1))) return false;
    }
    warnLeftOut(source, rig, reasons);
    const Contrast contrast = frameContrast(images);
    for (int c = 0; c < n; ++c)
        if ((*cameras)[size_t(c)].present)
            prepareImage(images[size_t(c)], contrast, &(*cameras)[size_t(c)]);
    return true;
}

/// Moves the cameras with images to the front of `cameras`, in order, drops the others and
/// returns the rig index of each one kept.
std::vector<int> keepPresent(std::vector<CameraState>* cameras) {
    std::vector<int> kept;
    std::vector<CameraState> present;
    for (size_t c = 0; c < cameras->size(); ++c)
        if ((*cameras)[c].present) {
            kept.push_back(int(c));
            present.push_back(std::move((*cameras)[c]));
        }
    *cameras = std::move(present);
    return kept;
}

/// The cameras of `rig` listed in `kept` (ascending), as a rig of their own with the links
/// among them.
CameraRigDefinition keepCameras(const CameraRigDefinition& rig, const std::vector<int>& kept) {
    CameraRigDefinition out;
    out.setRigDiameter(rig.getRigDiameter());
    out.setNumberCameras(int(kept.size()));
    for (size_t i = 0; i < kept.size(); ++i) {
        out.setCamera(int(i), rig.getCamera(kept[i]));
        for (size_t j = i + 1; j < kept.size(); ++j)
            if (rig.isLinked(kept[i], kept[j])) out.setLinked(int(i), int(j));
    }
    return out;
}

/// What the stages after the fetch share about the rig of the cameras with images.
struct MatchSetup {
    bool latlong = false;
    bool geometry = false;
    double minDepth = 0.0;
    double step = 0.0;  ///< the coarsest camera's angular resolution, radians
    int width = 0;      ///< of the panorama (latlong) or of the first camera
    std::vector<detail::CameraRays> rays;
    std::vector<std::pair<int, int>> pairs;
    std::vector<double> bands;  ///< the band of each camera in its own pixels
    double panoramaRadius = 0.0;

    std::vector<double> bandsFor(double degrees, double bandPixels) const {
        std::vector<double> out(rays.size(), kMinBandPixels);
        for (size_t c = 0; c < rays.size(); ++c) {
            const double angle =
                latlong ? 2.0 * M_PI / std::max(width, 1) : detail::pixelAngle(rays[c]);
            if (bandPixels > 0.0)
                out[c] = bandPixels;
            else if (angle > 0.0)
                out[c] = std::max(kMinBandPixels, degrees * M_PI / 180.0 / angle);
        }
        return out;
    }
};

/// The second stage: the geometry of `rig` (only cameras with images) and the pairs to match.
/// `linkedRig`: the whole rig records links, so none among these cameras means none overlap.
MatchSetup setUpMatching(const CameraRigDefinition& rig,
                         const std::vector<CameraState>& cameras,
                         bool latlong,
                         bool geometry,
                         bool linkedRig,
                         const TrackFeaturesOptions& options) {
    MatchSetup setup;
    setup.latlong = latlong;
    setup.geometry = geometry;
    setup.minDepth =
        options.minDepth > 0.0 ? options.minDepth : std::max(0.3, rig.getRigDiameter());
    for (int c = 0; c < rig.getNumberCameras(); ++c) {
        setup.rays.emplace_back(rig.getCamera(c));
        setup.step = std::max(setup.step, detail::pixelAngle(setup.rays.back()));
    }
    if (!linkedRig || rig.hasLinks())
        for (const auto& pair :
             detail::matchPairs(rig, SphericalTransform::kDefaultConvergenceDepth))
            if (!geometry || (setup.rays[size_t(pair.first)].isValid() &&
                              setup.rays[size_t(pair.second)].isValid()))
                setup.pairs.push_back(pair);
    setup.width = latlong ? (cameras.empty() ? 0 : cameras[0].width)
                          : (rig.getNumberCameras() > 0 ? rig.getCamera(0).getFormatWidth() : 0);
    setup.bands = setup.bandsFor(options.bandDegrees, options.bandPixels);
    // In a panorama a point moves between cameras by at most the parallax at the nearest depth:
    // twice the angle that the rig's radius spans from there.
    setup.panoramaRadius = std::max(
        setup.bands.empty() ? kMinBandPixels : setup.bands[0],
        2.0 * std::atan(0.5 * rig.getRigDiameter() / setup.minDepth) * setup.width / (2.0 * M_PI));
    if (geometry && !(setup.step > 0.0)) setup.pairs.clear();
    return setup;
}

/// The third stage: features where each camera overlaps another, detected and indexed.
void detectFeatures(const MatchSetup& setup,
                    const TrackFeaturesOptions& options,
                    std::vector<CameraState>* cameras) {
    std::vector<DetectionPlan> plans;
    for (size_t c = 0; c < cameras->size(); ++c)
        plans.push_back(setup.latlong ? panoramaPlan((*cameras)[c], options.maxFeatures)
                                      : overlapPlan(int(c),
                                                    (*cameras)[c],
                                                    setup.pairs,
                                                    setup.rays,
                                                    setup.minDepth,
                                                    options.maxFeatures));
    Kiln::WorkerPool::ParallelFor(cameras->size(), [&](size_t c) {
        CameraState& camera = (*cameras)[c];
        detect(options, plans[c], setup.geometry ? &setup.rays[c] : nullptr, setup.step, &camera);
        buildIndex(&camera);
    });
}

/// The fourth stage: the rig as the matches see it, each camera's rotation corrected. The
/// correction needs a sample of matches, not all: points nearer than three times the nearest
/// depth are left to the matching proper, which keeps the wide curves short.
void correctRig(const TrackFeaturesOptions& options,
                std::vector<CameraState>* cameras,
                MatchSetup* setup,
                TrackFeaturesStats* figures) {
    const double wideDepth = kWideDepthFactor * setup->minDepth;
    const PairMatcher wide(*cameras,
                           setup->rays,
                           setup->geometry,
                           setup->bandsFor(options.wideBandDegrees, options.bandPixels),
                           setup->panoramaRadius,
                           wideDepth,
                           options);
    correctRotations(*cameras, setup->pairs, wide, wideDepth, options, &setup->rays, figures);
}

/// The fifth stage: the mutual, distinctive matches of every pair, as feature indices.
std::vector<std::vector<std::pair<int, int>>> matchAllPairs(const std::vector<CameraState>& cameras,
                                                            const MatchSetup& setup,
                                                            const TrackFeaturesOptions& options) {
    const PairMatcher matcher(cameras,
                              setup.rays,
                              setup.geometry,
                              setup.bands,
                              setup.panoramaRadius,
                              setup.minDepth,
                              options);
    std::vector<std::vector<std::pair<int, int>>> pairMatches(setup.pairs.size());
    Kiln::WorkerPool::ParallelFor(setup.pairs.size(), [&](size_t p) {
        const int a = setup.pairs[p].first, b = setup.pairs[p].second;
        const std::vector<int> forward = matcher.bestMatches(a, b);
        const std::vector<int> backward = matcher.bestMatches(b, a);
        for (size_t i = 0; i < forward.size(); ++i)
            if (forward[i] >= 0 && backward[size_t(forward[i])] == int(i))
                pairMatches[p].emplace_back(int(i), forward[i]);
    });
    return pairMatches;
}

/// True when the observations of `match` after the first agree among themselves: each lies
/// within its camera's band around the depth curve of every other's ray. A chain that joined
/// two different points cannot tell which observation is wrong, so it is dropped whole.
bool observationsAgree(const MatchSetup& setup, const FeatureTrack& match) {
    const auto& features = match.getFeatures();
    for (size_t i = 1; i < features.size(); ++i) {
        Eigen::Vector3d d;
        const int ci = features[i].first;
        if (!setup.rays[size_t(ci)].ray(features[i].second.getPosition(), &d)) return false;
        for (size_t j = i + 1; j < features.size(); ++j) {
            const int cj = features[j].first;
            if (detail::DepthCurve(
                    setup.rays[size_t(cj)], setup.rays[size_t(ci)].centre(), d, setup.minDepth)
                    .distance(features[j].second.getPosition()) > setup.bands[size_t(cj)])
                return false;
        }
    }
    return true;
}

/// A 5 x 5 subset of the descriptor's samples (offsets -5, -3, 0, 3, 5 each way): a patch of
/// the same extent from a fifth of the samples, to screen positions cheaply.
constexpr int kScreenSide = 5;
constexpr int kScreenLength = kScreenSide * kScreenSide;
constexpr int kScreenOffsets[kScreenSide] = {-5, -3, 0, 3, 5};
static_assert(kDescriptorRadius == 5, "the screening offsets span the descriptor");
// A position is described in full when its screening correlation comes this near the bar.
constexpr float kScreenMargin = 0.15f;
// Pixels between screened positions along the depth curve.
constexpr double kCurveScanStep = 2.0;

/// True when the reference feature's patch correlates with camera `c` at `position` clearly
/// better (the ratio test) than anywhere else along `curve`, the depth curve of the reference
/// ray in `c`, looked at every kCurveScanStep pixels, and not only better than the features
/// detected there. A feature on repeated texture (dots, stripes) whose true partner was not
/// detected, or was detected a few pixels off (a corner on the rim of a disc), otherwise pairs with
/// a look-alike at the wrong depth on its curve: such a match passes every other test and
/// triangulates metres nearer than the surface. Positions within the band of `position` belong
/// to the match itself. Each position is first screened with a fifth of the patch's samples;
/// only those that come near the bar get the whole patch.
bool distinctAlongCurve(const std::vector<CameraState>& cameras,
                        const MatchSetup& setup,
                        const TrackFeaturesOptions& options,
                        const std::pair<int, int>& reference,
                        int c,
                        const detail::DepthCurve& curve,
                        const Eigen::Vector2d& position,
                        double aligned) {
    const CameraState& from = cameras[size_t(reference.first)];
    const float* descriptor = from.descriptor(size_t(reference.second));
    const detail::SampledImage& image = cameras[size_t(c)].smooth;
    const detail::CameraRays& to = setup.rays[size_t(c)];
    const double exclusion = setup.bands[size_t(c)];

    // The observation's own correlation: the descriptor's there or, better where the lens model's
    // local map is off, the aligned patches'. A rival matters from `bar` on.
    std::vector<float> patch(kDescriptorLength);
    Eigen::Vector3d direction;
    Eigen::Matrix2d axes;
    float own = float(aligned);
    if (to.ray(position, &direction) && detail::tangentAxes(to, direction, setup.step, &axes) &&
        detail::describePatch(
            image, position, axes, kDescriptorRadius, kMinDeviation, patch.data()))
        own = std::max(own, correlation(descriptor, patch.data()));
    const float bar = 1.0f - (1.0f - own) / float(options.ratio);
    // The screening subset of the reference, zero-mean and of unit length.
    float screen[kScreenLength], mean = 0.0f, squares = 0.0f;
    for (int y = 0; y < kScreenSide; ++y)
        for (int x = 0; x < kScreenSide; ++x) {
            const int k = y * kScreenSide + x;
            screen[k] =
                descriptor[(kScreenOffsets[y] + kDescriptorRadius) * (2 * kDescriptorRadius + 1) +
                           kScreenOffsets[x] + kDescriptorRadius];
            mean += screen[k];
        }
    mean /= float(kScreenLength);
    for (float& v : screen) {
        v -= mean;
        squares += v * v;
    }
    if (!(squares > 0.0f)) return true;
    for (float& v : screen) v /= std::sqrt(squares);

    // The screening samples' offsets in OpenCV's image axes (x right, y down) for the current
    // `axes`, and how far the farthest reaches.
    float offsetX[kScreenLength], offsetY[kScreenLength], reach = 0.0f;
    const auto setAxes = [&]() {
        reach = 0.0f;
        for (int y = 0; y < kScreenSide; ++y)
            for (int x = 0; x < kScreenSide; ++x) {
                const Eigen::Vector2d o =
                    axes * Eigen::Vector2d(kScreenOffsets[x], kScreenOffsets[y]);
                offsetX[y * kScreenSide + x] = float(o.x());
                offsetY[y * kScreenSide + x] = -float(o.y());
                reach = std::max(reach, float(o.cwiseAbs().maxCoeff()));
            }
    };
    const float* pixels = image.data();
    const int width = image.width(), height = image.height();
    const float minSquares = float(kMinDeviation * kMinDeviation) * kScreenLength;
    // True when the patch at q (in `axes`) correlates at least `bar` with the reference.
    const auto rival = [&](const Eigen::Vector2d& q, const Eigen::Vector2d& along) {
        // Library position (x, y) is OpenCV's (x - 0.5, height - 0.5 - y).
        const float u = float(q.x()) - 0.5f, v = float(height) - 0.5f - float(q.y());
        if (!(u - reach >= 0.0f && v - reach >= 0.0f && u + reach + 1.0f < float(width) &&
              v + reach + 1.0f < float(height)))
            return false;
        // The reference subset is zero-mean, so the sample mean drops out of the product.
        float sum = 0.0f, sum2 = 0.0f, product = 0.0f;
        for (int k = 0; k < kScreenLength; ++k) {
            const float su = u + offsetX[k], sv = v + offsetY[k];
            const int i = int(su), j = int(sv);
            const float fa = su - float(i), fb = sv - float(j);
            const float* row0 = pixels + size_t(j) * size_t(width) + size_t(i);
            const float* row1 = row0 + width;
            const float value = (1.0f - fb) * ((1.0f - fa) * row0[0] + fa * row0[1]) +
                                fb * ((1.0f - fa) * row1[0] + fa * row1[1]);
            sum += value;
            sum2 += value * value;
            product += value * screen[k];
        }
        const float deviation2 = sum2 - sum * sum / kScreenLength;
        if (!(deviation2 > minSquares) || product < (bar - kScreenMargin) * std::sqrt(deviation2))
            return false;
        // The screen looks every kCurveScanStep pixels: the whole patch also a pixel to either
        // side.
        for (int side = -1; side <= 1; ++side)
            if (detail::describePatch(image,
                                      q + double(side) * along,
                                      axes,
                                      kDescriptorRadius,
                                      kMinDeviation,
                                      patch.data()) &&
                correlation(descriptor, patch.data()) >= bar)
                return true;
        return false;
    };
    // Each straight piece of the curve every kCurveScanStep pixels, with the patch axes of
    // the piece's start.
    const std::vector<Eigen::Vector2d>& pieces = curve.pieces();
    for (size_t k = 0; k + 1 < pieces.size(); k += 2) {
        const Eigen::Vector2d& start = pieces[k];
        const Eigen::Vector2d& end = pieces[k + 1];
        if (!detail::tangentAxes(
                to, (curve.startPoints()[k / 2] - to.centre()).normalized(), setup.step, &axes))
            continue;
        setAxes();
        const double length = (end - start).norm();
        const int steps = std::max(1, int(std::ceil(length / kCurveScanStep)));
        const Eigen::Vector2d along =
            length > 0.0 ? Eigen::Vector2d((end - start) / length) : Eigen::Vector2d::Zero();
        for (int t = 0; t < steps; ++t) {
            const Eigen::Vector2d q = start + (end - start) * (double(t) / steps);
            if ((q - position).norm() > exclusion && rival(q, along)) return false;
        }
    }
    return true;
}

/// The sixth stage for one chain: each observation aligned to sub-pixel accuracy with the
/// chain's first, through the local mapping the rig predicts; an observation whose patch does
/// not correlate or that leaves the band is dropped.
FeatureTrack refineChain(const std::vector<CameraState>& cameras,
                         const MatchSetup& setup,
                         const TrackFeaturesOptions& options,
                         const Chain& chain) {
    const int r = chain[0].first;
    const Keypoint& reference = cameras[size_t(r)].keypoints[size_t(chain[0].second)];
    const auto& rays = setup.rays;
    FeatureTrack out;
    out.getFeatures().emplace_back(r, Feature(reference.position));
    for (size_t o = 1; o < chain.size(); ++o) {
        const int c = chain[o].first;
        const Keypoint& observed = cameras[size_t(c)].keypoints[size_t(chain[o].second)];
        Eigen::Matrix2d jacobian = Eigen::Matrix2d::Identity();
        if (setup.geometry) {
            const double depth = detail::rayDepth(rays[size_t(r)].centre(),
                                                  reference.direction,
                                                  rays[size_t(c)].centre(),
                                                  observed.direction,
                                                  setup.minDepth);
            if (!detail::localMapping(
                    rays[size_t(r)], rays[size_t(c)], reference.position, depth, &jacobian))
                continue;
        }
        detail::PatchAlignment aligned;
        if (!detail::alignPatch(cameras[size_t(r)].smooth,
                                reference.position,
                                cameras[size_t(c)].smooth,
                                observed.position,
                                jacobian,
                                options.patchRadius,
                                options.maxShift,
                                kMinGradient,
                                &aligned) ||
            aligned.correlation < options.minCorrelation)
            continue;
        if (setup.geometry) {
            const detail::DepthCurve curve(
                rays[size_t(c)], rays[size_t(r)].centre(), reference.direction, setup.minDepth);
            if (curve.distance(aligned.position) > setup.bands[size_t(c)] ||
                !distinctAlongCurve(cameras,
                                    setup,
                                    options,
                                    chain[0],
                                    c,
                                    curve,
                                    aligned.position,
                                    aligned.correlation))
                continue;
        }
        out.getFeatures().emplace_back(c, Feature(aligned.position));
    }
    if (setup.geometry && !observationsAgree(setup, out)) out.getFeatures().clear();
    return out;
}

/// The sixth stage for every chain, side by side.
std::vector<FeatureTrack> refineChains(const std::vector<CameraState>& cameras,
                                       const MatchSetup& setup,
                                       const TrackFeaturesOptions& options,
                                       const std::vector<Chain>& chains) {
    std::vector<FeatureTrack> found(chains.size());
    Kiln::WorkerPool::ParallelFor(chains.size(), [&](size_t t) {
        found[t] = refineChain(cameras, setup, options, chains[t]);
    });
    return found;
}

/// Appends to `track` the matches left with two or more observations, in the whole rig's
/// camera indices (`kept`), each with its display colour.
void appendMatches(std::vector<FeatureTrack>& found,
                   const std::vector<int>& kept,
                   CameraTrack& track) {
    std::vector<FeatureTrack>& tracks = track.getTracks();
    for (FeatureTrack& match : found)
        if (match.getFeatures().size() >= 2) {
            for (auto& observation : match.getFeatures())
                observation.first = kept[size_t(observation.first)];
            match.setColour(trackColour(tracks.size()));
            tracks.push_back(std::move(match));
        }
}

/// The figures of the stages, counted over the rig of the cameras with images, in the whole
/// rig's camera indices.
void mapFigures(const TrackFeaturesStats& inner,
                const std::vector<int>& kept,
                TrackFeaturesStats* figures) {
    for (size_t c = 0; c < kept.size(); ++c) {
        figures->features[size_t(kept[c])] = inner.features[c];
        if (c < inner.corrections.size())
            figures->corrections[size_t(kept[c])] = inner.corrections[c];
        if (c < inner.lensFactors.size())
            figures->lensFactors[size_t(kept[c])] = inner.lensFactors[c];
    }
    for (const auto& [pair, count] : inner.pairMatches)
        figures->pairMatches[{kept[size_t(pair.first)], kept[size_t(pair.second)]}] = count;
    figures->correctionMatches = inner.correctionMatches;
}

}  // namespace

std::string CameraName(const CameraRigDefinition& rig, int c) {
    // A message may name a camera view the rig lacks (a rig file that failed to read leaves
    // no cameras): naming it must not throw.
    const bool known = c >= 0 && c < rig.getNumberCameras();
    const std::string view = known ? rig.getCamera(c).getOutputView() : std::string();
    return view.empty() ? "cam" + std::to_string(c + 1) : view;
}

std::string CameraList(const CameraRigDefinition& rig,
                       const std::vector<int>& cameras,
                       size_t named) {
    std::string names;
    for (size_t i = 0; i < std::min(cameras.size(), named); ++i)
        names += (i ? ", " : "") + CameraName(rig, cameras[i]);
    if (cameras.size() > named) names += " and " + std::to_string(cameras.size() - named) + " more";
    return names;
}

bool TrackFeatures(FeatureImageSource& source,
                   ProgressReporter* progress,
                   CameraTrack& track,
                   const CameraRigDefinition& rig,
                   MatchTypeEnum matchType,
                   bool useRigGeometry,
                   int frame,
                   const std::vector<int>& inputs,
                   const TrackFeaturesOptions& options,
                   TrackFeaturesStats* stats) {
    const int n = rig.getNumberCameras();
    if (int(inputs.size()) != n) return false;
    TrackFeaturesStats local;
    TrackFeaturesStats& figures = stats ? *stats : local;
    figures = TrackFeaturesStats();
    figures.features.assign(size_t(n), 0);
    figures.corrections.assign(size_t(n), Eigen::Matrix3d::Identity());
    figures.lensFactors.assign(size_t(n), 1.0);
    const bool latlong = matchType == MatchTypeEnum::Latlong;
    const bool geometry = useRigGeometry && !latlong;

    Clock::time_point start = Clock::now();
    std::vector<CameraState> cameras(static_cast<size_t>(n));
    if (!fetchImages(
            source, progress, rig, latlong, frame, inputs, &cameras, &figures.missingCameras))
        return false;
    // The cameras without images leave here, so that nothing after costs in proportion to
    // the whole rig: a rig file of hundreds of cameras with a few inputs matches as fast as
    // a rig of those few.
    const std::vector<int> kept = keepPresent(&cameras);
    figures.fetchSeconds = secondsSince(start);
    MatchSetup setup =
        setUpMatching(keepCameras(rig, kept), cameras, latlong, geometry, rig.hasLinks(), options);
    if (setup.pairs.empty())
        source.warning("no two cameras of the rig with images overlap: nothing to match.");

    TrackFeaturesStats inner;
    if (interrupted(progress, 0.15)) return false;
    start = Clock::now();
    detectFeatures(setup, options, &cameras);
    for (const CameraState& camera : cameras)
        inner.features.push_back(int(camera.keypoints.size()));
    figures.detectSeconds = secondsSince(start);
    if (interrupted(progress, 0.5)) return false;

    if (geometry && options.correctRotation && !setup.pairs.empty()) {
        start = Clock::now();
        correctRig(options, &cameras, &setup, &inner);
        figures.correctSeconds = secondsSince(start);
        if (interrupted(progress, 0.6)) return false;
    }

    start = Clock::now();
    const auto pairMatches = matchAllPairs(cameras, setup, options);
    for (size_t p = 0; p < setup.pairs.size(); ++p)
        inner.pairMatches[setup.pairs[p]] = int(pairMatches[p].size());
    figures.matchSeconds = secondsSince(start);
    if (interrupted(progress, 0.8)) return false;

    start = Clock::now();
    std::vector<FeatureTrack> found =
        refineChains(cameras, setup, options, chainMatches(cameras, setup.pairs, pairMatches));
    figures.refineSeconds = secondsSince(start);
    if (interrupted(progress, 1.0)) return false;

    mapFigures(inner, kept, &figures);
    appendMatches(found, kept, track);
    return true;
}

bool TrackFeatures(PX::Image::Op* op,
                   CameraTrack& track,
                   const CameraRigDefinition& rig,
                   MatchTypeEnum matchType,
                   bool useRigGeometry,
                   int frame,
                   const std::vector<int>& inputs) {
    const std::unique_ptr<FeatureImageSource> files = MakeOpImageSource(op);
    const std::unique_ptr<ProgressReporter> progress = CreateProgressReporter(op);
    // Cameras that share one input (the lenses of a dual-fisheye file) read their crop windows.
    CameraWindowSource cameras(*files, rig, inputs);
    return TrackFeatures(cameras,
                         progress.get(),
                         track,
                         rig,
                         matchType,
                         useRigGeometry,
                         frame,
                         cameras.cameraInputs());
}

}  // namespace Research
}  // namespace Korvane
