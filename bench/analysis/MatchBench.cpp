// SPDX-License-Identifier: Apache-2.0
// Camera matching of one analysis key on the default synthetic rig (6 fisheye cameras at
// 1280 x 960): first the quality figures against the scene's ground truth, then the time of a
// whole key (features, matching, sub-pixel refinement, triangulation and the node's
// Levenberg-Marquardt refinement) with each stage as a counter.
//
//   build/bin/match_bench [--footage DIR | --realistic] [--frame F] [--seed S] [--compare]
//                         [--no-correction] [--ext EXT] [--band DEG] [--wide-band DEG]
//                         [--wide-features N] [--min-correlation R] [--max-shift PX]
//                         [--refined-rig OUT] [--false-matches DIR]
//                         [benchmark flags]
//
// DIR holds make_rig footage (camN.FFFF.exr and rig.json) made with seed S (default 1); the
// truth is judged with DIR/truth/rig.json when there is one (footage with calibration error),
// else with rig.json. Without --footage the default set's first frame is made once in
// build/bench-footage; --realistic makes and uses make_rig's realistic set instead (2 degrees
// of rotation error per camera, focal and centre error, exposure, white balance, vignetting
// and noise) in build/bench-footage-realistic. --compare also measures the AKAZE and SIFT
// detectors; --no-correction matches without the rotation correction; --ext reads camN.FFFF.EXT
// instead of EXR (real footage, judged against its own rig.json when it has no truth); --band,
// --wide-band, --wide-features, --min-correlation and --max-shift override TrackFeaturesOptions.
// After the matching figures, Refine Rig runs on the key's matches (rotations only, then with
// focal lengths and centres) and its cameras are compared with the true rig; --refined-rig
// writes the second as a rig sidecar file (convergence 5 m, as make_rig's), for a Warp through
// vireo with the refined rig. --false-matches writes DIR/false.csv, one line per observation
// pair of each match the truth judges false (positions, true depth and surface at both ends,
// the matched point's depth along both rays, where the true point of each end lands in the
// other camera: distance, its part along the depth curve, whether that camera sees it; the
// depth step within 2 px), and DIR/NNNN.png: both images and their true depths around the
// first 60, the true partner ringed.
#include <benchmark/benchmark.h>

#include <OpenImageIO/imageio.h>

#include <Eigen/Geometry>
#include <Eigen/SVD>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "MatchTruth.h"
#include "RigGenerator.h"
#include "Scene.h"
#include "SyntheticRig.h"
#include "ViewRenderer.h"
#include "constraints/TriangulationLeastSquaresFunction.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RefineRig.h"
#include "vellacam/RigFile.h"
#include "vellacam/TrackFeatures.h"
#include "vellacam/TriangulateFeatures.h"

using namespace Korvane::Research;
using Korvane::MakeRig::Hit;
using Korvane::MakeRig::MatchTruth;
using Korvane::MakeRig::Scene;

namespace {

using Clock = std::chrono::steady_clock;
using Detector = TrackFeaturesOptions::Detector;

struct Footage {
    CameraRigDefinition rig;
    CameraRigDefinition truth;  ///< the rig the images were made with
    std::vector<FeatureImage> images;
    std::vector<int> inputs;
    int frame = 1;
    unsigned long long seed = 1;
};

FeatureImage readLuminance(const std::string& path) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw std::runtime_error(path + ": " + OIIO::geterror());
    const OIIO::ImageSpec& format = in->spec();
    const int channels = std::min(format.nchannels, 3);
    std::vector<float> pixels(size_t(format.width) * format.height * channels);
    if (!in->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, pixels.data()))
        throw std::runtime_error(path + ": " + in->geterror());
    FeatureImage image;
    image.width = format.width;
    image.height = format.height;
    image.pixels.resize(size_t(format.width) * format.height);
    // Files hold the top row first; the library counts rows from the bottom.
    for (int r = 0; r < format.height; ++r)
        for (int i = 0; i < format.width; ++i) {
            const float* p = &pixels[(size_t(r) * format.width + i) * channels];
            image.pixels[size_t(format.height - 1 - r) * format.width + i] =
                channels == 3 ? 0.2126f * p[0] + 0.7152f * p[1] + 0.0722f * p[2] : p[0];
        }
    return image;
}

