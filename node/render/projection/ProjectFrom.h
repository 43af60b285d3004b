// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/CameraProjector.h"

namespace Kiln {
namespace ImageProjection {

/// The other side projected into a camera: the panorama (other type 2 or 3) seen through the
/// camera (a virtual rectilinear or fisheye view, or a rig camera), or an ideal image of the
/// camera back into its own lens. The source is the other side, the destination the camera.
class ProjectFrom : public CameraProjector<Projector, true> {
public:
    using CameraProjector::CameraProjector;
    bool run(Image& destination, const Image& source, const Size& destinationSize) override;
};

}  // namespace ImageProjection
}  // namespace Kiln
