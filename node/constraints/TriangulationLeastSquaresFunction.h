// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include <Eigen/Core>

#include "external/RigLibrary.h"

namespace Korvane {
namespace Research {

/// What the triangulation of a camera match needs of the rig: one transform per camera (indexed
/// by camera index) and the factor by which its RMS error in pixels is stored. The factor
/// puts errors of footage of any width on the scale of 2048 * sqrt(2) pixels across, so one
/// warpThreshold serves every resolution; a context without cameras has factor 1.
struct TriangulationContext {
    static constexpr double kErrorScaleWidth = 2896.309375740099;  ///< 2048 * sqrt(2)

    TriangulationContext() = default;
    /// `width`: pixels across input 0's full-size format; not positive gives factor 1.
    TriangulationContext(std::vector<SphericalTransform> transforms, int width);

    std::vector<SphericalTransform> cameras;
    double errorScale = 1.0;
};

/// The residuals of one camera match for a candidate rig-frame point (metres): for each
/// observation whose camera the context has, observed position minus the point's image in
/// that camera, x then y, in pixels. Where the camera cannot image the point (off its frame,
/// behind it) the residual is the angle between the observation's ray and the direction to the
/// point, along two axes square to that ray, times the camera's pixels per radian at the
/// observation: close to the pixel residual near the frame, and still pointing the minimiser
/// back into view. Three unknowns, no analytic gradient.
class TriangulationLeastSquaresFunction {
public:
    TriangulationLeastSquaresFunction(const std::vector<SphericalTransform>& cameras,
                                      const FeatureTrack& match);

    int numberOfUnknowns() const { return 3; }
    /// Twice the number of usable observations.
    int numberOfResiduals() const { return 2 * int(m_observations.size()); }
    /// `residuals` is resized to numberOfResiduals().
    void f(const Eigen::Vector3d& point, Eigen::VectorXd* residuals) const;

private:
    struct Observation {
        const SphericalTransform* camera;
        Eigen::Vector2d position;
        Eigen::Vector3d centre;  ///< camera position, rig frame
        Eigen::Vector3d ray;     ///< unit ray of the observed position (zero: none)
        Eigen::Vector3d axisU;   ///< unit axes square to the ray
        Eigen::Vector3d axisV;
        double pixelsPerRadian;
    };
    std::vector<Observation> m_observations;
};

/// Refines the 3D point of `match`: Levenberg-Marquardt without gradient (MINPACK's method,
/// forward finite differences with epsfcn 1e-9, ftol 1e-6, xtol 1e-8, gtol 1e-5, at most 1200
/// evaluations) from the match's point, or, when it has none, from the point nearest to its
/// rays. The result is stored whether or not the minimiser converged, with RMSE = the RMS of
/// the final residual vector times the context's error scale. False, and the match unchanged,
/// for fewer than 2 observations of cameras the context has.
bool triangulateMatch(const TriangulationContext& context, FeatureTrack& match);

}  // namespace Research
}  // namespace Korvane