CameraRigDefinition readRig(const std::string& path) {
    PX::Image::MetaData::Bundle bundle;
    ReadRigFile(path, &bundle);
    MetaDataHandler handler;
    handler.updateMetaDataBundle(bundle);
    return handler.getRig();
}

bool g_correct = true;
std::string g_ext = "exr";
int g_wideFeatures = 0;
double g_wideBand = 0.0;
double g_band = 0.0;
double g_minCorrelation = 0.0;
double g_maxShift = 0.0;
std::string g_refinedRig;
std::string g_falseDir;

/// What the truth sees at one image position: the first surface along its ray.
struct Sight {
    bool ok = false;
    Eigen::Vector3d ray = Eigen::Vector3d::Zero();
    Hit hit;
    double edge = 1.0;  ///< farthest over nearest true depth within 2 px
};

Sight sight(const Scene& scene, const SphericalTransform& camera, const Eigen::Vector2d& p) {
    Sight s;
    const Eigen::Vector3d& centre = camera.getCamera().getPosition();
    s.ok = Korvane::MakeRig::ViewRenderer::pixelRay(camera, p, &s.ray) &&
           scene.intersect(centre, s.ray, &s.hit);
    if (!s.ok) return s;
    double nearest = s.hit.t, farthest = s.hit.t;
    for (int k = 0; k < 8; ++k) {
        const Eigen::Vector2d q =
            p + 2.0 * Eigen::Vector2d(std::cos(k * M_PI / 4), std::sin(k * M_PI / 4));
        Eigen::Vector3d ray;
        Hit hit;
        if (!Korvane::MakeRig::ViewRenderer::pixelRay(camera, q, &ray) ||
            !scene.intersect(centre, ray, &hit))
            continue;
        nearest = std::min(nearest, hit.t);
        farthest = std::max(farthest, hit.t);
    }
    s.edge = farthest / nearest;
    return s;
}

/// Where the true surface point seen by `from` lands in `to`, against `to`'s observation: the
/// distance in pixels (-1 where it does not project), its part along the depth curve of
/// `from`'s ray in `to`, and whether `to` sees that point or something nearer along its ray.
struct Reprojection {
    double distance = -1.0, along = 0.0;
    bool visible = false;
};

Reprojection reproject(const SphericalTransform& from,
                       const Sight& seen,
                       const SphericalTransform& to,
                       const Scene& scene,
                       const Eigen::Vector2d& observed) {
    Reprojection r;
    const Eigen::Vector3d& origin = from.getCamera().getPosition();
    const Eigen::Vector3d point = origin + seen.hit.t * seen.ray;
    Eigen::Vector2d image, nearer, farther;
    if (!to.ProjectFromWorld(point, &image)) return r;
    r.distance = (image - observed).norm();
    if (to.ProjectFromWorld(origin + 0.95 * seen.hit.t * seen.ray, &nearer) &&
        to.ProjectFromWorld(origin + 1.05 * seen.hit.t * seen.ray, &farther) &&
        (farther - nearer).norm() > 1e-9)
        r.along = (observed - image).dot((farther - nearer).normalized());
    const Eigen::Vector3d& centre = to.getCamera().getPosition();
    Hit hit;
    r.visible = scene.intersect(centre, (point - centre).normalized(), &hit) &&
                hit.t > (point - centre).norm() * 0.99;
    return r;
}

