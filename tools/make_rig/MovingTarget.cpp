// SPDX-License-Identifier: Apache-2.0
#include "MovingTarget.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "Random.h"

namespace Korvane {
namespace MakeRig {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kThickness = 0.02;

Material material(std::mt19937_64& rng, float level) {
    Material m;
    m.seed = static_cast<std::uint32_t>(rng() >> 32);
    // The tint, mixed in at large scale, keeps both boards textured along their edge.
    m.base = Eigen::Vector3f(level, 0.95f * level, 0.9f * level);
    m.tint = Eigen::Vector3f(0.3f + 0.2f * level, 0.35f, 0.45f);
    return m;
}

Shape board(std::mt19937_64& rng,
            const char* name,
            double centreX,
            double centreY,
            double halfWidth,
            float level) {
    Shape s;
    s.name = name;
    s.kind = Shape::Kind::Box;
    s.centre = Eigen::Vector3d(centreX, centreY, MovingTarget::kDistance);
    s.half = Eigen::Vector3d(halfWidth, MovingTarget::kHalfHeight, kThickness);
    for (Material& face : s.materials) face = material(rng, level);
    s.moving = true;
    s.swing = Eigen::Vector3d(-MovingTarget::kSwing, 0.0, 0.0);
    return s;
}

}  // namespace

void MovingTarget::addTo(Scene& scene, std::uint64_t seed) {
    std::mt19937_64 rng(seed ^ 0x7A5E7A5E7A5E7A5EULL);
    scene.addShape(board(rng, "target", kCentreX, kEdgeHeight + kHalfHeight, kHalfWidth, 0.85f));
    // The lower board is a row of blocks, dark and light in turn and 2 to 4 cm wide at random,
    // so that every stretch of the edge as long as a tracked patch crosses a block's side and
    // no stretch repeats another.
    double left = kCentreX - kHalfWidth;
    for (int b = 0; left < kCentreX + kHalfWidth - 1e-9; ++b) {
        const double width = std::min(0.02 + 0.02 * uniform(rng), kCentreX + kHalfWidth - left);
        scene.addShape(board(rng,
                             "targetBase",
                             left + 0.5 * width,
                             kEdgeHeight - kHalfHeight,
                             0.5 * width,
                             b % 2 ? 0.55f : 0.1f));
        left += width;
    }
    Shape post;
    post.name = "targetPost";
    post.kind = Shape::Kind::Box;
    post.centre = Eigen::Vector3d(kCentreX - 0.35, 0.0, 0.7 * kDistance);
    post.half = Eigen::Vector3d(0.03, 0.6, 0.03);
    post.materials.fill(material(rng, 0.4f));
    scene.addShape(post);
}

Eigen::Vector3d MovingTarget::edgePoint(double along, int frame) {
    const double shift = -kSwing * std::sin(2.0 * kPi * (frame - 1) / Scene::kSwingPeriod);
    return Eigen::Vector3d(kCentreX + along + shift, kEdgeHeight, kDistance - kThickness);
}

bool MovingTarget::hidden(const Scene& posed,
                          const Eigen::Vector3d& eye,
                          const Eigen::Vector3d& point) {
    const Eigen::Vector3d d = point - eye;
    const double distance = d.norm();
    Hit hit;
    if (!posed.intersect(eye, d / distance, &hit)) return false;
    const std::string& name = posed.shapes()[size_t(hit.shape)].name;
    if (name == "target" || name == "targetBase") return false;
    return hit.t < distance - 1e-6;
}

}  // namespace MakeRig
}  // namespace Korvane
