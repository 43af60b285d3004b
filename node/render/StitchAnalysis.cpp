// SPDX-License-Identifier: Apache-2.0
#include "render/StitchAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include <Eigen/Dense>

#include "kiln/Exception.h"
#include "kiln/WorkerPool.h"

namespace Kiln {
namespace ImageStitcher {
namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

AxisCosines::AxisCosines(const std::array<float, 3>& axis,
                         const Box& box,
                         double originX,
                         double originY,
                         double width,
                         double height)
    : m_box(box),
      m_column(std::size_t(std::max(0, box.width())), 0.0),
      m_cosLatitude(std::size_t(std::max(0, box.height())), 0.0),
      m_up(std::size_t(std::max(0, box.height())), 1.0) {
    const double n = std::sqrt(double(axis[0]) * axis[0] + double(axis[1]) * axis[1] +
                               double(axis[2]) * axis[2]);
    m_known = std::isfinite(n) && n > 0 && width > 0 && height > 0;
    if (!m_known) return;
    for (int x = box.x0; x < box.x1; ++x) {
        const double lon = ((x + 0.5 - originX) / width * 2.0 - 1.0) * kPi;
        m_column[std::size_t(x - box.x0)] = (std::sin(lon) * axis[0] + std::cos(lon) * axis[2]) / n;
    }
    for (int y = box.y0; y < box.y1; ++y) {
        const double lat = ((y + 0.5 - originY) / height * 2.0 - 1.0) * (kPi / 2);
        m_cosLatitude[std::size_t(y - box.y0)] = std::cos(lat);
        m_up[std::size_t(y - box.y0)] = std::sin(lat) * axis[1] / n;
    }
}

std::vector<float> inverseFalloffTable(const Vignetting& vignetting) {
    std::vector<float> table(Kernels::kInverseFalloffSteps + 2);
    for (int k = 0; k <= Kernels::kInverseFalloffSteps; ++k) {
        const double c = -1.0 + 2.0 * k / Kernels::kInverseFalloffSteps;
        table[k] = float(std::exp(-vignetting.logFalloff(std::acos(c))));
    }
    table[Kernels::kInverseFalloffSteps + 1] = table[Kernels::kInverseFalloffSteps];
    return table;
}

HostImage download(const Image& image) {
    if (image.type() != Pixel::ComponentType::Float)
        throw ImageError("stitcher analysis reads float images only");
    const Compute::DevicePtr device = image.device();
    // Pixels of devices the host cannot address come over through a CPU copy.
    const Image readable = device->hostAccessible() ? image : image.distributeTo(nullptr);
    HostImage host(image.box().width(), image.box().height(), image.channels());
    const std::size_t rowFloats = std::size_t(host.width) * host.channels;
    for (int y = 0; y < host.height; ++y)
        std::memcpy(host.pixels.data() + y * rowFloats,
                    readable.row(image.box().y0 + y),
                    rowFloats * sizeof(float));
    return host;
}

Image upload(const HostImage& host, const Box& box, const Compute::DevicePtr& device) {
    Tile tile;
    tile.info.box = box;
    tile.info.channels = host.channels;
    tile.info.type = Pixel::ComponentType::Float;
    tile.data = const_cast<float*>(host.pixels.data());
    tile.rowBytes = std::ptrdiff_t(host.width) * host.channels * sizeof(float);
    // The tile only lives for this call: the copy onto the device owns its pixels.
    return Image(tile).distributeTo(device);
}

HostImage featherDistance(const HostImage& image, int alphaChannel, float threshold) {
    const int w = image.width;
    const int h = image.height;
    const float far = float(w + h);
    HostImage d(w, h, 1, far);
    bool anyOutside = false;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (image.at(x, y, alphaChannel) <= threshold) {
                d.at(x, y) = 0.0f;
                anyOutside = true;
            }
    if (!anyOutside) return d;
    constexpr float kDiagonal = 1.41421356f;
    // One sweep down the rows (step 1: from the top row) or up. The previous row's three
    // neighbours do not depend on the row being swept, so they are taken first for the whole
    // row (a loop the compiler vectorises); then the row is swept along, against the direction
    // of travel, and a second time around from its start so distances cross the x seam, until
    // a pixel no longer improves: past it nothing can (each pixel is at most its neighbour's
    // distance + 1 after the first time along). The same minima of the same sums as taking
    // every neighbour at every pixel, so the same distances.
    std::vector<float> shifted(std::size_t(w) + 2);
    auto sweep = [&](int step) {
        for (int n = 0; n < h; ++n) {
            const int y = step > 0 ? n : h - 1 - n;
            float* row = &d.at(0, y);
            const int py = y - step;
            if (py >= 0 && py < h) {
                // shifted[x + 1] = previous[x], with the seam's neighbours at both ends.
                const float* previous = &d.at(0, py);
                std::copy(previous, previous + w, shifted.begin() + 1);
                shifted[0] = previous[w - 1];
                shifted[std::size_t(w) + 1] = previous[0];
                const float* s = shifted.data();
                for (int x = 0; x < w; ++x) {
                    const float diagonal = std::min(s[x], s[x + 2]) + kDiagonal;
                    row[x] = std::min(row[x], std::min(s[x + 1] + 1.0f, diagonal));
                }
            }
            if (step > 0) {
                for (int x = 1; x < w; ++x) row[x] = std::min(row[x], row[x - 1] + 1.0f);
                for (int x = 0; x < w; ++x) {
                    const float v = row[x == 0 ? w - 1 : x - 1] + 1.0f;
                    if (!(v < row[x])) break;
                    row[x] = v;
                }
            } else {
                for (int x = w - 2; x >= 0; --x) row[x] = std::min(row[x], row[x + 1] + 1.0f);
                for (int x = w - 1; x >= 0; --x) {
                    const float v = row[x == w - 1 ? 0 : x + 1] + 1.0f;
                    if (!(v < row[x])) break;
                    row[x] = v;
                }
            }
        }
    };
    sweep(1);
    sweep(-1);
    return d;
}

namespace {

/// Mean straight colour of a premultiplied RGBA camera, each pixel's colour times scale(x, y).
template <typename Scale>
std::array<float, 3> scaledMeanColour(const HostImage& camera, Scale scale) {
    double sum[3] = {0, 0, 0};
    double weight = 0;
    for (int y = 0; y < camera.height; ++y)
        for (int x = 0; x < camera.width; ++x) {
            const float f = scale(x, y);
            for (int c = 0; c < 3; ++c) sum[c] += camera.at(x, y, c) * f;
            weight += camera.at(x, y, 3);
        }
    if (weight <= 0) return {0, 0, 0};
    return {float(sum[0] / weight), float(sum[1] / weight), float(sum[2] / weight)};
}

}  // namespace

std::pair<int, int> circularRun(const std::vector<char>& marked) {
    const int n = int(marked.size());
    int bestGap = 0, bestEnd = 0;
    for (int start = 0; start < n; ++start) {
        // A gap starts at an unmarked column whose left neighbour, around the circle, is
        // marked; each gap is walked once, from its start.
        if (marked[std::size_t(start)] || !marked[std::size_t((start + n - 1) % n)]) continue;
        int length = 1;
        while (!marked[std::size_t((start + length) % n)]) ++length;  // ends left of `start`
        if (length > bestGap) {
            bestGap = length;
            bestEnd = (start + length) % n;
        }
    }
    if (bestGap == 0) return {0, n > 0 && marked[0] ? n : 0};  // no gap starts: all or none
    return {bestEnd, n - bestGap};
}

std::array<float, 3> meanColour(const HostImage& camera) {
    return scaledMeanColour(camera, [](int, int) { return 1.0f; });
}

std::array<float, 3> meanColour(const HostImage& camera,
                                const std::array<float, 3>& axis,
                                const Vignetting& vignetting) {
    if (vignetting.identity()) return meanColour(camera);
    // The camera covers the whole panorama: its own grid.
    const AxisCosines cosines(axis, camera.width, camera.height);
    if (!cosines.known()) return meanColour(camera);
    const std::vector<float> table = inverseFalloffTable(vignetting);
    return scaledMeanColour(camera, [&](int x, int y) {
        return Kernels::inverseFalloffAt(table.data(), float(cosines.at(x, y)));
    });
}

namespace {

// Angles enter the fit as s = (theta / 90 degrees)^2, so both falloff unknowns are about the
// size of the log brightness they explain and one pull toward 0 suits both.
constexpr double kAngleUnit = kPi / 2;
constexpr int kBinsPerAxis = 45;  // 4 degrees each
constexpr double kSeen = 0.99;
constexpr double kTiny = 1e-6;
// Pulls toward 0 per overlap pixel: on the log gains it only fixes each group's free offset;
// on each falloff it weighs the correction the falloff would make (below), so that angles
// that barely differ between two cameras leave it at about none; a tiny one on every
// coefficient keeps the system regular.
constexpr double kGainPrior = 1e-6;
constexpr double kFalloffPrior = 1e-3;
constexpr double kTinyPrior = 1e-7;
constexpr int kReweightings = 6;
// The least range of angles from its axis (radians) a camera's overlaps must show for its
// falloff to be fitted (for a shared one, the rig's overlaps).
constexpr double kSmallestSpan = 30 * kPi / 180;
// The largest correction a falloff may ask for within its reach (ln 8).
constexpr double kLargestLogCorrection = 2.0794415416798357;

bool knownAxis(const std::vector<std::array<float, 3>>& axes, int i) {
    if (std::size_t(i) >= axes.size()) return false;
    const std::array<float, 3>& a = axes[i];
    const double n = double(a[0]) * a[0] + double(a[1]) * a[1] + double(a[2]) * a[2];
    return std::isfinite(n) && n > 0;
}

/// Per pixel of an analysis image that the camera fully sees, the angle from the camera's
/// axis (0 elsewhere, and everywhere for an unknown axis).
std::vector<float> anglesFromAxis(const HostImage& camera,
                                  const std::array<float, 3>& axis,
                                  bool known) {
    const int w = camera.width, h = camera.height;
    std::vector<float> theta(std::size_t(w) * h, 0.0f);
    if (!known) return theta;
    const AxisCosines cosines(axis, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (camera.at(x, y, 3) >= kSeen)
                theta[std::size_t(y) * w + x] =
                    float(std::acos(std::clamp(cosines.at(x, y), -1.0, 1.0)));
    return theta;
}

/// The overlap of two cameras at one pair of angles: its solid angle (pixels weighted by
/// cos(latitude)), and the sums over it of straight colour and of the angles' features s and
/// s^2.
struct Bin {
    double count = 0;
    std::array<double, 3> sumI{0, 0, 0}, sumJ{0, 0, 0};
    double sI = 0, sI2 = 0, sJ = 0, sJ2 = 0;
};

struct Observation {
    int i, j, channel;
    double weight;
    double fI, fI2, fJ, fJ2;  // mean s and s^2 of each camera
    double ratio;             // log(m_j / m_i)
};

/// The angles (as s) a camera shows in its overlaps.
struct AngleRange {
    double nearest = std::numeric_limits<double>::infinity();
    double reach = 0;
    /// The range in radians of theta.
    double span() const {
        return reach > 0 ? (std::sqrt(reach) - std::sqrt(nearest)) * kAngleUnit : 0;
    }
};

/// The overlap observations of every pair with at least `minimumOverlap` pixels, and the
/// angles each camera shows in them.
std::vector<Observation> overlapObservations(const std::vector<HostImage>& cameras,
                                             const std::vector<std::vector<float>>& theta,
                                             int minimumOverlap,
                                             std::vector<AngleRange>* ranges) {
    const int n = int(cameras.size());
    std::vector<Observation> observations;
    std::vector<Bin> bins(kBinsPerAxis * kBinsPerAxis);
    const double binWidth = kPi / kBinsPerAxis;
    auto binOf = [&](float t) { return std::min(kBinsPerAxis - 1, int(t / binWidth)); };
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const HostImage& a = cameras[i];
            const HostImage& b = cameras[j];
            std::fill(bins.begin(), bins.end(), Bin{});
            int count = 0;
            AngleRange rangeI, rangeJ;
            for (int y = 0; y < a.height; ++y) {
                // A pixel counts by the solid angle it spans, cos(latitude) of the equator's:
                // an overlap that reaches toward a pole (lenses back to back on a camera held
                // sideways, a camera looking up) would otherwise be weighed by the rows
                // stretched across the pole, where it covers the least of the sphere.
                const double area = std::cos(((y + 0.5) / a.height - 0.5) * kPi);
                for (int x = 0; x < a.width; ++x) {
                    const float aa = a.at(x, y, 3);
                    const float ba = b.at(x, y, 3);
                    if (aa < kSeen || ba < kSeen) continue;
                    const std::size_t p = std::size_t(y) * a.width + x;
                    const float ti = theta[i][p], tj = theta[j][p];
                    Bin& bin = bins[binOf(ti) * kBinsPerAxis + binOf(tj)];
                    const double si = (ti / kAngleUnit) * (ti / kAngleUnit);
                    const double sj = (tj / kAngleUnit) * (tj / kAngleUnit);
                    bin.count += area;
                    bin.sI += area * si, bin.sI2 += area * si * si;
                    bin.sJ += area * sj, bin.sJ2 += area * sj * sj;
                    for (int c = 0; c < 3; ++c) {
                        bin.sumI[c] += area * a.at(x, y, c) / aa;
                        bin.sumJ[c] += area * b.at(x, y, c) / ba;
                    }
                    count += 1;
                    rangeI.nearest = std::min(rangeI.nearest, si);
                    rangeI.reach = std::max(rangeI.reach, si);
                    rangeJ.nearest = std::min(rangeJ.nearest, sj);
                    rangeJ.reach = std::max(rangeJ.reach, sj);
                }
            }
            if (count < minimumOverlap) continue;
            for (const auto& [camera, range] : {std::pair{i, rangeI}, std::pair{j, rangeJ}}) {
                AngleRange& r = (*ranges)[camera];
                r.nearest = std::min(r.nearest, range.nearest);
                r.reach = std::max(r.reach, range.reach);
            }
            for (const Bin& bin : bins) {
                if (bin.count == 0) continue;
                for (int c = 0; c < 3; ++c) {
                    const double mi = bin.sumI[c] / bin.count;
                    const double mj = bin.sumJ[c] / bin.count;
                    // Not a number or infinite pixels (a broken frame) tell nothing.
                    if (!(mi > kTiny && mj > kTiny) || !std::isfinite(mi) || !std::isfinite(mj))
                        continue;
                    observations.push_back({i,
                                            j,
                                            c,
                                            bin.count,
                                            bin.sI / bin.count,
                                            bin.sI2 / bin.count,
                                            bin.sJ / bin.count,
                                            bin.sJ2 / bin.count,
                                            std::log(mj / mi)});
                }
            }
        }
    return observations;
}

/// Weighted median of |r|.
double medianAbsolute(const std::vector<double>& r, const std::vector<double>& weight) {
    std::vector<std::pair<double, double>> v;
    double total = 0;
    for (std::size_t k = 0; k < r.size(); ++k) {
        v.push_back({std::abs(r[k]), weight[k]});
        total += weight[k];
    }
    std::sort(v.begin(), v.end());
    double running = 0;
    for (const auto& [value, w] : v) {
        running += w;
        if (running >= 0.5 * total) return value;
    }
    return 0;
}

}  // namespace

std::vector<CameraExposure> estimateExposure(const std::vector<HostImage>& cameras,
                                             const std::vector<std::array<float, 3>>& axes,
                                             VignettingModel model,
                                             int minimumOverlap) {
    const int n = int(cameras.size());
    std::vector<CameraExposure> result(n);
    if (n < 2) return result;
    std::vector<std::vector<float>> theta;
    bool anyAxis = false;
    for (int i = 0; i < n; ++i) {
        const bool known = model != VignettingModel::None && knownAxis(axes, i);
        anyAxis = anyAxis || known;
        theta.push_back(
            anglesFromAxis(cameras[i], known ? axes[i] : std::array<float, 3>{0, 0, 0}, known));
    }
    std::vector<AngleRange> ranges(n);
    const std::vector<Observation> observations =
        overlapObservations(cameras, theta, minimumOverlap, &ranges);
    if (observations.empty()) return result;
    std::vector<double> reach;
    for (const AngleRange& r : ranges) reach.push_back(r.reach);
    // A falloff is only fitted where the overlaps show the lens over a range of angles: two
    // lenses back to back meet about 90 degrees from both axes, which tells the falloff's
    // slope there and nothing of its course toward the axis.
    std::vector<bool> fitted(n, false);
    AngleRange rig;
    for (int i = 0; i < n; ++i)
        if (knownAxis(axes, i) && ranges[i].reach > 0) {
            rig.nearest = std::min(rig.nearest, ranges[i].nearest);
            rig.reach = std::max(rig.reach, ranges[i].reach);
        }
    for (int i = 0; i < n; ++i)
        fitted[i] = anyAxis && knownAxis(axes, i) &&
                    (model == VignettingModel::Shared ? rig : ranges[i]).span() >= kSmallestSpan;
    // Without a falloff the overlaps are not split by angle: each pair gives its whole mean.
    if (model != VignettingModel::None &&
        std::find(fitted.begin(), fitted.end(), true) == fitted.end())
        return estimateExposure(cameras, {}, VignettingModel::None, minimumOverlap);

    // Unknowns: the log gains (camera-major, 3 each), then the falloffs' two coefficients
    // (one pair for the rig, or one per camera).
    const int falloffs = !anyAxis ? 0 : model == VignettingModel::PerCamera ? n : 1;
    const int unknowns = 3 * n + 2 * falloffs;
    auto falloffIndex = [&](int camera) {
        return 3 * n + 2 * (model == VignettingModel::PerCamera ? camera : 0);
    };
    double total = 0;
    for (const Observation& o : observations) total += o.weight;
    total /= 3;  // every pixel counted once per channel

    std::vector<double> robust(observations.size(), 1.0);
    Eigen::VectorXd x = Eigen::VectorXd::Zero(unknowns);
    for (int round = 0; round < kReweightings; ++round) {
        Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(unknowns, unknowns);
        Eigen::VectorXd rhs = Eigen::VectorXd::Zero(unknowns);
        for (int k = 0; k < 3 * n; ++k) normal(k, k) = kGainPrior * total;
        for (int k = 3 * n; k < unknowns; ++k) normal(k, k) = kTinyPrior * total;
        // The pull on each falloff is its mean squared log correction over the angles its
        // camera (for a shared one, the rig) shows in overlaps: what the data cannot see
        // (say a dip shared by both sides of every seam) stays small where it would show.
        for (int f = 0; f < falloffs; ++f) {
            double top = 0;
            for (int i = 0; i < n; ++i)
                if (falloffs == 1 || i == f) top = std::max(top, reach[i]);
            const int k = 3 * n + 2 * f;
            const double weight = kFalloffPrior * total;
            normal(k, k) += weight * top * top / 3;
            normal(k, k + 1) += weight * top * top * top / 4;
            normal(k + 1, k) += weight * top * top * top / 4;
            normal(k + 1, k + 1) += weight * top * top * top * top / 5;
        }
        // One row: +1 at l_i, -1 at l_j, -s_i, -s_i^2 at camera i's falloff, +s_j, +s_j^2 at j's.
        std::array<int, 6> index;
        std::array<double, 6> value;
        for (std::size_t k = 0; k < observations.size(); ++k) {
            const Observation& o = observations[k];
            int used = 2;
            index[0] = 3 * o.i + o.channel, value[0] = 1;
            index[1] = 3 * o.j + o.channel, value[1] = -1;
            if (falloffs > 0) {
                const double ownI = fitted[o.i] ? 1 : 0, ownJ = fitted[o.j] ? 1 : 0;
                index[2] = falloffIndex(o.i), value[2] = -o.fI * ownI;
                index[3] = falloffIndex(o.i) + 1, value[3] = -o.fI2 * ownI;
                index[4] = falloffIndex(o.j), value[4] = o.fJ * ownJ;
                index[5] = falloffIndex(o.j) + 1, value[5] = o.fJ2 * ownJ;
                used = 6;
            }
            const double w = o.weight * robust[k];
            for (int p = 0; p < used; ++p) {
                rhs(index[p]) += w * value[p] * o.ratio;
                for (int q = 0; q < used; ++q)
                    normal(index[p], index[q]) += w * value[p] * value[q];
            }
        }
        x = normal.ldlt().solve(rhs);
        // Huber weights from the residuals, scale from their weighted median.
        std::vector<double> residual(observations.size()), weight(observations.size());
        for (std::size_t k = 0; k < observations.size(); ++k) {
            const Observation& o = observations[k];
            double r = x(3 * o.i + o.channel) - x(3 * o.j + o.channel) - o.ratio;
            if (falloffs > 0) {
                const int fi = falloffIndex(o.i), fj = falloffIndex(o.j);
                if (fitted[o.i]) r -= x(fi) * o.fI + x(fi + 1) * o.fI2;
                if (fitted[o.j]) r += x(fj) * o.fJ + x(fj + 1) * o.fJ2;
            }
            residual[k] = r;
            weight[k] = o.weight;
        }
        const double delta = std::max(1e-3, 1.345 * 1.4826 * medianAbsolute(residual, weight));
        for (std::size_t k = 0; k < observations.size(); ++k)
            robust[k] = std::abs(residual[k]) <= delta ? 1.0 : delta / std::abs(residual[k]);
    }

    for (int i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c)
            result[i].gain[c] = float(std::clamp(std::exp(x(3 * i + c)), 1.0 / 16, 16.0));
        if (falloffs == 0 || !fitted[i] || reach[i] <= 0) continue;
        const double alpha = x(falloffIndex(i)), beta = x(falloffIndex(i) + 1);
        // Within its reach the correction is ln V over s in [0, reach]: a quadratic in s. One
        // past belief (the overlaps said something no lens does) leaves the gains alone.
        const double top = reach[i];
        double largest = std::abs(alpha * top + beta * top * top);
        if (beta != 0.0) {
            const double turn = -alpha / (2 * beta);
            if (turn > 0 && turn < top)
                largest = std::max(largest, std::abs(alpha * turn + beta * turn * turn));
        }
        if (largest > kLargestLogCorrection)
            return estimateExposure(cameras, axes, VignettingModel::None, minimumOverlap);
        Vignetting& v = result[i].vignetting;
        v.a = float(alpha / (kAngleUnit * kAngleUnit));
        v.b = float(beta / (kAngleUnit * kAngleUnit * kAngleUnit * kAngleUnit));
        v.reach = float(std::sqrt(top) * kAngleUnit);
    }
    return result;
}

std::vector<std::array<float, 3>> estimateGains(const std::vector<HostImage>& cameras,
                                                int minimumOverlap) {
    std::vector<std::array<float, 3>> gains;
    for (const CameraExposure& e :
         estimateExposure(cameras, {}, VignettingModel::None, minimumOverlap))
        gains.push_back(e.gain);
    return gains;
}

void removeVignetting(Image& image,
                      const PanoramaGrid& grid,
                      const std::array<float, 3>& axis,
                      const Vignetting& vignetting) {
    if (image.type() != Pixel::ComponentType::Float || image.channels() != 4)
        throw ImageError("vignetting is removed from float RGBA images only");
    if (!image.device()->hostAccessible())
        throw ImageError("vignetting is removed in host memory only");
    const Box box = image.box();
    if (box.empty() || vignetting.identity()) return;
    const AxisCosines cosines(axis, box, grid);
    if (!cosines.known()) return;
    const std::vector<float> table = inverseFalloffTable(vignetting);
    std::vector<float> columns;
    for (int x = box.x0; x < box.x1; ++x) columns.push_back(float(cosines.column(x)));
    constexpr int kRowsPerTask = 16;
    const int tasks = (box.height() + kRowsPerTask - 1) / kRowsPerTask;
    WorkerPool::ParallelFor(std::size_t(tasks), [&](std::size_t task) {
        const int y0 = box.y0 + int(task) * kRowsPerTask;
        const int y1 = std::min(box.y1, y0 + kRowsPerTask);
        for (int y = y0; y < y1; ++y) {
            const float cosLat = float(cosines.cosLatitude(y)), up = float(cosines.up(y));
            float* p = reinterpret_cast<float*>(image.row(y));
            for (int i = 0; i < box.width(); ++i, p += 4) {
                const float f = Kernels::inverseFalloffAt(table.data(), cosLat * columns[i] + up);
                p[0] *= f;
                p[1] *= f;
                p[2] *= f;
            }
        }
    });
}

}  // namespace ImageStitcher
}  // namespace Kiln