/// A crop of `radius` px around `p` of `value(i, j)` (pixel column, row from the bottom), 4
/// times enlarged and stretched to its range, `p` marked by a cross and `other` (when inside)
/// by a ring.
template <typename Value>
void crop(const Value& value,
          const Eigen::Vector2d& p,
          const Eigen::Vector2d& other,
          int radius,
          float* out,
          int stride) {
    std::vector<float> v;
    const int pi = int(std::floor(p.x())), pj = int(std::floor(p.y()));
    for (int y = -radius; y < radius; ++y)
        for (int x = -radius; x < radius; ++x) v.push_back(value(pi + x, pj + y));
    const auto range = std::minmax_element(v.begin(), v.end());
    const float low = *range.first, span = std::max(1e-6f, *range.second - low);
    const int side = 2 * radius;
    // File rows run from the top, the library's from the bottom.
    const double cx = 4 * (p.x() - pi + radius), cy = 4 * (side - (p.y() - pj + radius));
    const double ox = 4 * (other.x() - pi + radius), oy = 4 * (side - (other.y() - pj + radius));
    for (int y = 0; y < 4 * side; ++y)
        for (int x = 0; x < 4 * side; ++x) {
            float g = (v[size_t(side - 1 - y / 4) * side + x / 4] - low) / span;
            const double dx = x - cx, dy = y - cy, ring = std::hypot(x - ox, y - oy);
            if ((std::abs(dx) <= 1 && std::abs(dy) > 4 && std::abs(dy) < 12) ||
                (std::abs(dy) <= 1 && std::abs(dx) > 4 && std::abs(dx) < 12))
                g = 1.0f;
            if (std::abs(ring - 8.0) < 1.2) g = 0.0f;
            out[size_t(y) * stride + x] = g;
        }
}

