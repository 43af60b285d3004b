// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace PanoQuality {

/// A float image as read from a file: rows top first, `channels` interleaved.
struct Picture {
    int width = 0, height = 0, channels = 0;
    std::vector<float> pixels;
    float at(int x, int y, int c) const {
        return pixels[(size_t(y) * size_t(width) + size_t(x)) * size_t(channels) + size_t(c)];
    }
};

/// Reads an image file; throws std::runtime_error naming the file.
Picture readPicture(const std::string& path);
/// Encodes the colour channels (not alpha) as make_rig's 8-bit files hold linear light
/// (Korvane::MakeRig::encodeSrgb, not rounded to codes): footage written as 8-bit files is read
/// back sRGB-encoded, so its panoramas are compared with the truth encoded the same way.
void encodeSrgb(Picture& picture);
/// Writes 8-bit RGB; throws std::runtime_error naming the file.
void writePicture(const std::string& path, const Picture& rgb);

/// Where the cameras see, from each camera alone in the panorama (premultiplied RGBA): for
/// every pixel, how many cameras have alpha above one half.
std::vector<int> cameraCount(const std::vector<Picture>& cameras);

struct Scores {
    double psnr = 0;  ///< dB, colour (premultiplied RGB divided by alpha), peak 1
    double ssim = 0;  ///< mean SSIM of luma (Gaussian window, sigma 1.5)
    long pixels = 0;
};

/// `image` against `truth` (RGB) over the pixels where `mask` holds.
Scores compare(const Picture& image, const Picture& truth, const std::vector<bool>& mask);

/// Per pixel, the largest luma difference between two cameras that both see it (alpha above
/// one half); 0 where fewer than two do.
std::vector<float> misalignment(const std::vector<Picture>& cameras);

/// The `size` x `size` window (top-left corner, stride size / 8), nine tenths of it or more
/// inside `inside`, where `before` exceeds `after` by the most, summed: where the warp removed
/// the most misalignment.
std::pair<int, int> mostImproved(const std::vector<float>& before,
                                 const std::vector<float>& after,
                                 const std::vector<bool>& inside,
                                 int width,
                                 int height,
                                 int size);

/// `a` and `b` (colour divided by alpha) side by side over the window at (x, y), a white
/// gap between them.
Picture sideBySide(const Picture& a, const Picture& b, int x, int y, int size);

/// A heat map of `values` (0 .. `top`, colour ramp black, blue, red, yellow, white) for each
/// of `maps` stacked top to bottom, the width scaled by `scale`, and a scale bar under them
/// with ticks and numbers at 0, top / 2 and top.
Picture heatMap(
    const std::vector<std::vector<float>>& maps, int width, int height, float top, int scale);

}  // namespace PanoQuality
