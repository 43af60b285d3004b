// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "kiln/Image.h"
#include "render/kernels/StitchKernels.h"

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

/// A lens's radial falloff: the brightness at angle theta (radians) from the optical axis is
/// V(theta) = exp(a theta^2 + b theta^4) times the brightness on the axis. Past `reach` (the
/// largest angle the fit saw) V stays at V(reach): the polynomial is not trusted beyond its
/// data. The default is no falloff.
struct Vignetting {
    float a = 0.0f;
    float b = 0.0f;
    float reach = 0.0f;

    bool identity() const { return a == 0.0f && b == 0.0f; }
    /// ln V(theta).
    double logFalloff(double theta) const {
        const double t2 = std::min(theta, double(reach));
        const double u = t2 * t2;
        return (double(a) + double(b) * u) * u;
    }
};

/// Where an equirectangular grid's pixels look (AxisCosines): the grid spans the whole sphere
/// over width x height pixels from its origin.
struct PanoramaGrid {
    double originX = 0, originY = 0, width = 0, height = 0;

    /// The panorama's own pixels.
    static PanoramaGrid of(const Box& panorama) {
        return {double(panorama.x0),
                double(panorama.y0),
                double(panorama.width()),
                double(panorama.height())};
    }
    /// The pixels of the level that a pyramid reduce makes from this grid's level whose box is
    /// `fine`: coarse pixel i covers fine pixels fine.x0 + 2 (i - (fine.x0 >> 1)) and the next
    /// (so its centre moves by a fine pixel where fine.x0 is odd), likewise in y.
    PanoramaGrid reduced(const Box& fine) const {
        return {
            (originX - (fine.x0 & 1)) / 2, (originY - (fine.y0 & 1)) / 2, width / 2, height / 2};
    }
};

/// The cosine of the angle between a camera's optical axis and the view direction of every
/// pixel of a box of an equirectangular grid, from one term per column and two per row
/// (computed once): pixel (x, y) looks along (cos lat sin lon, sin lat, cos lat cos lon) with
/// lon = ((x + 0.5 - originX) / width * 2 - 1) pi and lat = ((y + 0.5 - originY) / height * 2
/// - 1) pi / 2, so the grid spans the whole sphere over width x height pixels from its origin.
/// A panorama's pyramid level k is the panorama's grid with origin and size divided by 2^k.
/// The axis is in the panorama's frame (see estimateExposure) and need not be of unit length;
/// a zero or non-finite one is unknown, and then every cosine is 1.
class AxisCosines {
public:
    AxisCosines(const std::array<float, 3>& axis,
                const Box& box,
                double originX,
                double originY,
                double width,
                double height);
    AxisCosines(const std::array<float, 3>& axis, const Box& box, const PanoramaGrid& grid)
        : AxisCosines(axis, box, grid.originX, grid.originY, grid.width, grid.height) {}
    /// The grid of a whole equirectangular image of width x height pixels, origin (0, 0).
    AxisCosines(const std::array<float, 3>& axis, int width, int height)
        : AxisCosines(axis, Box{0, 0, width, height}, 0, 0, width, height) {}

    bool known() const { return m_known; }
    const Box& box() const { return m_box; }
    /// The cosine at pixel (x, y) of the box (absolute), not clamped.
    double at(int x, int y) const {
        const std::size_t j = std::size_t(y - m_box.y0);
        return m_cosLatitude[j] * m_column[std::size_t(x - m_box.x0)] + m_up[j];
    }
    /// The terms: at(x, y) = cosLatitude(y) * column(x) + up(y).
    double column(int x) const { return m_column[std::size_t(x - m_box.x0)]; }
    double cosLatitude(int y) const { return m_cosLatitude[std::size_t(y - m_box.y0)]; }
    double up(int y) const { return m_up[std::size_t(y - m_box.y0)]; }

private:
    Box m_box;
    bool m_known = false;
    std::vector<double> m_column, m_cosLatitude, m_up;
};

