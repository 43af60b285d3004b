// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "SurfaceTexture.h"

namespace Korvane {
namespace MakeRig {

/// One solid of the scene. Boxes and the room are rectangular solids given by their centre,
/// rotation (local to rig frame) and half extents; a sphere's radius is half.x(). The room is
/// seen from inside. Faces of boxes and the room: 0 +x, 1 -x, 2 +y, 3 -y, 4 +z, 5 -z (local);
/// a sphere has the single face 0.
struct Shape {
    enum class Kind { Box, Sphere, Room };
    std::string name;
    Kind kind = Kind::Box;
    Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    Eigen::Vector3d half = Eigen::Vector3d::Ones();
    std::array<Material, 6> materials;
    /// Moving shapes swing along `swing` (metres, amplitude) with a period of kSwingPeriod
    /// frames and turn about +Y by `turnPerFrame` degrees; the pose above is the one of frame 1.
    bool moving = false;
    Eigen::Vector3d swing = Eigen::Vector3d::Zero();
    double turnPerFrame = 0.0;
};

/// A ray's first surface: distance t along the unit ray (metres), the shape and face, and the
/// hit point in the shape's local frame (which moves with the shape).
struct Hit {
    double t = 0.0;
    int shape = -1;
    int face = 0;
    Eigen::Vector3d local = Eigen::Vector3d::Zero();
};

/// The synthetic set: a room about 13.5 m x 4 m x 14.5 m around the rig (walls 6 to 8.5 m from
/// the rig centre, floor 1.6 m below it, ceiling 2.4 m above) holding boxes, a pillar, a beam,
/// panels and spheres 1 to 3 m from the rig; one box moves. Rig frame and metres throughout.
/// Surfaces are matte and unlit apart from a fixed, view-independent shading of the objects,
/// so a surface point has the same colour in every camera.
/// Immutable after construction; const calls may run on many threads.
class Scene {
public:
    static constexpr double kSwingPeriod = 60.0;

    /// The layout is fixed; the seed jitters the objects by a few centimetres and picks the
    /// colours and texture seeds.
    static Scene build(std::uint64_t seed);

    /// The scene at `frame` (moving shapes posed for it).
    Scene atFrame(int frame) const;

    /// First surface along origin + t * dir, t > 0; `dir` must be unit length. Always true
    /// for an origin inside the room.
    bool intersect(const Eigen::Vector3d& origin, const Eigen::Vector3d& dir, Hit* hit) const;
    /// The same, testing only the shapes in `candidates` (see coneCandidates).
    bool intersect(const Eigen::Vector3d& origin,
                   const Eigen::Vector3d& dir,
                   const std::vector<int>& candidates,
                   Hit* hit) const;
    /// Shapes that a ray from `origin` making at most `halfAngle` radians with the unit `axis`
    /// may hit (their bounding spheres meet that cone), ascending; the room always. Equal
    /// results to intersecting every shape for rays in the cone.
    void coneCandidates(const Eigen::Vector3d& origin,
                        const Eigen::Vector3d& axis,
                        double halfAngle,
                        std::vector<int>* candidates) const;
    /// Linear RGB of a hit.
    Eigen::Vector3f shade(const Hit& hit) const;

    Eigen::Vector3d worldPoint(int shape, const Eigen::Vector3d& local) const;
    Eigen::Vector3d worldNormal(int shape, int face, const Eigen::Vector3d& local) const;
    /// Texture coordinates (metres) of a local point on a face.
    Eigen::Vector2d textureCoordinates(int shape, int face, const Eigen::Vector3d& local) const;
    const Material& material(int shape, int face) const;

    const std::vector<Shape>& shapes() const { return m_shapes; }
    /// Adds one more solid (see MovingTarget).
    void addShape(const Shape& shape) { m_shapes.push_back(shape); }

private:
    /// Tests one shape; updates `hit` when it is hit nearer than hit->t (or hit->shape < 0).
    void intersectShape(int index,
                        const Eigen::Vector3d& origin,
                        const Eigen::Vector3d& dir,
                        Hit* hit) const;

    std::vector<Shape> m_shapes;
};

}  // namespace MakeRig
}  // namespace Korvane
