// SPDX-License-Identifier: Apache-2.0
#include "PanoramaQuality.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include <OpenImageIO/imageio.h>

#include "Srgb.h"

namespace PanoQuality {

Picture readPicture(const std::string& path) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw std::runtime_error(path + ": cannot open: " + OIIO::geterror());
    const OIIO::ImageSpec& header = in->spec();
    Picture p;
    p.width = header.width, p.height = header.height, p.channels = header.nchannels;
    p.pixels.resize(size_t(p.width) * size_t(p.height) * size_t(p.channels));
    if (!in->read_image(0, 0, 0, p.channels, OIIO::TypeDesc::FLOAT, p.pixels.data()))
        throw std::runtime_error(path + ": cannot read: " + in->geterror());
    return p;
}

void encodeSrgb(Picture& picture) {
    const int colours = std::min(picture.channels, 3);
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        if (int(i % size_t(picture.channels)) >= colours) continue;
        picture.pixels[i] = Korvane::MakeRig::encodeSrgb(picture.pixels[i]);
    }
}

void writePicture(const std::string& path, const Picture& rgb) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) throw std::runtime_error(path + ": cannot write: " + OIIO::geterror());
    OIIO::ImageSpec header(rgb.width, rgb.height, rgb.channels, OIIO::TypeDesc::UINT8);
    if (!out->open(path, header) || !out->write_image(OIIO::TypeDesc::FLOAT, rgb.pixels.data()) ||
        !out->close())
        throw std::runtime_error(path + ": cannot write: " + out->geterror());
}

namespace {

float alphaOf(const Picture& p, int x, int y) { return p.channels > 3 ? p.at(x, y, 3) : 1.0f; }

// Colour divided by alpha (premultiplied inputs), as the eye sees it.
std::array<float, 3> colour(const Picture& p, int x, int y) {
    const float a = alphaOf(p, x, y);
    const float s = a > 1e-6f ? 1.0f / a : 0.0f;
    return {p.at(x, y, 0) * s, p.at(x, y, 1) * s, p.at(x, y, 2) * s};
}

float luma(const std::array<float, 3>& c) {
    return 0.2126f * c[0] + 0.7152f * c[1] + 0.0722f * c[2];
}

// Separable Gaussian blur, sigma 1.5, radius 5, x wrapping (panoramas), y clamped.
std::vector<double> blur(const std::vector<double>& v, int w, int h) {
    static const std::array<double, 11> k = [] {
        std::array<double, 11> g{};
        double sum = 0;
        for (int i = -5; i <= 5; ++i) sum += g[size_t(i + 5)] = std::exp(-i * i / (2 * 1.5 * 1.5));
        for (double& x : g) x /= sum;
        return g;
    }();
    std::vector<double> a(v.size()), b(v.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int i = -5; i <= 5; ++i)
                s += k[size_t(i + 5)] * v[size_t(y) * w + (x + i + w) % w];
            a[size_t(y) * w + x] = s;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int i = -5; i <= 5; ++i)
                s += k[size_t(i + 5)] * a[size_t(std::clamp(y + i, 0, h - 1)) * w + x];
            b[size_t(y) * w + x] = s;
        }
    return b;
}

}  // namespace

std::vector<int> cameraCount(const std::vector<Picture>& cameras) {
    if (cameras.empty()) return {};
    const int w = cameras[0].width, h = cameras[0].height;
    std::vector<int> count(size_t(w) * h, 0);
    for (const Picture& c : cameras)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) count[size_t(y) * w + x] += alphaOf(c, x, y) > 0.5f;
    return count;
}

