// SPDX-License-Identifier: Apache-2.0
#include "render/WarpRenderer.h"

#include "analysis/GridMapKnob.h"
#include "kiln/Kernels.h"
#include "plugin/KnobManager.h"
#include "plugin/RigContext.h"
#include "px/image/Iop.h"
#include "render/WarpGridAtFrame.h"
#include "render/kernels/RenderKernels.h"

namespace Korvane {
namespace Research {

namespace IP = Kiln::ImageProjection;

const CameraRigDefinition& WarpRenderer::rig() const { return m_rig->rig(); }

IP::CameraRecord WarpRenderer::cameraRecord(int camera) const {
    return IP::cameraRecord(rig().getCamera(camera));
}

IP::LensRecord WarpRenderer::lensRecord(int camera) const {
    return IP::lensRecord(rig().getCamera(camera));
}

IP::ParallaxRecord WarpRenderer::parallaxRecord(int) const {
    IP::ParallaxRecord parallax;
    parallax.origin = {0.0f, 0.0f, 0.0f};
    parallax.depth = m_knobs->convergenceDepth(true);
    return parallax;
}

std::shared_ptr<Grid2D> WarpRenderer::grid(int camera, int frame) const {
    const GridMapKnob* store = m_knobs ? m_knobs->gridMap() : nullptr;
    return store ? warpGridAtFrame(*store, frame, camera + 1) : nullptr;
}

namespace {

// The grid's vertices as a framework image, one pixel a vertex (DensifyGrid.h).
Kiln::Image vertexImage(const Grid2D& g, const Kiln::Compute::DevicePtr& device) {
    Kiln::Image vertices(Kiln::Info{Kiln::Box{0, 0, g.width, g.height}, 2}, device);
    for (int j = 0; j < g.height; ++j) {
        float* row = reinterpret_cast<float*>(vertices.row(j));
        for (int i = 0; i < g.width; ++i) {
            row[2 * i] = float(g.at(i, j).x());
            row[2 * i + 1] = float(g.at(i, j).y());
        }
    }
    return vertices;
}

}  // namespace

Kiln::Image WarpRenderer::warpPositions(
    int camera, int frame, const Kiln::Box& box, float scaleX, float scaleY) const {
    Kiln::Image positions(Kiln::Info{box, 2}, device());
    const std::shared_ptr<Grid2D> g = grid(camera, frame);
    if (!g) {
        Kiln::Kernels::resetImage(positions);
    } else {
        const IP::Size size = cameraSize(camera);
        Kernels::densifyGrid(vertexImage(*g, device()),
                             positions,
                             float(size.width) * scaleX,
                             float(size.height) * scaleY,
                             scaleX,
                             scaleY);
    }
    Kernels::convertVectors(positions, positions, Kernels::VectorMode::ToPositions);
    return positions;
}

bool WarpRenderer::warpsInPanorama(int camera) const {
    if (rig().getCamera(camera).getProjection() == ProjectionTypeEnum::Latlong) return false;
    const bool panoramaUI = m_rig->isPanoramaView(m_node->uiContext().view());
    const KnobManager::CameraOutputMode mode =
        panoramaUI ? m_knobs->outputMode(true) : m_knobs->cameraOutputMode(true);
    return mode == KnobManager::CameraOutputMode::Warped;
}

void WarpRenderer::cameraPositions(Kiln::Image& positions,
                                   int camera,
                                   int frame,
                                   const IP::Size& panorama) {
    CommonPanoramaRenderer::cameraPositions(positions, camera, frame, panorama);
    if (!warpsInPanorama(camera)) return;
    const std::shared_ptr<Grid2D> g = grid(camera, frame);
    if (!g) return;
    // Each projected position p becomes p + D(p) straight from the grid: the same positions as
    // composing with the dense warp image, without making it (a camera's frame of vectors) or
    // interpolating it between its pixel centres.
    const IP::Size size = cameraSize(camera);
    Kernels::warpPositionsByGrid(
        vertexImage(*g, device()), positions, float(size.width), float(size.height), 1.0f, 1.0f);
}

}  // namespace Research
}  // namespace Korvane