/// 1 / V against cos theta, as the blending kernels read it (Kernels::inverseFalloffAt): entry
/// k of the first Kernels::kInverseFalloffSteps + 1 is 1 / V at cos theta = -1 + 2 k / steps,
/// and one more repeats the last.
std::vector<float> inverseFalloffTable(const Vignetting& vignetting);

/// Whether each camera gets its own falloff or the rig one falloff for all its cameras.
enum class VignettingModel { None, Shared, PerCamera };

/// What exposure compensation applies to a camera: its pixels are multiplied by
/// gain / V(theta), theta the angle between the pixel's direction and the camera's axis.
struct CameraExposure {
    std::array<float, 3> gain{1.0f, 1.0f, 1.0f};
    Vignetting vignetting;
};

/// Gains per camera and channel and a vignetting falloff that together equalise the cameras
/// where they overlap. `cameras` are premultiplied RGBA equirectangular images at one size
/// (the whole sphere: longitude -180 .. 180 degrees across, latitude -90 .. 90 from row 0
/// up). `axes` holds each camera's optical axis in the panorama's frame (the direction of
/// longitude 0, latitude 0 is +z, +y is up, longitude 90 is +x); an empty list or a zero
/// axis means the axis is unknown, and that camera gets no falloff.
///
/// For every two cameras, the pixels both fully see are put in bins of their angles from the
/// two axes (4 degrees square); a pair with at least `minimumOverlap` such pixels contributes
/// every bin's mean straight colours m_i, m_j, which ask for
///   log g_i - log g_j - ln V_i(theta_i) + ln V_j(theta_j) = log(m_j / m_i)
/// per channel, weighted by the bin's pixel count. The falloff is shared by the channels.
/// Robust least squares (Huber, scale from the median residual, reweighted 6 times); a
/// small pull of every unknown toward 0 keeps a rig's overall exposure (the log gains of each
/// connected group of cameras sum to about 0) and keeps the falloff at none where the angles
/// do not tell it apart from the gains. Cameras without overlaps get gain 1. Gains are
/// clamped to 1/16 .. 16. When a falloff's correction would pass 8 times within its reach,
/// the overlaps are taken to say nothing believable about the lenses: gains alone.
std::vector<CameraExposure> estimateExposure(const std::vector<HostImage>& cameras,
                                             const std::vector<std::array<float, 3>>& axes,
                                             VignettingModel model,
                                             int minimumOverlap = 32);

/// The gains alone (estimateExposure without axes).
std::vector<std::array<float, 3>> estimateGains(const std::vector<HostImage>& cameras,
                                                int minimumOverlap = 32);

/// Multiplies the straight colour of every pixel of `image` by 1 / V(theta) of the camera
/// with `axis` (see estimateExposure), in place; `panorama` is the box of the whole
/// equirectangular panorama the image's pixels lie on. Host-addressable float RGBA images
/// only (premultiplied colour scales the same way). The second form takes the grid of the
/// image's pixels (a pyramid level's, say).
void removeVignetting(Image& image,
                      const PanoramaGrid& grid,
                      const std::array<float, 3>& axis,
                      const Vignetting& vignetting);
inline void removeVignetting(Image& image,
                             const Box& panorama,
                             const std::array<float, 3>& axis,
                             const Vignetting& vignetting) {
    if (!panorama.empty()) removeVignetting(image, PanoramaGrid::of(panorama), axis, vignetting);
}

/// The run of columns around a circle of `marked.size()` that holds every marked one: it
/// starts right after the widest run of unmarked columns. Returns its first column and its
/// length (the run may pass the last column and go on from column 0); {0, 0} when no column
/// is marked, {0, n} when no column is unmarked.
std::pair<int, int> circularRun(const std::vector<char>& marked);

/// Mean straight colour of a premultiplied RGBA camera over the pixels it sees (0 for none).
std::array<float, 3> meanColour(const HostImage& camera);
/// The same with the lens's falloff divided out: `camera` spans the whole panorama, its lens
/// looks along `axis`.
std::array<float, 3> meanColour(const HostImage& camera,
                                const std::array<float, 3>& axis,
                                const Vignetting& vignetting);

}  // namespace ImageStitcher
}  // namespace Kiln
