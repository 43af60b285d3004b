// SPDX-License-Identifier: Apache-2.0
#include "render/StitchAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include <Eigen/Dense>

#include "kiln/Exception.h"

namespace Kiln {
namespace ImageStitcher {

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
    // Two sweeps each way; each row is swept twice around so distances cross the x seam.
    for (int y = 0; y < h; ++y) {
        float* row = &d.at(0, y);
        const float* below = y > 0 ? &d.at(0, y - 1) : nullptr;
        for (int i = 0; i < 2 * w; ++i) {
            const int x = i < w ? i : i - w;
            const int left = x == 0 ? w - 1 : x - 1;
            const int right = x == w - 1 ? 0 : x + 1;
            float v = std::min(row[x], row[left] + 1.0f);
            if (below)
                v = std::min(
                    {v, below[left] + kDiagonal, below[x] + 1.0f, below[right] + kDiagonal});
            row[x] = v;
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        float* row = &d.at(0, y);
        const float* above = y + 1 < h ? &d.at(0, y + 1) : nullptr;
        for (int i = 2 * w - 1; i >= 0; --i) {
            const int x = i < w ? i : i - w;
            const int left = x == 0 ? w - 1 : x - 1;
            const int right = x == w - 1 ? 0 : x + 1;
            float v = std::min(row[x], row[right] + 1.0f);
            if (above)
                v = std::min(
                    {v, above[right] + kDiagonal, above[x] + 1.0f, above[left] + kDiagonal});
            row[x] = v;
        }
    }
    return d;
}

std::array<float, 3> meanColour(const HostImage& camera) {
    double sum[3] = {0, 0, 0};
    double weight = 0;
    for (int y = 0; y < camera.height; ++y)
        for (int x = 0; x < camera.width; ++x) {
            for (int c = 0; c < 3; ++c) sum[c] += camera.at(x, y, c);
            weight += camera.at(x, y, 3);
        }
    if (weight <= 0) return {0, 0, 0};
    return {float(sum[0] / weight), float(sum[1] / weight), float(sum[2] / weight)};
}

std::vector<std::array<float, 3>> estimateGains(const std::vector<HostImage>& cameras,
                                                int minimumOverlap) {
    const int n = int(cameras.size());
    std::vector<std::array<float, 3>> gains(n, {1.0f, 1.0f, 1.0f});
    if (n < 2) return gains;
    // Overlap statistics of every pair: pixel count and the two sums of straight colour.
    struct Pair {
        int i, j;
        double count;
        std::array<double, 3> sumI, sumJ;
    };
    std::vector<Pair> pairs;
    constexpr float kSeen = 0.99f;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const HostImage& a = cameras[i];
            const HostImage& b = cameras[j];
            Pair p{i, j, 0, {0, 0, 0}, {0, 0, 0}};
            for (int y = 0; y < a.height; ++y)
                for (int x = 0; x < a.width; ++x) {
                    const float aa = a.at(x, y, 3);
                    const float ba = b.at(x, y, 3);
                    if (aa < kSeen || ba < kSeen) continue;
                    p.count += 1;
                    for (int c = 0; c < 3; ++c) {
                        p.sumI[c] += a.at(x, y, c) / aa;
                        p.sumJ[c] += b.at(x, y, c) / ba;
                    }
                }
            if (p.count >= minimumOverlap) pairs.push_back(p);
        }
    if (pairs.empty()) return gains;
    double total = 0;
    for (const Pair& p : pairs) total += p.count;
    // A small pull of every log gain toward 0 fixes the free offset of each connected group
    // without biasing the differences the overlaps ask for.
    const double prior = 1e-6 * total;
    constexpr double kTiny = 1e-6;
    for (int c = 0; c < 3; ++c) {
        Eigen::MatrixXd normal = Eigen::MatrixXd::Identity(n, n) * prior;
        Eigen::VectorXd rhs = Eigen::VectorXd::Zero(n);
        for (const Pair& p : pairs) {
            const double mi = p.sumI[c] / p.count;
            const double mj = p.sumJ[c] / p.count;
            if (mi <= kTiny || mj <= kTiny) continue;
            const double r = std::log(mj / mi);  // l_i - l_j = r
            normal(p.i, p.i) += p.count;
            normal(p.j, p.j) += p.count;
            normal(p.i, p.j) -= p.count;
            normal(p.j, p.i) -= p.count;
            rhs(p.i) += p.count * r;
            rhs(p.j) -= p.count * r;
        }
        const Eigen::VectorXd logGain = normal.ldlt().solve(rhs);
        for (int i = 0; i < n; ++i)
            gains[i][c] = float(std::clamp(std::exp(logGain(i)), 1.0 / 16, 16.0));
    }
    return gains;
}

}  // namespace ImageStitcher
}  // namespace Kiln
