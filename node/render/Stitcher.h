// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <map>
#include <utility>
#include <vector>

#include "base/Exception.h"
#include "kiln/Box.h"
#include "kiln/Image.h"
#include "render/StitchAnalysis.h"
#include "render/VectorFieldStitch.h"

namespace Kiln {
namespace ImageStitcher {

/// A build that cannot run; the message is for the user and names the camera or setting.
class StitchError : public Korvane::Base::MessageException {
public:
    using MessageException::MessageException;
};

enum class BlendType { Alpha = 0, MultiBand = 1, SphericalMultiBand = 2 };

/// Merges cameras already projected into the equirectangular panorama into one panorama.
///
/// Inputs: each camera of the camera list as premultiplied float RGBA over a box inside the
/// output box (colour times alpha; alpha is the part of the pixel the camera sees, 0 outside
/// its frame or fisheye circle; the camera is transparent outside its box), on one device;
/// optionally the linked camera pairs. A camera seen over a small part of the panorama is
/// best given over cameraBox() of that part. A fresh stitcher is
/// configured by its setters and run by build(); the panorama path keeps one between builds.
///
/// Build: (1) every camera is checked and shrunk to the analysis size (a quarter of the
/// panorama) and, with links, to the vector grid; (2) exposure gains per camera and channel
/// and a vignetting falloff per camera are estimated from the overlaps (when on); (3) with links
/// and a vector grid of at least 2 rows, the vector-field stitch aligns the overlaps and each
/// camera is resampled through its field; (4) cameras are blended, each divided by its falloff
/// (where its axis is known) and multiplied by its gains as it is read:
/// - Alpha: feathered weights, each camera's distance to its own boundary, at full resolution;
///   the result stays inside the cameras' alpha.
/// - Multi-Band: every pixel belongs to the camera that lies deepest inside its own frame
///   there; these binary masks are blurred by Gaussian pyramids and blend the cameras'
///   Laplacian bands down to the smallest level size. Each camera's pyramid is filled outside
///   its footprint from its own coarser levels first (pull-push), so no black from outside a
///   frame or fisheye circle enters any band. With expand, areas no camera sees take the
///   coarse levels' fill and alpha 1; without, the result is cut to the cameras' alpha.
/// - Spherical Multi-Band: the same with spherical pyramids (longitude wraps, poles join).
///
/// Output: the panorama, premultiplied float RGBA over the output box, on the cameras' device.
/// Not thread-safe. An object may build again (new images, settings or frame): its working
/// images (pyramids, weights, accumulators, labels) stay alive between builds and are reused
/// when the next build needs the same sizes, so a stream of frames allocates nothing new.
/// The panorama is a fresh image every build (callers may keep it); seamLabels() and
/// alignedCamera() are valid until the next build.
class Stitcher {
public:
    Stitcher() = default;

    /// The panorama's box (the output format); 2048 x 1024 at (0, 0) until set.
    void setOutputBox(const Box& box) { m_outputBox = box; }
    /// Vector detail d in 0 .. 1: the vector field lives on a grid of h = floor(1024 d + 0.5)
    /// rows and floor(2 h + 0.5) columns (0.4 gives 820 x 410).
    void setVectorDetail(float detail);
    void setBlendType(BlendType type) { m_blendType = type; }
    /// At least 1; the pyramids stop before a level's smaller side would fall below it.
    void setSmallestLevelSize(int size) { m_smallestLevelSize = std::max(1, size); }
    void setExpand(bool expand) { m_expand = expand; }
    /// On by default.
    void setExposureCompensation(bool on) { m_exposureCompensation = on; }
    /// The cameras to blend, by camera index, in order.
    void setCameraList(const std::vector<int>& cameras) { m_cameras = cameras; }
    /// The projected image of camera `camera` (see the class comment); replaces an earlier one.
    void setCameraImage(int camera, const Image& rgba) { m_images[camera] = rgba; }
    /// Camera `camera`'s optical axis in the panorama's frame (estimateExposure says how it is
    /// read), for its vignetting; without one, or a zero one, the camera gets gains alone.
    void setCameraAxis(int camera, const std::array<float, 3>& axis) { m_axes[camera] = axis; }
    /// Whether the cameras share one vignetting falloff or each has its own; Shared by default.
    void setVignettingModel(VignettingModel model) { m_vignettingModel = model; }
    /// Linked camera pairs (camera indices) that the vector-field stitch aligns; none: no
    /// vector field.
    void setLinks(const std::vector<std::pair<int, int>>& links) { m_links = links; }

    const Box& outputBox() const { return m_outputBox; }
    const Box& vectorFieldBox() const { return m_vectorFieldBox; }
    float vectorDetail() const { return m_vectorDetail; }
    BlendType blendType() const { return m_blendType; }
    int smallestLevelSize() const { return m_smallestLevelSize; }
    bool expand() const { return m_expand; }
    bool exposureCompensation() const { return m_exposureCompensation; }

    /// The vector-field box of a vector detail: (0, 0, w, h) as setVectorDetail says.
    static Box vectorFieldBoxFor(float detail);

    /// The box to give the image of a camera that shows nothing outside `seen` (panorama
    /// pixels; one passing the left or right edge wraps around, and takes whole rows), for the
    /// current output box and settings: `seen` grown by what a build reads around the camera's
    /// footprint (the Multi-Band work box; the vector field's reach as far as the last build's
    /// field moved), in whole analysis pixels, rows beyond the panorama cut and whole rows
    /// where it passes the longitude seam, from an even origin. Over it the build reads the
    /// image in place and makes the same bits as from a full-size image; an image over less
    /// is read through copies of parts of it, the same up to rounding.
    Box cameraBox(const Box& seen) const;