/// Every observation pair of the matches the truth judges false, one CSV line each, and
/// side-by-side crops of the first ones, in g_falseDir.
void dumpFalseMatches(const Footage& footage,
                      const CameraTrack& track,
                      const Scene& scene,
                      const MatchTruth& truth) {
    std::filesystem::create_directories(g_falseDir);
    std::vector<SphericalTransform> cameras;
    for (int c = 0; c < footage.truth.getNumberCameras(); ++c)
        cameras.emplace_back(footage.truth.getCamera(c));
    FILE* csv = std::fopen((g_falseDir + "/false.csv").c_str(), "w");
    if (!csv) throw std::runtime_error(g_falseDir + "/false.csv: cannot write");
    std::fprintf(csv,
                 "match,camA,xA,yA,camB,xB,yB,depthA,depthB,shapeA,shapeB,pointA,pointB,"
                 "reprojAB,alongAB,visibleAB,reprojBA,alongBA,visibleBA,edgeA,edgeB,rmse\n");
    int index = 0, crops = 0;
    constexpr int kRadius = 40, kSide = 8 * kRadius, kCrops = 60;
    for (const FeatureTrack& match : track.getTracks()) {
        if (truth.isTrue(match)) continue;
        const auto& f = match.getFeatures();
        for (size_t k = 1; k < f.size(); ++k) {
            const int a = f[0].first, b = f[k].first;
            const Eigen::Vector2d pa = f[0].second.getPosition(), pb = f[k].second.getPosition();
            const Sight sa = sight(scene, cameras[size_t(a)], pa);
            const Sight sb = sight(scene, cameras[size_t(b)], pb);
            const Eigen::Vector3d& point = match.getPoint().getPosition();
            const Reprojection ab =
                sa.ok ? reproject(cameras[size_t(a)], sa, cameras[size_t(b)], scene, pb)
                      : Reprojection();
            const Reprojection ba =
                sb.ok ? reproject(cameras[size_t(b)], sb, cameras[size_t(a)], scene, pa)
                      : Reprojection();
            std::fprintf(csv,
                         "%d,%d,%.2f,%.2f,%d,%.2f,%.2f,%.3f,%.3f,%d,%d,%.3f,%.3f,%.2f,%.2f,%d,%.2f,"
                         "%.2f,%d,%.2f,%.2f,%.3f\n",
                         index,
                         a + 1,
                         pa.x(),
                         pa.y(),
                         b + 1,
                         pb.x(),
                         pb.y(),
                         sa.hit.t,
                         sb.hit.t,
                         sa.hit.shape,
                         sb.hit.shape,
                         (point - cameras[size_t(a)].getCamera().getPosition()).dot(sa.ray),
                         (point - cameras[size_t(b)].getCamera().getPosition()).dot(sb.ray),
                         ab.distance,
                         ab.along,
                         int(ab.visible),
                         ba.distance,
                         ba.along,
                         int(ba.visible),
                         sa.edge,
                         sb.edge,
                         match.getPoint().getRMSE());
            if (k == 1 && crops < kCrops) {
                // Top: the images; below: the true depth (log), the true partner ringed.
                const int stride = 2 * kSide + 4;
                std::vector<float> pixels(size_t(stride) * (2 * kSide + 4), 0.5f);
                const Eigen::Vector2d nowhere(-1e9, -1e9);
                Eigen::Vector2d partner = nowhere;
                if (sa.ok)
                    cameras[size_t(b)].ProjectFromWorld(
                        cameras[size_t(a)].getCamera().getPosition() + sa.hit.t * sa.ray, &partner);
                for (int side = 0; side < 2; ++side) {
                    const int c = side ? b : a;
                    const Eigen::Vector2d p = side ? pb : pa;
                    const FeatureImage& image = footage.images[size_t(c)];
                    const auto luminance = [&](int i, int j) {
                        return i >= 0 && j >= 0 && i < image.width && j < image.height
                                   ? std::sqrt(
                                         std::max(0.0f, image.pixels[size_t(j) * image.width + i]))
                                   : 0.0f;
                    };
                    const auto depth = [&](int i, int j) {
                        const Sight s =
                            sight(scene, cameras[size_t(c)], Eigen::Vector2d(i + 0.5, j + 0.5));
                        return s.ok ? float(std::log(s.hit.t)) : 0.0f;
                    };
                    float* at = pixels.data() + side * (kSide + 4);
                    crop(luminance, p, side ? partner : nowhere, kRadius, at, stride);
                    crop(depth,
                         p,
                         side ? partner : nowhere,
                         kRadius,
                         at + size_t(kSide + 4) * stride,
                         stride);
                }
                char name[64];
                std::snprintf(name, sizeof name, "/%04d.png", index);
                auto out = OIIO::ImageOutput::create(g_falseDir + name);
                OIIO::ImageSpec header(stride, 2 * kSide + 4, 1, OIIO::TypeDesc::UINT8);
                if (out && out->open(g_falseDir + name, header)) {
                    out->write_image(OIIO::TypeDesc::FLOAT, pixels.data());
                    out->close();
                }
                ++crops;
            }
        }
        ++index;
    }
    std::fclose(csv);
    std::printf("  %d false matches written to %s/false.csv, crops of %d\n",
                index,
                g_falseDir.c_str(),
                crops);
}

Footage loadFootage(const std::string& dir, int frame, unsigned long long seed) {
    Footage footage;
    footage.rig = readRig(dir + "/rig.json");
    footage.truth = std::filesystem::exists(dir + "/truth/rig.json")
                        ? readRig(dir + "/truth/rig.json")
                        : footage.rig;
    footage.frame = frame;
    footage.seed = seed;
    for (int c = 0; c < footage.rig.getNumberCameras(); ++c) {
        footage.images.push_back(readLuminance(Korvane::MakeRig::RigGenerator::framePath(
            dir, footage.rig.getCamera(c).getOutputView(), frame, g_ext)));
        footage.inputs.push_back(c);
    }
    return footage;
}

