// SPDX-License-Identifier: Apache-2.0
#include "MatchTruth.h"

#include <cmath>

#include "ViewRenderer.h"

namespace Korvane {
namespace MakeRig {

using Korvane::Research::FeatureTrack;
using Korvane::Research::SphericalTransform;

MatchTruth::MatchTruth(const Scene& scene, const Korvane::Research::CameraRigDefinition& rig)
    : m_scene(scene) {
    for (int c = 0; c < rig.getNumberCameras(); ++c) m_cameras.emplace_back(rig.getCamera(c));
}

bool MatchTruth::depth(int camera, const Eigen::Vector2d& pixel, double* metres) const {
    if (camera < 0 || camera >= int(m_cameras.size())) return false;
    const SphericalTransform& transform = m_cameras[size_t(camera)];
    Eigen::Vector3d ray;
    Hit hit;
    if (!ViewRenderer::pixelRay(transform, pixel, &ray) ||
        !m_scene.intersect(transform.getCamera().getPosition(), ray, &hit))
        return false;
    *metres = hit.t;
    return true;
}

bool MatchTruth::isTrue(const FeatureTrack& match) const {
    const auto& features = match.getFeatures();
    if (features.size() < 2) return false;
    std::vector<Eigen::Vector3d> truePoints;
    bool depthsAgree = match.getPoint().getIsValid();
    for (const FeatureTrack::Observation& o : features) {
        double t;
        if (!depth(o.first, o.second.getPosition(), &t)) return false;
        const SphericalTransform& transform = m_cameras[size_t(o.first)];
        const Eigen::Vector3d& centre = transform.getCamera().getPosition();
        Eigen::Vector3d ray;
        ViewRenderer::pixelRay(transform, o.second.getPosition(), &ray);
        truePoints.push_back(centre + t * ray);
        const double along = (match.getPoint().getPosition() - centre).dot(ray);
        depthsAgree = depthsAgree && std::abs(along - t) <= kDepthTolerance * t;
    }
    if (depthsAgree) return true;
    for (size_t k = 1; k < features.size(); ++k) {
        Eigen::Vector2d image;
        if (!m_cameras[size_t(features[k].first)].ProjectFromWorld(truePoints[0], &image) ||
            (image - features[k].second.getPosition()).norm() > kImageTolerance)
            return false;
    }
    return true;
}

}  // namespace MakeRig
}  // namespace Korvane
