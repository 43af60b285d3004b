// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include <Eigen/Core>

#include "Scene.h"
#include "vellacam/CameraRigDefinition.h"
#include "vellacam/FeatureTrack.h"
#include "vellacam/SphericalTransform.h"

namespace Korvane {
namespace MakeRig {

/// The ground truth of camera matches on synthetic footage: every ray is cast into the scene
/// the footage was rendered from, so depths are exact at any sub-pixel position (the depth maps
/// in truth/ hold pixel centres only).
class MatchTruth {
public:
    static constexpr double kDepthTolerance = 0.02;  ///< share of the true depth
    static constexpr double kImageTolerance = 1.5;   ///< pixels

    /// `scene` posed for the frame of the matches (Scene::atFrame), `rig` the rig it was
    /// rendered with. Both must outlive the object.
    MatchTruth(const Scene& scene, const Korvane::Research::CameraRigDefinition& rig);

    /// Distance in metres from camera `camera`'s position to the first surface along the ray
    /// of `pixel`; false when the pixel has no ray.
    bool depth(int camera, const Eigen::Vector2d& pixel, double* metres) const;

    /// A match is true when its point lies within kDepthTolerance of the true depth along the
    /// ray of each of its observations, or when the true surface point of its first observation
    /// projects within kImageTolerance pixels of each other observation. A match with a camera
    /// outside the rig or a position without a ray is false.
    bool isTrue(const Korvane::Research::FeatureTrack& match) const;

private:
    const Scene& m_scene;
    std::vector<Korvane::Research::SphericalTransform> m_cameras;
};

}  // namespace MakeRig
}  // namespace Korvane
