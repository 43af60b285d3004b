// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "external/ComputeFramework.h"
#include "px/image/Channel.h"
#include "render/PanoramaCache.h"
#include "render/Stitcher.h"
#include "render/WarpRenderer.h"

namespace PX {
namespace Image {
class ImagePlane;
class Iop;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

class KnobManager;
class MultiViewManager;
class RigContext;

/// Turns one plane request of the node into pixels: the panorama path for the panorama output
/// views ("main", "left", "right"), the camera-view path for a camera view. The chosen
/// device's context is bound to the calling thread for the whole call; renders of one node
/// run one at a time. Failures a user can fix throw a MessageException with the text the node
/// shows.
///
/// Camera views (frame rounded half away from zero):
/// - "Cam Projection" "Latlong": the camera alone in the panorama (warped by the panorama's
///   rule, WarpRenderer::warpsInPanorama), turned by the inverse view rotation;
/// - otherwise the input, warped through the camera's grid when "Cam Warp" is "Warped" and
///   edit mode (`addPoint`) is off; a rig of latlong cameras is turned by the inverse view
///   rotation.
/// The stitch-map layer holds, for each output pixel, the input position it shows (q + D(q)
/// in input pixels; q itself for a camera without a grid); -1 where it shows nothing.
///
/// Panorama views: the cameras (all of them, or the one `outputView` selects) projected into
/// the panorama of the Format knob, blended by the stitcher with the blending knobs; with
/// "Warped" in the viewer's `outputMode` and panorama views both requested and selected, each
/// camera is warped and the linked camera pairs enter the vector-field stitch. The blended
/// panorama is cached per channel set and panorama hash (everything but the view navigation),
/// so turning or zooming the view projects the cached panorama again. The view projection:
/// "Spherical" turns the panorama by the inverse view rotation; "Rectilinear" and "Fisheye"
/// look at it through a virtual camera (sensor, zoomed focal length, view rotation). A camera
/// whose input lacks colour or alpha is left out with a warning naming the input; the rest
/// renders.
class RenderDispatcher {
public:
    explicit RenderDispatcher(PX::Image::Iop* node) : m_node(node), m_renderer(node) {}
    void attach(RigContext* rig, KnobManager* knobs);

    /// Fills `plane` for `outputView`. `cameraViews` are the rig's camera views in input
    /// order.
    void render(PX::Image::ImagePlane& plane,
                MultiViewManager& views,
                ComputeContext device,
                ComputeContext cpu,
                const std::vector<int>& cameraViews,
                int outputView);

    const PanoramaCache& panoramaCache() const { return m_cache; }
    /// Forgets the cached panorama (benchmarks time the build).
    void clearPanoramaCache() { m_cache.clear(); }
    WarpRenderer& renderer() { return m_renderer; }

private:
    void renderCameraView(PX::Image::ImagePlane& plane, int outputView);
    void renderPanoramaView(PX::Image::ImagePlane& plane,
                            const std::vector<int>& cameraViews,
                            int outputView);
    /// The blended panorama of `cameraViews`, from the cache or built.
    Kiln::Image panorama(const std::vector<int>& cameraViews,
                         bool linked,
                         const PX::Image::ChannelSet& channels);
    /// What the panorama depends on: every knob but the view navigation's, the inputs, the rig.
    uint64_t panoramaHash(const std::vector<int>& cameraViews, bool linked) const;
    /// `panorama` shown through the view projection into `plane`.
    void viewProjection(const Kiln::Image& panorama, PX::Image::ImagePlane& plane);
    /// `image` (a whole panorama) turned by the inverse view rotation, in place.
    void rotateByView(Kiln::Image& image);
    int frame() const;
    Kiln::ImageProjection::Size panoramaSize() const;
    /// The linked pairs among `cameras` whose overlaps the vector field aligns.
    const std::vector<std::pair<int, int>>& overlappingPairs(const std::vector<int>& cameras);

    PX::Image::Iop* m_node;
    RigContext* m_rig = nullptr;
    KnobManager* m_knobs = nullptr;
    WarpRenderer m_renderer;
    PanoramaCache m_cache;
    /// The panorama's stitcher, kept with its working images between builds.
    Kiln::ImageStitcher::Stitcher m_stitcher;
    /// Each camera projected into the panorama over its own box, by camera index, kept between
    /// builds.
    std::map<int, Kiln::Image> m_cameraImages;
    /// overlappingPairs' last answer and what it was for.
    std::vector<std::pair<int, int>> m_pairs;
    std::optional<uint64_t> m_pairsHash;
    /// The view projection's output for planes it cannot be written into directly (another
    /// layout or device), kept between renders.
    Kiln::Image m_viewImage;
    std::mutex m_renderMutex;
};

}  // namespace Research
}  // namespace Korvane