class MemorySource : public FeatureImageSource {
public:
    explicit MemorySource(const Footage& footage) : m_footage(footage) {}
    bool getImage(int input, int, FeatureImage* image) override {
        *image = m_footage.images[size_t(input)];
        return true;
    }

private:
    const Footage& m_footage;
};

/// The times of one key, seconds.
struct KeyTimes {
    TrackFeaturesStats stats;
    double triangulate = 0.0;
    double levenbergMarquardt = 0.0;
};

CameraTrack matchKey(const Footage& footage, Detector detector, KeyTimes* times) {
    MemorySource source(footage);
    TrackFeaturesOptions options;
    options.detector = detector;
    options.correctRotation = g_correct;
    if (g_wideFeatures > 0) options.wideFeatures = g_wideFeatures;
    if (g_wideBand > 0.0) options.wideBandDegrees = g_wideBand;
    if (g_band > 0.0) options.bandDegrees = g_band;
    if (g_minCorrelation > 0.0) options.minCorrelation = g_minCorrelation;
    if (g_maxShift > 0.0) options.maxShift = g_maxShift;
    CameraTrack track(footage.frame);
    TrackFeatures(source,
                  nullptr,
                  track,
                  footage.rig,
                  MatchTypeEnum::Camera,
                  true,
                  footage.frame,
                  footage.inputs,
                  options,
                  &times->stats);
    Clock::time_point start = Clock::now();
    TriangulateFeatures(track, footage.rig, true);
    times->triangulate = std::chrono::duration<double>(Clock::now() - start).count();
    start = Clock::now();
    std::vector<SphericalTransform> transforms;
    for (int c = 0; c < footage.rig.getNumberCameras(); ++c)
        transforms.emplace_back(footage.rig.getCamera(c));
    const TriangulationContext context(transforms, footage.images[0].width);
    for (FeatureTrack& match : track.getTracks()) triangulateMatch(context, match);
    times->levenbergMarquardt = std::chrono::duration<double>(Clock::now() - start).count();
    return track;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

const char* name(Detector d) {
    switch (d) {
        case Detector::Fast:
            return "FAST";
        case Detector::Orb:
            return "ORB";
        case Detector::Akaze:
            return "AKAZE";
        case Detector::Sift:
            return "SIFT";
    }
    return "?";
}

double degrees(const Eigen::Matrix3d& rotation) {
    return Eigen::AngleAxisd(rotation).angle() * 180.0 / M_PI;
}

/// The rotation nearest the mean of the cameras' rotation errors: the share of the whole rig,
/// which only the parallax of near points shows.
Eigen::Matrix3d commonTurn(const std::vector<Eigen::Matrix3d>& errors) {
    Eigen::Matrix3d sum = Eigen::Matrix3d::Zero();
    for (const Eigen::Matrix3d& e : errors) sum += e;
    Eigen::JacobiSVD<Eigen::Matrix3d> svd(sum, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Eigen::Matrix3d common = svd.matrixU() * svd.matrixV().transpose();
    return common.determinant() < 0.0 ? Eigen::Matrix3d::Identity() : common;
}

/// Each camera's rotation error in the rig, the correction the matcher applied, and what is
/// left once the rotation of the whole rig (which matches cannot see) is taken out.
void printCorrections(const Footage& footage, const TrackFeaturesStats& stats) {
    const int n = footage.rig.getNumberCameras();
    if (int(stats.corrections.size()) != n) return;
    std::vector<Eigen::Matrix3d> left;  // true = left * corrected
    for (int c = 0; c < n; ++c) {
        const Eigen::Matrix3d corrected =
            stats.corrections[size_t(c)] * footage.rig.getCamera(c).getCameraToWorldRotation();
        left.push_back(footage.truth.getCamera(c).getCameraToWorldRotation() *
                       corrected.transpose());
    }
    const Eigen::Matrix3d common = commonTurn(left);
    std::printf("  rotation correction (%d wide-pass matches agree), degrees:\n",
                stats.correctionMatches);
    std::printf(
        "  camera  rig error  correction  left  left without the rig's common turn  lens "
        "factor\n");
    for (int c = 0; c < n; ++c)
        std::printf("  cam%-4d %9.3f  %10.3f  %5.3f  %5.3f  %.4f\n",
                    c + 1,
                    degrees(footage.truth.getCamera(c).getCameraToWorldRotation() *
                            footage.rig.getCamera(c).getCameraToWorldRotation().transpose()),
                    degrees(stats.corrections[size_t(c)]),
                    degrees(left[size_t(c)]),
                    degrees(common.transpose() * left[size_t(c)]),
                    c < int(stats.lensFactors.size()) ? stats.lensFactors[size_t(c)] : 1.0);
}

/// Each camera's rotation error (true = error * camera), and the rotation nearest their mean.
std::vector<Eigen::Matrix3d> rotationErrors(const CameraRigDefinition& rig,
                                            const CameraRigDefinition& truth,
                                            Eigen::Matrix3d* common) {
    std::vector<Eigen::Matrix3d> errors;
    for (int c = 0; c < rig.getNumberCameras(); ++c)
        errors.push_back(truth.getCamera(c).getCameraToWorldRotation() *
                         rig.getCamera(c).getCameraToWorldRotation().transpose());
    *common = commonTurn(errors);
    return errors;
}

/// Refine Rig on the key's matches: each camera's rotation against the true rig's, in absolute
/// terms and about the best common turn of the whole rig (the relative orientation, what the
/// matches place; README: "The gauge"), and its lens.
void printRefinement(const Footage& footage, const CameraTrack& track, bool lens) {
    const auto start = Clock::now();
    RefineRigOptions options;
    options.refineLens = lens;
    const RigCorrection correction = RefineRig(footage.rig, {&track}, options);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!correction.ok) {
        std::printf("  Refine Rig refused: %s\n", correction.message.c_str());
        return;
    }
    const CameraRigDefinition refined = CorrectedRig(footage.rig, correction);
    if (lens && !g_refinedRig.empty()) {
        Korvane::MakeRig::SyntheticRig::writeRigFile(refined, g_refinedRig);
        std::printf("  refined rig written to %s\n", g_refinedRig.c_str());
    }
    Eigen::Matrix3d recordedCommon, common;
    const std::vector<Eigen::Matrix3d> recorded =
        rotationErrors(footage.rig, footage.truth, &recordedCommon);
    const std::vector<Eigen::Matrix3d> left = rotationErrors(refined, footage.truth, &common);
    const Eigen::AngleAxisd commonAxis(common);
    std::printf(
        "  Refine Rig%s (%d matches, RMS %.3f px -> %.3f px, %.2f s); orientation off the "
        "truth, degrees, about the best common turn (refined: %.4f degrees about %.2f %.2f "
        "%.2f) and absolute; focal length off the truth, %%; centre off the truth, px:\n"
        "  camera  rig    refined  absolute  focal   centre\n",
        lens ? " with focal lengths and centres" : "",
        correction.matches,
        correction.rmsBefore,
        correction.rmsAfter,
        seconds,
        degrees(common),
        commonAxis.axis().x(),
        commonAxis.axis().y(),
        commonAxis.axis().z());
    for (int c = 0; c < footage.rig.getNumberCameras(); ++c) {
        const CameraDefinition& camera = refined.getCamera(c);
        const CameraDefinition& truth = footage.truth.getCamera(c);
        const Eigen::Vector2d centre = camera.getCentreShift() - truth.getCentreShift();
        std::printf("  cam%-4d %5.3f  %7.4f  %8.4f  %6.3f  %5.2f %5.2f\n",
                    c + 1,
                    degrees(recordedCommon.transpose() * recorded[size_t(c)]),
                    degrees(common.transpose() * left[size_t(c)]),
                    degrees(left[size_t(c)]),
                    100.0 * (camera.getFocalLength() / truth.getFocalLength() - 1.0),
                    centre.x(),
                    centre.y());
    }
}

void printQuality(const Footage& footage, Detector detector) {
    KeyTimes times;
    const CameraTrack track = matchKey(footage, detector, &times);
    const Scene scene = Scene::build(footage.seed).atFrame(footage.frame);
    const MatchTruth truth(scene, footage.truth);
    std::map<std::pair<int, int>, std::pair<int, int>> pairs;  // (matches, true ones)
    for (int a = 0; a < footage.rig.getNumberCameras(); ++a)
        for (int b : footage.rig.getLinks(a))
            if (a < b) pairs[{a, b}] = {0, 0};
    std::vector<double> rmse;
    int trueTracks = 0;
    std::map<size_t, int> lengths;
    for (const FeatureTrack& match : track.getTracks()) {
        const bool isTrue = truth.isTrue(match);
        trueTracks += isTrue;
        rmse.push_back(match.getPoint().getRMSE());
        ++lengths[match.getFeatures().size()];
        const auto& f = match.getFeatures();
        for (size_t i = 0; i < f.size(); ++i)
            for (size_t j = i + 1; j < f.size(); ++j) {
                auto& counts =
                    pairs[{std::min(f[i].first, f[j].first), std::max(f[i].first, f[j].first)}];
                ++counts.first;
                counts.second += isTrue;
            }
    }
    if (!g_falseDir.empty() && detector == Detector::Fast)
        dumpFalseMatches(footage, track, scene, truth);
    std::printf("\n%s, frame %d: %zu matches, %.2f %% true, median stored RMSE %.3f\n",
                name(detector),
                footage.frame,
                track.getTracks().size(),
                100.0 * trueTracks / std::max<size_t>(1, track.getTracks().size()),
                median(rmse));
    std::printf("  features per camera:");
    for (int n : times.stats.features) std::printf(" %d", n);
    std::printf("\n  cameras per match:");
    for (const auto& l : lengths) std::printf(" %zu: %d", l.first, l.second);
    std::printf("\n  pair      mutual  matches  true %%\n");
    for (const auto& p : pairs) {
        const auto it = times.stats.pairMatches.find(p.first);
        std::printf("  cam%d-cam%d %6d  %7d  %6.2f\n",
                    p.first.first + 1,
                    p.first.second + 1,
                    it == times.stats.pairMatches.end() ? 0 : it->second,
                    p.second.first,
                    100.0 * p.second.second / std::max(1, p.second.first));
    }
    printCorrections(footage, times.stats);
    printRefinement(footage, track, false);
    printRefinement(footage, track, true);
    std::printf(
        "  seconds: detection %.3f, rotation correction %.3f, matching %.3f, sub-pixel %.3f, "
        "triangulation %.3f, Levenberg-Marquardt %.3f (images in memory; reading them took "
        "%.3f)\n",
        times.stats.detectSeconds,
        times.stats.correctSeconds,
        times.stats.matchSeconds,
        times.stats.refineSeconds,
        times.triangulate,
        times.levenbergMarquardt,
        times.stats.fetchSeconds);
}

const Footage* g_footage = nullptr;

void BM_MatchKey(benchmark::State& state) {
    const Detector detector = Detector(state.range(0));
    KeyTimes sum;
    size_t matches = 0;
    for (auto _ : state) {
        KeyTimes times;
        matches = matchKey(*g_footage, detector, &times).getTracks().size();
        sum.stats.detectSeconds += times.stats.detectSeconds;
        sum.stats.matchSeconds += times.stats.matchSeconds;
        sum.stats.refineSeconds += times.stats.refineSeconds;
        sum.stats.fetchSeconds += times.stats.fetchSeconds;
        sum.stats.correctSeconds += times.stats.correctSeconds;
        sum.triangulate += times.triangulate;
        sum.levenbergMarquardt += times.levenbergMarquardt;
    }
    const double n = double(state.iterations());
    state.counters["prepare_s"] = sum.stats.fetchSeconds / n;
    state.counters["detect_s"] = sum.stats.detectSeconds / n;
    state.counters["match_s"] = sum.stats.matchSeconds / n;
    state.counters["subpixel_s"] = sum.stats.refineSeconds / n;
    state.counters["triangulate_s"] = sum.triangulate / n;
    state.counters["lm_s"] = sum.levenbergMarquardt / n;
    state.counters["correct_s"] = sum.stats.correctSeconds / n;
    state.counters["matches"] = double(matches);
    state.SetLabel(name(detector));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string footageDir;
    int frame = 1;
    unsigned long long seed = 1;
    bool compare = false;
    bool realistic = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--footage" && i + 1 < argc)
            footageDir = argv[++i];
        else if (arg == "--frame" && i + 1 < argc)
            frame = std::atoi(argv[++i]);
        else if (arg == "--seed" && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--compare")
            compare = true;
        else if (arg == "--realistic")
            realistic = true;
        else if (arg == "--no-correction")
            g_correct = false;
        else if (arg == "--ext" && i + 1 < argc)
            g_ext = argv[++i];
        else if (arg == "--wide-features" && i + 1 < argc)
            g_wideFeatures = std::atoi(argv[++i]);
        else if (arg == "--wide-band" && i + 1 < argc)
            g_wideBand = std::atof(argv[++i]);
        else if (arg == "--band" && i + 1 < argc)
            g_band = std::atof(argv[++i]);
        else if (arg == "--min-correlation" && i + 1 < argc)
            g_minCorrelation = std::atof(argv[++i]);
        else if (arg == "--max-shift" && i + 1 < argc)
            g_maxShift = std::atof(argv[++i]);
        else if (arg == "--false-matches" && i + 1 < argc)
            g_falseDir = argv[++i];
        else if (arg == "--refined-rig" && i + 1 < argc)
            g_refinedRig = argv[++i];
        else {
            std::fprintf(stderr, "match_bench: unknown argument '%s'\n", arg.c_str());
            return 2;
        }
    }
    if (footageDir.empty()) {
        const std::filesystem::path bin =
            std::filesystem::canonical("/proc/self/exe").parent_path();
        footageDir = (bin.parent_path() / (realistic ? "bench-footage-realistic" : "bench-footage"))
                         .string();
        if (!std::filesystem::exists(footageDir + "/rig.json")) {
            std::printf("match_bench: making the %s footage's first frame in %s\n",
                        realistic ? "realistic" : "default",
                        footageDir.c_str());
            Korvane::MakeRig::RigOptions options = Korvane::MakeRig::RigOptions::parse(
                {"--out", footageDir, "--frames", "1", "--pano-size", "64x32", "--points", "0"});
            if (realistic)
                options = Korvane::MakeRig::RigOptions::parse({"--out",
                                                               footageDir,
                                                               "--frames",
                                                               "1",
                                                               "--pano-size",
                                                               "64x32",
                                                               "--points",
                                                               "0",
                                                               "--realistic"});
            Korvane::MakeRig::RigGenerator(options).run(nullptr);
            seed = options.seed;
            frame = options.first;
        }
    }
    const Footage footage = loadFootage(footageDir, frame, seed);
    g_footage = &footage;

    printQuality(footage, Detector::Fast);
    if (compare) {
        printQuality(footage, Detector::Orb);
        printQuality(footage, Detector::Akaze);
        printQuality(footage, Detector::Sift);
    }
    std::printf("\n");
    auto* b = benchmark::RegisterBenchmark("BM_MatchKey", BM_MatchKey)->Arg(int(Detector::Fast));
    if (compare) b->Arg(int(Detector::Orb))->Arg(int(Detector::Akaze))->Arg(int(Detector::Sift));
    b->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
