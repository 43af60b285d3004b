// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "analysis/Grid2D.h"
#include "render/CommonPanoramaRenderer.h"

namespace Korvane {
namespace Research {

/// The node's renderer: cameras described by the rig metadata and the knobs, warped by their
/// solved grids.
///
/// Records: the camera-model and lens records are the rig camera's (focal length, sensor,
/// pixel aspect, pose, projection, distortion, centre shift, undistort flag, enabled); the
/// parallax record puts the convergence sphere of `convergenceDepth` metres about the rig
/// centre, the origin of the rig frame.
///
/// The warp of a camera at a frame is its grid at that frame (warpGridAtFrame), densified
/// through the warp solver's triangles over the camera's input frame (scaled by the render's
/// proxy scale) and converted to positions: the warped camera shows at q the input at
/// q + D(q). A camera without a grid has the identity warp.
class WarpRenderer : public CommonPanoramaRenderer {
public:
    using CommonPanoramaRenderer::CommonPanoramaRenderer;

    const CameraRigDefinition& rig() const override;
    Kiln::ImageProjection::CameraRecord cameraRecord(int camera) const override;
    Kiln::ImageProjection::LensRecord lensRecord(int camera) const override;
    Kiln::ImageProjection::ParallaxRecord parallaxRecord(int camera) const override;

    /// Adds the warp when the camera is warped in the panorama (warpsInPanorama).
    void cameraPositions(Kiln::Image& positions,
                         int camera,
                         int frame,
                         const Kiln::ImageProjection::Size& panorama) override;

    /// The grid of `camera` at `frame`; null when it has none.
    std::shared_ptr<Grid2D> grid(int camera, int frame) const;
    /// The warp's positions (2 float channels) over `box` of the camera's frame: q + D(q),
    /// D scaled by (scaleX, scaleY); q itself where the camera has no grid.
    Kiln::Image warpPositions(int camera,
                              int frame,
                              const Kiln::Box& box,
                              float scaleX = 1.0f,
                              float scaleY = 1.0f) const;
    /// True when the panorama shows `camera` warped: its projection is not latlong and the
    /// mode knob says "Warped" (`outputMode` while the user looks at a panorama view, else
    /// `cameraOutputMode`).
    bool warpsInPanorama(int camera) const;
};

}  // namespace Research
}  // namespace Korvane
