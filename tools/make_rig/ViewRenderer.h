// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include <Eigen/Core>

#include "RowPool.h"
#include "Scene.h"
#include "vellacam/SphericalTransform.h"

namespace Korvane {
namespace MakeRig {

/// One rendered view. Rows are stored top row first, as image files store them: element
/// (row r, column i) is pixel (i, height - 1 - r) of the rig library's bottom-up convention.
struct RenderedView {
    int width = 0;
    int height = 0;
    std::vector<float> rgb;    ///< linear RGB, 3 floats per pixel
    std::vector<float> depth;  ///< metres from the view's origin along the pixel-centre ray
};

/// Renders one view (a rig camera, or a latlong view at the rig centre) of the scene. The rays
/// come from the rig library's SphericalTransform, so the images follow its projection model
/// exactly: the ray of image position p is the direction from the camera position to
/// ProjectToWorld(p). They are computed once (the rig does not move) and reused for every
/// frame: a centre ray per pixel in double precision, which gives the depth, and four rays in
/// a rotated grid (offsets +-1/8 and +-3/8 of a pixel) whose colours are averaged.
/// A pixel without a ray is black with depth 0.
class ViewRenderer {
public:
    ViewRenderer(const Korvane::Research::SphericalTransform& transform, const RowPool& pool);

    RenderedView render(const Scene& scene, const RowPool& pool) const;

    /// Unit rig-frame ray from the camera position through image position `image`.
    static bool pixelRay(const Korvane::Research::SphericalTransform& transform,
                         const Eigen::Vector2d& image,
                         Eigen::Vector3d* ray);

    static constexpr int kSamples = 4;

private:
    /// Pixels are rendered in runs of kChunk along a row; each run tests only the shapes whose
    /// bounding spheres meet the cone around its rays.
    static constexpr int kChunk = 16;
    void cullChunk(const Scene& scene,
                   size_t first,
                   size_t last,
                   std::vector<int>* candidates) const;

    int m_width;
    int m_height;
    Eigen::Vector3d m_origin;
    std::vector<Eigen::Vector3d> m_centreRays;  ///< bottom row first; zero where none
    std::vector<Eigen::Vector3f> m_sampleRays;  ///< kSamples per pixel; zero where none
};

}  // namespace MakeRig
}  // namespace Korvane
