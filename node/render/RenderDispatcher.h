// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include "external/ComputeFramework.h"

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
/// views, the camera-view path for a camera view. The chosen device's context is bound to the
/// calling thread for the whole call. Failures a user can fix throw a MessageException with
/// the text the node shows.
///
/// This build serves the camera-view path for the default projection: the camera's input,
/// fetched with the requested channels. Cameras carry no warp grid yet, so a "Warped" camera
/// view equals its input. Panorama views, latlong camera projection and the stitch-map layer
/// need the projection and stitching kernels and are refused with a message saying so.
class RenderDispatcher {
public:
    explicit RenderDispatcher(PX::Image::Iop* node) : m_node(node) {}
    void attach(RigContext* rig, KnobManager* knobs);

    /// Fills `plane` for `outputView`. `cameraViews` are the rig's camera views in input
    /// order.
    void render(PX::Image::ImagePlane& plane,
                MultiViewManager& views,
                ComputeContext device,
                ComputeContext cpu,
                const std::vector<int>& cameraViews,
                int outputView);

private:
    void renderCameraView(PX::Image::ImagePlane& plane, MultiViewManager& views, int outputView);

    PX::Image::Iop* m_node;
    RigContext* m_rig = nullptr;
    KnobManager* m_knobs = nullptr;
};

}  // namespace Research
}  // namespace Korvane
