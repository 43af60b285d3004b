// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/CameraProjector.h"

namespace Kiln {
namespace ImageProjection {

/// A camera image projected into the other side: the panorama (other type 2 or 3) or an
/// ideal, distortion-free image of the camera through a lens of type 0 or 1. The source is
/// the camera image (frame: the camera format), the destination the other side.
class ProjectTo : public CameraProjector<Projector, false> {
public:
    using CameraProjector::CameraProjector;
    bool run(Image& destination, const Image& source, const Size& destinationSize) override;
};

}  // namespace ImageProjection
}  // namespace Kiln
