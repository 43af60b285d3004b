// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "Scene.h"
#include "vellacam/CameraRigDefinition.h"
#include "vellacam/SphericalTransform.h"

namespace Korvane {
namespace MakeRig {

/// Where one camera sees a truth point: the exact image position given by the rig library's
/// SphericalTransform::ProjectFromWorld (pixels from the bottom-left, y up, pixel centres at
/// +0.5) and the distance from the camera position in metres.
struct Observation {
    int camera = 0;  ///< 0-based index; files write the camera number (index + 1)
    Eigen::Vector2d image = Eigen::Vector2d::Zero();
    double depth = 0.0;
};

/// A material point of the scene. It sits on a shape's face at a fixed local position, so a
/// point on the moving object moves with it and keeps its id in every frame.
struct TruthPoint {
    int id = 0;
    int shape = 0;
    int face = 0;
    Eigen::Vector3d local = Eigen::Vector3d::Zero();
    Eigen::Vector3d world = Eigen::Vector3d::Zero();   ///< rig frame, metres, at the frame
    Eigen::Vector3d normal = Eigen::Vector3d::Zero();  ///< unit, toward the viewer side
    std::vector<Observation> observations;             ///< cameras that see it, ascending
};

/// Ground-truth scene points for matching and warp benchmarks. Points are drawn on the
/// surfaces (half on the room, half on the objects, uniform by area), and kept when the texture
/// around them is rich (the smaller eigenvalue of the texture's structure tensor over a window
/// of about 5 x 5 pixels is large) and at least two cameras see them, unoccluded and not at a
/// grazing angle, in the reference frame. Deterministic from the seed.
class TruthPoints {
public:
    /// A camera sees a point when the point has an image, the camera's ray toward it meets no
    /// other surface first, and the ray makes at least this cosine with the surface normal.
    static constexpr double kMinimumCosine = 0.2;

    /// `pixelAngle` (radians) is about the angle one pixel spans, which sets the texture window.
    TruthPoints(const Scene& scene,
                const Korvane::Research::CameraRigDefinition& rig,
                int count,
                std::uint64_t seed,
                int referenceFrame,
                double pixelAngle);

    /// The points posed at `frame` with their observations in that frame (a point may have
    /// fewer, or no, observations in other frames than the reference one).
    std::vector<TruthPoint> atFrame(const Scene& frameScene) const;

    /// The JSON file of one frame; format in tools/make_rig/README.md.
    static void write(const std::string& path,
                      int frame,
                      const Scene& frameScene,
                      const std::vector<TruthPoint>& points);

    /// Observations of `point` (world and normal already posed) by every camera of the rig.
    std::vector<Observation> observe(const Scene& frameScene, const TruthPoint& point) const;

private:
    std::vector<Korvane::Research::SphericalTransform> m_cameras;
    std::vector<TruthPoint> m_points;  ///< local positions only
};

}  // namespace MakeRig
}  // namespace Korvane
