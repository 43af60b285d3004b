// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/CameraProjector.h"

namespace Kiln {
namespace ImageProjection {

/// The positions of ProjectTo: for each pixel of the other side, the point of the camera image
/// it shows.
class VectorProjectTo : public CameraProjector<VectorProjector, false> {
public:
    using CameraProjector::CameraProjector;
    bool run(Image& positions, const Size& destinationSize) override;

protected:
    bool sourceIsPanorama() const override { return sourceSideIsPanorama(); }
};

}  // namespace ImageProjection
}  // namespace Kiln
