// SPDX-License-Identifier: Apache-2.0
#include "ViewRenderer.h"

#include <algorithm>
#include <cmath>

namespace Korvane {
namespace MakeRig {

namespace {

/// Rotated-grid supersampling: no two samples share a row or a column of the pixel.
const Eigen::Vector2d kOffsets[ViewRenderer::kSamples] = {
    {-0.125, -0.375}, {0.375, -0.125}, {0.125, 0.375}, {-0.375, 0.125}};

}  // namespace

void ViewRenderer::cullChunk(const Scene& scene,
                             size_t first,
                             size_t last,
                             std::vector<int>* candidates) const {
    Eigen::Vector3d axis = Eigen::Vector3d::Zero();
    for (size_t p = first; p < last; ++p) axis += m_centreRays[p];
    if (axis.squaredNorm() == 0.0) {
        // No centre ray here: keep every shape.
        scene.coneCandidates(m_origin, Eigen::Vector3d::UnitZ(), 4.0, candidates);
        return;
    }
    axis.normalize();
    double minCos = 1.0;
    for (size_t p = first; p < last; ++p) {
        if (m_centreRays[p].squaredNorm() > 0.0)
            minCos = std::min(minCos, axis.dot(m_centreRays[p]));
        for (int s = 0; s < kSamples; ++s) {
            const Eigen::Vector3f& ray = m_sampleRays[p * kSamples + s];
            if (ray.squaredNorm() > 0.0f)
                minCos = std::min(minCos, axis.dot(ray.cast<double>().normalized()));
        }
    }
    scene.coneCandidates(m_origin, axis, std::acos(std::clamp(minCos, -1.0, 1.0)), candidates);
}

bool ViewRenderer::pixelRay(const Korvane::Research::SphericalTransform& transform,
                            const Eigen::Vector2d& image,
                            Eigen::Vector3d* ray) {
    Eigen::Vector3d world;
    if (!transform.ProjectToWorld(image, &world)) return false;
    *ray = (world - transform.getCamera().getPosition()).normalized();
    return true;
}

ViewRenderer::ViewRenderer(const Korvane::Research::SphericalTransform& transform,
                           const RowPool& pool)
    : m_width(transform.getCamera().getFormatWidth()),
      m_height(transform.getCamera().getFormatHeight()),
      m_origin(transform.getCamera().getPosition()) {
    const size_t pixels = static_cast<size_t>(m_width) * m_height;
    m_centreRays.assign(pixels, Eigen::Vector3d::Zero());
    m_sampleRays.assign(pixels * kSamples, Eigen::Vector3f::Zero());
    pool.run(m_height, [&](int j) {
        for (int i = 0; i < m_width; ++i) {
            const size_t index = static_cast<size_t>(j) * m_width + i;
            const Eigen::Vector2d centre(i + 0.5, j + 0.5);
            Eigen::Vector3d ray;
            if (pixelRay(transform, centre, &ray)) m_centreRays[index] = ray;
            for (int s = 0; s < kSamples; ++s)
                if (pixelRay(transform, centre + kOffsets[s], &ray))
                    m_sampleRays[index * kSamples + s] = ray.cast<float>();
        }
    });
}

RenderedView ViewRenderer::render(const Scene& scene, const RowPool& pool) const {
    RenderedView view;
    view.width = m_width;
    view.height = m_height;
    const size_t pixels = static_cast<size_t>(m_width) * m_height;
    view.rgb.assign(pixels * 3, 0.0f);
    view.depth.assign(pixels, 0.0f);
    pool.run(m_height, [&](int j) {
        const size_t outRow = static_cast<size_t>(m_height - 1 - j) * m_width;
        std::vector<int> candidates;
        for (int chunk = 0; chunk < m_width; chunk += kChunk) {
            const int end = std::min(m_width, chunk + kChunk);
            const size_t first = static_cast<size_t>(j) * m_width + chunk;
            const size_t last = static_cast<size_t>(j) * m_width + end;
            cullChunk(scene, first, last, &candidates);
            for (int i = chunk; i < end; ++i) {
                const size_t index = static_cast<size_t>(j) * m_width + i;
                Hit hit;
                if (m_centreRays[index].squaredNorm() > 0.0 &&
                    scene.intersect(m_origin, m_centreRays[index], candidates, &hit))
                    view.depth[outRow + i] = static_cast<float>(hit.t);
                Eigen::Vector3f sum = Eigen::Vector3f::Zero();
                for (int s = 0; s < kSamples; ++s) {
                    const Eigen::Vector3f& ray = m_sampleRays[index * kSamples + s];
                    if (ray.squaredNorm() == 0.0f) continue;
                    // Unit length again in double: float rounding would bias the hit distance.
                    if (scene.intersect(
                            m_origin, ray.cast<double>().normalized(), candidates, &hit))
                        sum += scene.shade(hit);
                }
                sum /= static_cast<float>(kSamples);
                for (int k = 0; k < 3; ++k) view.rgb[(outRow + i) * 3 + k] = sum[k];
            }
        }
    });
    return view;
}

}  // namespace MakeRig
}  // namespace Korvane
