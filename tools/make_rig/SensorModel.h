// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include <Eigen/Core>

#include "RigOptions.h"
#include "RowPool.h"
#include "ViewRenderer.h"
#include "vellacam/CameraRigDefinition.h"

namespace Korvane {
namespace MakeRig {

/// What a real camera does to the light of the scene after the lens: per-camera exposure and
/// white balance, vignetting about the optical centre, the dark lens housing outside an image
/// circle, and sensor noise (options in RigOptions). The colour of one surface point so differs
/// from camera to camera, as in real footage. Noise is hashed from the seed, the camera, the
/// frame and the pixel, so the output does not depend on the thread count.
class SensorModel {
public:
    /// Linear value of the lens housing outside an image circle.
    static constexpr float kHousing = 0.01f;

    SensorModel(const RigOptions& options, const Korvane::Research::CameraRigDefinition& rig);

    /// False when every effect is off: images are then left as rendered.
    bool active() const { return m_active; }
    /// Red, green, blue gain of camera `c` (exposure times white balance).
    const Eigen::Vector3f& gain(int c) const { return m_gain[size_t(c)]; }

    /// Applies the effects to the colour of camera `c`'s view at `frame` (the depth is kept).
    void apply(int c, int frame, RenderedView* view, const RowPool& pool) const;

private:
    struct Lens {
        Eigen::Vector2d centre;  ///< optical centre, library pixels
        double radius;           ///< where the vignetting reaches its full amount
        bool circle;
        Eigen::Vector2d circleCentre;
        double circleRadius;
    };
    bool m_active = false;
    double m_vignetting;
    double m_noise;
    unsigned long long m_seed;
    std::vector<Eigen::Vector3f> m_gain;
    std::vector<Lens> m_lens;
};

}  // namespace MakeRig
}  // namespace Korvane
