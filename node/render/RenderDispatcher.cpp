// SPDX-License-Identifier: Apache-2.0
#include "render/RenderDispatcher.h"

#include <cmath>

#include "base/Exception.h"
#include "plugin/KnobManager.h"
#include "plugin/MultiViewManager.h"
#include "plugin/RigContext.h"
#include "px/image/ImagePlane.h"
#include "px/image/Iop.h"
#include "px/image/OutputContext.h"
#include "render/WarpGridAtFrame.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;
using Korvane::Base::MessageException;

void RenderDispatcher::attach(RigContext* rig, KnobManager* knobs) {
    m_rig = rig;
    m_knobs = knobs;
}

void RenderDispatcher::render(ImagePlane& plane,
                              MultiViewManager& views,
                              ComputeContext device,
                              ComputeContext,
                              const std::vector<int>&,
                              int outputView) {
    Kiln::AutoContextThreadBinder binder(device);
    if (!m_rig || !m_knobs) throw MessageException("The node has no rig to render.");
    if (m_rig->isPanoramaView(outputView))
        throw MessageException("The panorama view '" + Views::name(outputView) +
                               "' cannot be rendered: stitching is not part of this build.");
    renderCameraView(plane, views, outputView);
}

void RenderDispatcher::renderCameraView(ImagePlane& plane,
                                        MultiViewManager& views,
                                        int outputView) {
    const int input = views.inputIndexOfView(outputView);
    if (input < 0)
        throw MessageException("View '" + Views::name(outputView) +
                               "' is not a camera view of the rig.");
    if (m_knobs->cameraProjectionType(true) == KnobManager::CameraProjection::Latlong)
        throw MessageException(
            "Latlong camera projection is not part of this build; set 'Cam Projection' to "
            "'Default (pass-through)'.");
    const ChannelSet stitch = plane.channels() & Mask_StitchMap;
    if (!stitch.empty())
        throw MessageException(
            "The stitch map layer cannot be rendered: it is not part of this build.");

    // Input fetch: the camera's input must hold every requested channel.
    Iop* in = m_node->validateInput(input);
    if (!in) throw MessageException("Input " + std::to_string(input) + " missing");
    const ChannelSet missing = plane.channels() - in->info().channels();
    if (!missing.empty())
        throw MessageException("Input " + std::to_string(input) + " missing " + missing.text());
    const Box& box = plane.bounds();
    ImagePlane source = m_node->fetchInput(input, box, plane.channels());
    if (!source.hasBuffer())
        throw MessageException("Input " + std::to_string(input) +
                               " could not be read: " + in->errorMessage());
    // Until the warp renderer lands, a warped camera view that has a warp is refused rather
    // than shown unwarped; without a grid the warp is the identity and the input is exact.
    const int frame = int(std::lround(m_node->outputContext().frame()));
    const int camera = m_rig->cameraIndexOfView(outputView);
    if (m_knobs->cameraOutputMode(true) == KnobManager::CameraOutputMode::Warped &&
        !m_knobs->addPoint(true) && m_knobs->gridMap() &&
        warpGridAtFrame(*m_knobs->gridMap(), frame, camera + 1))
        throw MessageException(
            "'Cam Warp' is 'Warped' but warped camera views cannot be "
            "rendered by this build; set 'Cam Warp' to 'Unwarped'.");
    const Box overlap = box.intersect(source.bounds());
    for (Channel c : plane.channels()) {
        const int to = plane.chanNo(c), from = source.chanNo(c);
        for (int y = overlap.y(); y < overlap.t(); ++y)
            for (int x = overlap.x(); x < overlap.r(); ++x)
                *plane.writableAt(x, y, to) = source.at(x, y, from);
    }
}

}  // namespace Research
}  // namespace Korvane