    /// Runs the build. Throws StitchError naming the camera whose image is missing, not
    /// 4-channel float, empty or reaching outside the output box, or on another device, or when
    /// the camera list or the output box is empty; kernel failures throw KernelError.
    void build();

    /// After build(): the panorama.
    const Image& panorama() const { return m_panorama; }
    /// After build(): a camera's gains (1 when compensation is off or it has no overlap).
    std::array<float, 3> gains(int camera) const;
    /// After build(): a camera's vignetting falloff (none when compensation is off, its axis
    /// unknown or the overlaps do not show one).
    Vignetting vignetting(int camera) const;
    /// After build(): a camera's vector field on the vector-field box, 2 float channels, in
    /// panorama pixels, backward (the aligned camera shows at q what it showed at q + D(q));
    /// empty when no field was computed.
    Image vectorField(int camera) const;
    /// After build(): a camera's image as blended (after the vector field and the vignetting
    /// correction; the gains are applied while blending), over the box of its image, aligned
    /// by a field over the part of the panorama the camera can show (transparent beyond it;
    /// whole rows where that part crosses the longitude seam). The
    /// blend divides the falloff out as it reads each camera: a camera with a falloff is
    /// corrected here, into a new image over its footprint, on every call.
    Image alignedCamera(int camera) const;
    const VectorFieldStats& vectorFieldStats() const { return m_stats; }
    /// After build(): per pixel (deepest feather weight, its camera, coverage, 0); the camera
    /// changes across the seams that multi-band blending follows. A Multi-Band build with
    /// expand blends from labels without coverage: these are then drawn on the first call.
    const Image& seamLabels() const;

private:
    struct Camera {
        int index = 0;
        Image image;         ///< the projected input, then the aligned image
        HostImage analysis;  ///< at analysis size
        Image feather;       ///< distance to its boundary, at analysis size
        std::array<float, 3> gain{1, 1, 1};
        std::array<float, 3> axis{0, 0, 0};  ///< optical axis; zero when unknown
        Vignetting vignetting;
        Image field;
        /// A box holding every pixel the camera sees; one seen at both sides of the panorama
        /// passes its right edge (the columns around the longitude seam), or spans whole rows.
        Box footprint;
    };

    /// A working image kept between builds (see the class comment).
    struct Buffer {
        Image image;
        bool taken = false;  ///< in use by the current step
        bool used = false;   ///< taken during the current build
    };

    /// A working image of `box` and `channels` floats on `device`: a free kept one of that
    /// exact shape, else a new one. Cleared to zero when `clear`. Taken until releaseBuffers.
    Image workImage(const Box& box, int channels, const Compute::DevicePtr& device, bool clear);
    /// Gives back every taken working image for reuse by later steps of the same build.
    void releaseBuffers();
    /// Drops kept images the build just finished did not use (sizes that changed).
    void trimBuffers();

    /// The analysis images' box: an eighth of the output box a side.
    Box analysisBox() const;
    /// The analysis pixels whose areas meet `box` (panorama pixels).
    Box analysisCells(const Box& box) const;
    void prepare();
    void computeVectorField();
    /// Feather (analysis) pixels per panorama pixel, in x and y.
    std::array<float, 2> featherScale() const;
    /// The falloff image (StitcherKernels.h) of camera `c` over `box` of `grid` (the panorama's
    /// pixels or a pyramid level's); empty when the camera has no falloff.
    Image falloffImage(const Camera& c, const Box& box, const PanoramaGrid& grid) const;
    void blendAlpha(Image& label);
    void blendMultiBand(Image& label);
    /// Draws every camera's seam label into `label` (cleared; 4 or 2 channels).
    void drawSeamLabels(Image& label) const;
    /// Draws camera `c`'s seam label into `label` over its footprint.
    void seamLabel(const Camera& c, Image& label) const;
    Box seenBox(const HostImage& analysis) const;

    Box m_outputBox{0, 0, 2048, 1024};
    Box m_vectorFieldBox{0, 0, 2048, 1024};
    float m_vectorDetail = 1.0f;
    BlendType m_blendType = BlendType::Alpha;
    int m_smallestLevelSize = 16;
    bool m_expand = true;
    bool m_exposureCompensation = true;
    std::vector<int> m_cameras;
    std::map<int, Image> m_images;
    std::map<int, std::array<float, 3>> m_axes;
    VignettingModel m_vignettingModel = VignettingModel::Shared;
    std::vector<std::pair<int, int>> m_links;

    std::vector<Camera> m_work;
    /// The kept working images belong to one object: a copy starts with none, so two copies
    /// never write into each other's images.
    struct Buffers : std::vector<Buffer> {
        Buffers() = default;
        Buffers(const Buffers&) : std::vector<Buffer>() {}
        Buffers(Buffers&&) = default;
        Buffers& operator=(const Buffers&) {
            clear();
            return *this;
        }
        Buffers& operator=(Buffers&&) = default;
        ~Buffers() = default;
    };
    Buffers m_buffers;
    Box m_analysisBox;
    Image m_panorama;
    Image m_label;              ///< the labels the build blended from (4 or 2 channels)
    mutable Image m_fullLabel;  ///< seamLabels() when m_label has 2 channels
    VectorFieldStats m_stats;
};

}  // namespace ImageStitcher
}  // namespace Kiln