Scores compare(const Picture& image, const Picture& truth, const std::vector<bool>& mask) {
    if (image.width != truth.width || image.height != truth.height)
        throw std::runtime_error("the image and the truth differ in size");
    const int w = image.width, h = image.height;
    Scores s;
    double squared = 0;
    std::vector<double> a(size_t(w) * h), b(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto ci = colour(image, x, y), ct = colour(truth, x, y);
            a[size_t(y) * w + x] = luma(ci);
            b[size_t(y) * w + x] = luma(ct);
            if (!mask[size_t(y) * w + x]) continue;
            for (int c = 0; c < 3; ++c)
                squared += double(ci[size_t(c)] - ct[size_t(c)]) * (ci[size_t(c)] - ct[size_t(c)]);
            ++s.pixels;
        }
    const double mse = squared / std::max<double>(1.0, 3.0 * s.pixels);
    s.psnr = mse > 0 ? 10.0 * std::log10(1.0 / mse) : 99.0;
    // SSIM (Wang et al. 2004) with C1 = (0.01)^2, C2 = (0.03)^2 for a peak of 1.
    std::vector<double> aa(a.size()), bb(a.size()), ab(a.size());
    for (size_t i = 0; i < a.size(); ++i)
        aa[i] = a[i] * a[i], bb[i] = b[i] * b[i], ab[i] = a[i] * b[i];
    const auto ma = blur(a, w, h), mb = blur(b, w, h), maa = blur(aa, w, h), mbb = blur(bb, w, h),
               mab = blur(ab, w, h);
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!mask[i]) continue;
        const double va = maa[i] - ma[i] * ma[i], vb = mbb[i] - mb[i] * mb[i],
                     cov = mab[i] - ma[i] * mb[i];
        const double c1 = 1e-4, c2 = 9e-4;
        sum += (2 * ma[i] * mb[i] + c1) * (2 * cov + c2) /
               ((ma[i] * ma[i] + mb[i] * mb[i] + c1) * (va + vb + c2));
    }
    s.ssim = s.pixels ? sum / double(s.pixels) : 0.0;
    return s;
}

std::vector<float> misalignment(const std::vector<Picture>& cameras) {
    if (cameras.empty()) return {};
    const int w = cameras[0].width, h = cameras[0].height;
    // Each camera's luma is smoothed (sigma 1.5 px, twice) before the cameras are compared:
    // the fine texture of the scene would otherwise turn any sub-pixel difference of
    // resampling into a full-contrast difference; ghosting is the shift of whole structures.
    std::vector<std::vector<double>> lumas;
    for (const Picture& c : cameras) {
        std::vector<double> l(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) l[size_t(y) * w + x] = luma(colour(c, x, y));
        lumas.push_back(blur(blur(l, w, h), w, h));
    }
    std::vector<float> m(size_t(w) * h, 0.0f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double lo = 1e30, hi = -1e30;
            int seen = 0;
            for (size_t k = 0; k < cameras.size(); ++k)
                if (alphaOf(cameras[k], x, y) > 0.99f) {
                    const double l = lumas[k][size_t(y) * w + x];
                    lo = std::min(lo, l), hi = std::max(hi, l), ++seen;
                }
            if (seen >= 2) m[size_t(y) * w + x] = float(hi - lo);
        }
    return m;
}

std::pair<int, int> mostImproved(const std::vector<float>& before,
                                 const std::vector<float>& after,
                                 const std::vector<bool>& inside,
                                 int width,
                                 int height,
                                 int size) {
    // Column sums of the gain per row band make each window a sum of `size` columns.
    const int stride = std::max(1, size / 8);
    double best = -1e300;
    std::pair<int, int> at{0, 0};
    for (int y = 0; y + size <= height; y += stride) {
        std::vector<double> column(size_t(width), 0.0);
        std::vector<int> count(size_t(width), 0);
        for (int yy = y; yy < y + size; ++yy)
            for (int x = 0; x < width; ++x)
                count[size_t(x)] += inside[size_t(yy) * width + x],
                    column[size_t(x)] +=
                    double(before[size_t(yy) * width + x]) - after[size_t(yy) * width + x];
        for (int x = 0; x + size <= width; x += stride) {
            double sum = 0;
            long n = 0;
            for (int xx = x; xx < x + size; ++xx) sum += column[size_t(xx)], n += count[size_t(xx)];
            if (n >= long(size) * size * 9 / 10 && sum > best) best = sum, at = {x, y};
        }
    }
    return at;
}

Picture sideBySide(const Picture& a, const Picture& b, int x0, int y0, int size) {
    Picture o;
    o.width = 2 * size + 8, o.height = size, o.channels = 3;
    o.pixels.assign(size_t(o.width) * o.height * 3, 1.0f);
    for (int k = 0; k < 2; ++k)
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const auto c = colour(k ? b : a, x0 + x, y0 + y);
                for (int i = 0; i < 3; ++i)
                    o.pixels[(size_t(y) * o.width + x + k * (size + 8)) * 3 + size_t(i)] =
                        c[size_t(i)];
            }
    return o;
}

