// SPDX-License-Identifier: Apache-2.0
#include "Scene.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include <Eigen/Geometry>

#include "Random.h"

namespace Korvane {
namespace MakeRig {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEpsilon = 1e-9;

Eigen::Matrix3d yawMatrix(double degrees) {
    return Eigen::AngleAxisd(degrees * kPi / 180.0, Eigen::Vector3d::UnitY()).toRotationMatrix();
}

Eigen::Vector3f randomColour(std::mt19937_64& rng) {
    Eigen::Vector3f c;
    for (int k = 0; k < 3; ++k) c[k] = static_cast<float>(0.12 + 0.6 * uniform(rng));
    return c;
}

Material randomMaterial(std::mt19937_64& rng, Pattern pattern = Pattern::Plain) {
    Material m;
    m.seed = static_cast<std::uint32_t>(rng() >> 32);
    m.base = randomColour(rng);
    m.tint = randomColour(rng);
    m.pattern = pattern;
    return m;
}

Shape box(std::mt19937_64& rng,
          const std::string& name,
          const Eigen::Vector3d& centre,
          const Eigen::Vector3d& half,
          double yawDegrees,
          double jitter) {
    Shape s;
    s.name = name;
    s.kind = Shape::Kind::Box;
    s.centre = centre + Eigen::Vector3d(symmetric(rng, jitter), 0.0, symmetric(rng, jitter));
    s.half = half;
    s.rotation = yawMatrix(yawDegrees + symmetric(rng, 4.0 * jitter / 0.05));
    const Material m = randomMaterial(rng);
    for (Material& face : s.materials) {
        face = m;
        face.seed = static_cast<std::uint32_t>(rng() >> 32);
    }
    return s;
}

Shape sphere(std::mt19937_64& rng,
             const std::string& name,
             const Eigen::Vector3d& centre,
             double radius) {
    Shape s;
    s.name = name;
    s.kind = Shape::Kind::Sphere;
    s.centre = centre + Eigen::Vector3d(symmetric(rng, 0.05), 0.0, symmetric(rng, 0.05));
    s.half = Eigen::Vector3d::Constant(radius);
    s.rotation = yawMatrix(360.0 * uniform(rng));
    s.materials.fill(randomMaterial(rng));
    return s;
}

}  // namespace

Scene Scene::build(std::uint64_t seed) {
    std::mt19937_64 rng(seed ^ 0x5CE7E5CE7E5CE7EULL);
    Scene scene;

    // The room: floor at y = -1.6, ceiling at 2.4; one door per wall, each placed so that
    // its frame crosses the overlap of two ring cameras.
    Shape room;
    room.name = "room";
    room.kind = Shape::Kind::Room;
    room.centre = Eigen::Vector3d(0.75, 0.4, -1.25);
    room.half = Eigen::Vector3d(6.75, 2.0, 7.25);
    const double doors[4][2] = {{1.0, 2.0}, {-3.0, -2.0}, {-1.5, -0.5}, {2.0, 3.0}};
    for (int face = 0; face < 6; ++face) {
        const bool wall = face != 2 && face != 3;
        Material m = randomMaterial(rng,
                                    wall        ? Pattern::Wall
                                    : face == 2 ? Pattern::Ceiling
                                                : Pattern::Floor);
        if (wall) {
            const int w = face < 2 ? face : face - 2;  // faces 0, 1, 4, 5
            m.doorStart = doors[w][0] + symmetric(rng, 0.2);
            m.doorEnd = m.doorStart + 0.95;
            m.floorHeight = room.centre.y() - room.half.y();
        }
        room.materials[face] = m;
    }
    scene.m_shapes.push_back(room);

    const double floor = room.centre.y() - room.half.y();
    auto& shapes = scene.m_shapes;
    shapes.push_back(box(rng, "crate", {1.4, floor + 0.4, 2.2}, {0.45, 0.4, 0.35}, 25.0, 0.06));
    shapes.push_back(box(rng, "pillar", {-1.9, 0.4, 1.3}, {0.15, 2.0, 0.15}, 10.0, 0.04));
    shapes.push_back(box(rng, "shelf", {0.3, floor + 0.6, -2.4}, {0.6, 0.6, 0.25}, -10.0, 0.06));
    shapes.push_back(box(rng, "beam", {0.0, 1.5, -1.3}, {2.5, 0.08, 0.08}, 0.0, 0.03));
    shapes.push_back(box(rng, "panel", {2.4, 0.1, 0.9}, {0.02, 0.7, 0.5}, 0.0, 0.05));
    shapes.push_back(box(rng, "block", {-0.6, floor + 0.2, 1.6}, {0.2, 0.2, 0.2}, 40.0, 0.05));
    shapes.push_back(box(rng, "sign", {0.9, 0.3, -0.55}, {0.25, 0.18, 0.01}, 60.0, 0.02));
    shapes.push_back(box(rng, "stand", {-2.3, floor + 0.45, -0.5}, {0.3, 0.45, 0.3}, 5.0, 0.06));
    shapes.push_back(sphere(rng, "ball", {-1.6, -0.1, -1.8}, 0.45));
    shapes.push_back(sphere(rng, "globe", {2.0, 0.6, -0.6}, 0.35));

    // The mover sits in the overlap of cameras 1 and 2 and swings a few centimetres a frame.
    Shape mover = box(rng, "mover", {1.05, 0.05, 1.75}, {0.22, 0.22, 0.22}, 15.0, 0.03);
    mover.moving = true;
    mover.swing = Eigen::Vector3d(-0.3, 0.05, 0.12);
    mover.turnPerFrame = 0.8;
    shapes.push_back(mover);
    return scene;
}

Scene Scene::atFrame(int frame) const {
    Scene posed = *this;
    const double steps = frame - 1;
    for (Shape& s : posed.m_shapes) {
        if (!s.moving) continue;
        s.centre += s.swing * std::sin(2.0 * kPi * steps / kSwingPeriod);
        s.rotation = yawMatrix(s.turnPerFrame * steps) * s.rotation;
    }
    return posed;
}

bool Scene::intersect(const Eigen::Vector3d& origin, const Eigen::Vector3d& dir, Hit* hit) const {
    hit->shape = -1;
    for (int index = 0; index < static_cast<int>(m_shapes.size()); ++index)
        intersectShape(index, origin, dir, hit);
    return hit->shape >= 0;
}

bool Scene::intersect(const Eigen::Vector3d& origin,
                      const Eigen::Vector3d& dir,
                      const std::vector<int>& candidates,
                      Hit* hit) const {
    hit->shape = -1;
    for (int index : candidates) intersectShape(index, origin, dir, hit);
    return hit->shape >= 0;
}

void Scene::coneCandidates(const Eigen::Vector3d& origin,
                           const Eigen::Vector3d& axis,
                           double halfAngle,
                           std::vector<int>* candidates) const {
    candidates->clear();
    for (int index = 0; index < static_cast<int>(m_shapes.size()); ++index) {
        const Shape& s = m_shapes[index];
        if (s.kind != Shape::Kind::Room) {
            const double radius = s.kind == Shape::Kind::Sphere ? s.half.x() : s.half.norm();
            const Eigen::Vector3d v = s.centre - origin;
            const double distance = v.norm();
            if (distance > radius) {
                const double toCentre = std::acos(std::clamp(v.dot(axis) / distance, -1.0, 1.0));
                // 1e-6 rad of slack against rounding in the angles.
                if (toCentre > halfAngle + std::asin(radius / distance) + 1e-6) continue;
            }
        }
        candidates->push_back(index);
    }
}

void Scene::intersectShape(int index,
                           const Eigen::Vector3d& origin,
                           const Eigen::Vector3d& dir,
                           Hit* hit) const {
    const Shape& s = m_shapes[index];
    const double best = hit->shape < 0 ? std::numeric_limits<double>::infinity() : hit->t;
    if (s.kind == Shape::Kind::Sphere) {
        const Eigen::Vector3d oc = origin - s.centre;
        const double b = oc.dot(dir);
        const double c = oc.squaredNorm() - s.half.x() * s.half.x();
        const double disc = b * b - c;
        if (disc < 0.0) return;
        const double root = std::sqrt(disc);
        double t = -b - root;
        if (t <= kEpsilon) t = -b + root;
        if (t <= kEpsilon || t >= best) return;
        hit->t = t;
        hit->shape = index;
        hit->face = 0;
        hit->local = s.rotation.transpose() * (oc + t * dir);
        return;
    }
    // Slab test in the box frame.
    const Eigen::Vector3d o = s.rotation.transpose() * (origin - s.centre);
    const Eigen::Vector3d d = s.rotation.transpose() * dir;
    double tNear = -std::numeric_limits<double>::infinity();
    double tFar = std::numeric_limits<double>::infinity();
    int nearAxis = 0;
    int farAxis = 0;
    for (int a = 0; a < 3; ++a) {
        if (d[a] == 0.0) {
            if (std::abs(o[a]) > s.half[a]) return;
            continue;
        }
        const double inv = 1.0 / d[a];
        double t0 = (-s.half[a] - o[a]) * inv;
        double t1 = (s.half[a] - o[a]) * inv;
        if (t0 > t1) std::swap(t0, t1);
        if (t0 > tNear) {
            tNear = t0;
            nearAxis = a;
        }
        if (t1 < tFar) {
            tFar = t1;
            farAxis = a;
        }
    }
    if (tNear > tFar) return;
    const bool inside = s.kind == Shape::Kind::Room;
    const double t = inside ? tFar : tNear;
    const int axis = inside ? farAxis : nearAxis;
    if (t <= kEpsilon || t >= best) return;
    hit->t = t;
    hit->shape = index;
    // Leaving the room through +a when moving along +a; entering a box through -a then.
    const bool positive = inside ? d[axis] > 0.0 : d[axis] < 0.0;
    hit->face = 2 * axis + (positive ? 0 : 1);
    hit->local = o + t * d;
    hit->local[axis] = positive ? s.half[axis] : -s.half[axis];
}

Eigen::Vector3d Scene::worldPoint(int shape, const Eigen::Vector3d& local) const {
    const Shape& s = m_shapes.at(shape);
    return s.centre + s.rotation * local;
}

Eigen::Vector3d Scene::worldNormal(int shape, int face, const Eigen::Vector3d& local) const {
    const Shape& s = m_shapes.at(shape);
    if (s.kind == Shape::Kind::Sphere) return s.rotation * local.normalized();
    Eigen::Vector3d n = Eigen::Vector3d::Zero();
    n[face / 2] = face % 2 == 0 ? 1.0 : -1.0;
    if (s.kind == Shape::Kind::Room) n = -n;  // seen from inside
    return s.rotation * n;
}

Eigen::Vector2d Scene::textureCoordinates(int shape, int face, const Eigen::Vector3d& local) const {
    const Shape& s = m_shapes.at(shape);
    if (s.kind == Shape::Kind::Sphere) {
        const double r = s.half.x();
        const double lat = std::asin(std::max(-1.0, std::min(1.0, local.y() / r)));
        return Eigen::Vector2d(r * std::atan2(local.x(), local.z()), r * lat);
    }
    // The room is not rotated; its walls take rig-frame coordinates so that v is the height.
    const Eigen::Vector3d p =
        s.kind == Shape::Kind::Room ? Eigen::Vector3d(local + s.centre) : local;
    switch (face / 2) {
        case 0:
            return Eigen::Vector2d(p.z(), p.y());
        case 1:
            return Eigen::Vector2d(p.x(), p.z());
        default:
            return Eigen::Vector2d(p.x(), p.y());
    }
}

const Material& Scene::material(int shape, int face) const {
    return m_shapes.at(shape).materials.at(face);
}

Eigen::Vector3f Scene::shade(const Hit& hit) const {
    const Eigen::Vector2d uv = textureCoordinates(hit.shape, hit.face, hit.local);
    Eigen::Vector3f c = SurfaceTexture::colour(material(hit.shape, hit.face), uv.x(), uv.y());
    if (m_shapes[hit.shape].kind != Shape::Kind::Room) {
        // Fixed light from above right, so that box faces read apart; independent of the view.
        static const Eigen::Vector3d kLight = Eigen::Vector3d(0.3, 0.8, -0.5).normalized();
        const double lambert = worldNormal(hit.shape, hit.face, hit.local).dot(kLight);
        c *= static_cast<float>(0.72 + 0.28 * lambert);
    }
    return c;
}

}  // namespace MakeRig
}  // namespace Korvane
