// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <utility>
#include <vector>

#include "kiln/Image.h"

namespace Kiln {
namespace ImageStitcher {

/// Small images in host memory, where the stitcher's per-camera analysis runs (feathering,
/// gains, the vector field): they live at analysis or vector-grid size, a few hundred pixels
/// across, so the work is a few milliseconds and needs no kernels. Row 0 is the box's bottom
/// row, as in Kiln images; `channels` components per pixel, interleaved.
struct HostImage {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<float> pixels;

    HostImage() = default;
    HostImage(int w, int h, int c, float value = 0.0f)
        : width(w), height(h), channels(c), pixels(std::size_t(w) * h * c, value) {}
    float& at(int x, int y, int c = 0) {
        return pixels[(std::size_t(y) * width + x) * channels + c];
    }
    float at(int x, int y, int c = 0) const {
        return pixels[(std::size_t(y) * width + x) * channels + c];
    }
};

/// Copies a float image to host memory (any device).
HostImage download(const Image& image);
/// A float image on `device` with `box` (of the host image's size) holding `host`.
Image upload(const HostImage& host, const Box& box, const Compute::DevicePtr& device);

/// Distance in pixels from every pixel a camera sees (alpha channel `alphaChannel` above
/// `threshold`) to the nearest pixel it does not see; 0 outside. x wraps around (the images
/// are equirectangular); rows beyond the top and bottom are not boundaries (they are poles).
/// A camera that sees everything gets width + height everywhere. Chamfer distances (steps 1
/// and sqrt 2), within 8 % of the Euclidean distance.
HostImage featherDistance(const HostImage& image, int alphaChannel, float threshold);

/// Per-camera, per-channel gains that equalise the cameras where they overlap. `cameras` are
/// premultiplied RGBA at one size. For every two cameras that both fully see at least
/// `minimumOverlap` pixels, the mean straight colours m_i, m_j over those pixels ask for
/// log g_i - log g_j = log(m_j / m_i), weighted by the pixel count; the least-squares solution
/// with the least sum of squared log gains is taken per channel (a rig's overall exposure is
/// kept: the gains' geometric mean over each connected group of cameras is 1). Cameras without
/// overlaps get 1. Gains are clamped to 1/16 .. 16.
std::vector<std::array<float, 3>> estimateGains(const std::vector<HostImage>& cameras,
                                                int minimumOverlap = 32);

/// Mean straight colour of a premultiplied RGBA camera over the pixels it sees (0 for none).
std::array<float, 3> meanColour(const HostImage& camera);

}  // namespace ImageStitcher
}  // namespace Kiln