namespace {

std::array<float, 3> ramp(float t) {
    static const std::array<std::array<float, 3>, 5> stops = {
        {{0, 0, 0}, {0.1f, 0.2f, 0.9f}, {0.9f, 0.1f, 0.1f}, {1, 0.9f, 0.1f}, {1, 1, 1}}};
    t = std::clamp(t, 0.0f, 1.0f) * 4.0f;
    const int i = std::min(3, int(t));
    const float f = t - float(i);
    std::array<float, 3> c{};
    for (int k = 0; k < 3; ++k)
        c[size_t(k)] = stops[size_t(i)][size_t(k)] * (1 - f) + stops[size_t(i + 1)][size_t(k)] * f;
    return c;
}

// 3 x 5 digits and a point, one row of 3 bits per line, top first.
const std::array<std::array<int, 5>, 11> kGlyphs = {{{7, 5, 5, 5, 7},
                                                     {2, 6, 2, 2, 7},
                                                     {7, 1, 7, 4, 7},
                                                     {7, 1, 7, 1, 7},
                                                     {5, 5, 7, 1, 1},
                                                     {7, 4, 7, 1, 7},
                                                     {7, 4, 7, 5, 7},
                                                     {7, 1, 1, 1, 1},
                                                     {7, 5, 7, 5, 7},
                                                     {7, 5, 7, 1, 7},
                                                     {0, 0, 0, 0, 2}}};

void drawText(Picture& p, int x0, int y0, const std::string& text, int size) {
    for (char ch : text) {
        const int g = ch == '.' ? 10 : ch - '0';
        if (g < 0 || g > 10) continue;
        for (int r = 0; r < 5; ++r)
            for (int b = 0; b < 3; ++b)
                if (kGlyphs[size_t(g)][size_t(r)] & (4 >> b))
                    for (int dy = 0; dy < size; ++dy)
                        for (int dx = 0; dx < size; ++dx) {
                            const int x = x0 + b * size + dx, y = y0 + r * size + dy;
                            if (x < 0 || y < 0 || x >= p.width || y >= p.height) continue;
                            for (int c = 0; c < 3; ++c)
                                p.pixels[(size_t(y) * p.width + x) * 3 + size_t(c)] = 1.0f;
                        }
        x0 += 4 * size;
    }
}

}  // namespace

Picture heatMap(
    const std::vector<std::vector<float>>& maps, int width, int height, float top, int scale) {
    const int w = width / scale, h = height / scale, bar = 60;
    Picture p;
    p.width = w, p.height = h * int(maps.size()) + bar, p.channels = 3;
    p.pixels.assign(size_t(p.width) * p.height * 3, 0.0f);
    for (size_t m = 0; m < maps.size(); ++m)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float v = 0;  // the largest value of the block, so thin seams stay visible
                for (int dy = 0; dy < scale; ++dy)
                    for (int dx = 0; dx < scale; ++dx)
                        v = std::max(v, maps[m][size_t(y * scale + dy) * width + x * scale + dx]);
                const auto c = ramp(v / top);
                float* o = &p.pixels[(size_t(int(m) * h + y) * w + x) * 3];
                o[0] = c[0], o[1] = c[1], o[2] = c[2];
            }
    // The bar: the ramp from 0 to `top` over the middle 80 % of the width, ticks and numbers.
    const int y0 = h * int(maps.size()) + 6, x0 = w / 10, x1 = w - w / 10;
    for (int y = y0; y < y0 + 20; ++y)
        for (int x = x0; x < x1; ++x) {
            const auto c = ramp(float(x - x0) / float(x1 - x0));
            float* o = &p.pixels[(size_t(y) * w + x) * 3];
            o[0] = c[0], o[1] = c[1], o[2] = c[2];
        }
    for (int i = 0; i <= 2; ++i) {
        const int x = x0 + (x1 - x0) * i / 2;
        for (int y = y0 + 20; y < y0 + 28; ++y)
            for (int c = 0; c < 3; ++c)
                p.pixels[(size_t(y) * w + std::min(x, w - 1)) * 3 + size_t(c)] = 1;
        char text[16];
        std::snprintf(text, sizeof text, "%.3g", double(top) * i / 2);
        drawText(p, x - 6, y0 + 32, text, 4);
    }
    return p;
}

}  // namespace PanoQuality
