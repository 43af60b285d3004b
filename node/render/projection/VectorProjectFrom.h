// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/CameraProjector.h"

namespace Kiln {
namespace ImageProjection {

/// The positions of ProjectFrom: for each pixel of the camera, the point of the other side it
/// shows.
class VectorProjectFrom : public CameraProjector<VectorProjector, true> {
public:
    using CameraProjector::CameraProjector;
    bool run(Image& positions, const Size& destinationSize) override;

protected:
    bool sourceIsPanorama() const override { return sourceSideIsPanorama(); }
};

}  // namespace ImageProjection
}  // namespace Kiln
