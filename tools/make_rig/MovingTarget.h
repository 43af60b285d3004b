// SPDX-License-Identifier: Apache-2.0
// A moving target with a straight edge, for measuring constraint tracking (make_rig --target).
#pragma once

#include <cstdint>
#include <vector>

#include <Eigen/Core>

#include "Scene.h"

namespace Korvane {
namespace MakeRig {

/// A bright board ("target") over a row of blocks 2 to 4 cm wide, dark and light in turn
/// ("targetBase"), 0.8 m wide and 0.3 m tall each, facing the rig about 2 m away in the overlap
/// of cameras 1 and 2 of a 6-camera ring. Their common edge, 0.1 m above the rig centre, is a
/// long straight line crossed by a block side every few centimetres, at no regular spacing,
/// which a line constraint can follow.
/// All of it slides together along -X by kSwing sin(2 pi (frame - 1) / Scene::kSwingPeriod),
/// about 6 cm a frame at first, without turning; a static post ("targetPost") stands between
/// it and the rig, so that points of the edge pass behind the post during the first 10 frames.
class MovingTarget {
public:
    static constexpr double kSwing = 0.6;
    static constexpr double kHalfWidth = 0.4;
    static constexpr double kHalfHeight = 0.15;
    static constexpr double kEdgeHeight = 0.1;
    static constexpr double kDistance = 2.0;
    static constexpr double kCentreX = 0.5;

    /// Adds the boards and the post to `scene`; colours and textures from `seed`.
    static void addTo(Scene& scene, std::uint64_t seed);

    /// The material point of the edge `along` metres from its middle (-kHalfWidth..kHalfWidth),
    /// in the rig frame at `frame` (posed as Scene::atFrame poses the boards).
    static Eigen::Vector3d edgePoint(double along, int frame);

    /// True when the straight line from `eye` to `point` meets a surface of `posed` (a scene at
    /// some frame) other than the two boards before it reaches the point.
    static bool hidden(const Scene& posed,
                       const Eigen::Vector3d& eye,
                       const Eigen::Vector3d& point);
};

}  // namespace MakeRig
}  // namespace Korvane
