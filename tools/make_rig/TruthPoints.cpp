// SPDX-License-Identifier: Apache-2.0
#include "TruthPoints.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>

#include <Eigen/Eigenvalues>
#include <nlohmann/json.hpp>

#include "Random.h"
#include "vellacam/SphericalTransform.h"

namespace Korvane {
namespace MakeRig {

using Korvane::Research::CameraRigDefinition;
using Korvane::Research::SphericalTransform;

namespace {

struct FaceArea {
    int shape;
    int face;
    double cumulative;
};

/// Faces of the room or of the objects with their cumulative areas, for sampling by area.
std::vector<FaceArea> faces(const Scene& scene, bool room) {
    std::vector<FaceArea> out;
    double total = 0.0;
    for (int s = 0; s < static_cast<int>(scene.shapes().size()); ++s) {
        const Shape& shape = scene.shapes()[s];
        if ((shape.kind == Shape::Kind::Room) != room) continue;
        const Eigen::Vector3d& h = shape.half;
        if (shape.kind == Shape::Kind::Sphere) {
            total += 4.0 * 3.14159265358979323846 * h.x() * h.x();
            out.push_back({s, 0, total});
            continue;
        }
        const double areas[3] = {4.0 * h.y() * h.z(), 4.0 * h.x() * h.z(), 4.0 * h.x() * h.y()};
        for (int f = 0; f < 6; ++f) {
            total += areas[f / 2];
            out.push_back({s, f, total});
        }
    }
    return out;
}

Eigen::Vector3d pointOnFace(const Shape& shape, int face, std::mt19937_64& rng) {
    if (shape.kind == Shape::Kind::Sphere) {
        // Uniform on the sphere: z uniform in [-1, 1], angle uniform.
        const double z = 2.0 * uniform(rng) - 1.0;
        const double a = 2.0 * 3.14159265358979323846 * uniform(rng);
        const double r = std::sqrt(std::max(0.0, 1.0 - z * z));
        return shape.half.x() * Eigen::Vector3d(r * std::cos(a), r * std::sin(a), z);
    }
    Eigen::Vector3d p;
    for (int k = 0; k < 3; ++k) p[k] = shape.half[k] * (2.0 * uniform(rng) - 1.0);
    p[face / 2] = face % 2 == 0 ? shape.half[face / 2] : -shape.half[face / 2];
    return p;
}

/// Smaller eigenvalue of the mean structure tensor of the luminance over a 5 x 5 grid with
/// spacing `step` metres, gradients per step.
double textureStrength(const Material& m, const Eigen::Vector2d& uv, double step) {
    Eigen::Matrix2d tensor = Eigen::Matrix2d::Zero();
    for (int y = -2; y <= 2; ++y)
        for (int x = -2; x <= 2; ++x) {
            const double u = uv.x() + x * step;
            const double v = uv.y() + y * step;
            const double gx = 0.5 * (SurfaceTexture::luminance(m, u + step, v) -
                                     SurfaceTexture::luminance(m, u - step, v));
            const double gy = 0.5 * (SurfaceTexture::luminance(m, u, v + step) -
                                     SurfaceTexture::luminance(m, u, v - step));
            tensor += Eigen::Vector2d(gx, gy) * Eigen::RowVector2d(gx, gy);
        }
    return Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d>(tensor / 25.0).eigenvalues()[0];
}

}  // namespace

std::vector<Observation> TruthPoints::observe(const Scene& scene, const TruthPoint& point) const {
    std::vector<Observation> out;
    for (int c = 0; c < static_cast<int>(m_cameras.size()); ++c) {
        Eigen::Vector2d image;
        if (!m_cameras[c].ProjectFromWorld(point.world, &image)) continue;
        const Eigen::Vector3d& origin = m_cameras[c].getCamera().getPosition();
        const double distance = (point.world - origin).norm();
        const Eigen::Vector3d ray = (point.world - origin) / distance;
        if (-ray.dot(point.normal) < kMinimumCosine) continue;
        Hit hit;
        if (!scene.intersect(origin, ray, &hit)) continue;
        // The ray must end on this very face; 1 micrometre absorbs the rounding of the hit.
        if (hit.shape != point.shape || hit.face != point.face || std::abs(hit.t - distance) > 1e-6)
            continue;
        out.push_back({c, image, distance});
    }
    return out;
}

TruthPoints::TruthPoints(const Scene& scene,
                         const CameraRigDefinition& rig,
                         int count,
                         std::uint64_t seed,
                         int referenceFrame,
                         double pixelAngle) {
    for (int c = 0; c < rig.getNumberCameras(); ++c) m_cameras.emplace_back(rig.getCamera(c));
    constexpr double kMinimumStrength = 0.0015;
    std::mt19937_64 rng(seed * 0xD1B54A32D192ED03ULL + 0x7E57);
    const Scene posed = scene.atFrame(referenceFrame);
    const std::vector<FaceArea> tables[2] = {faces(scene, true), faces(scene, false)};
    const long long attempts = 400LL * count;
    for (long long a = 0; a < attempts && static_cast<int>(m_points.size()) < count; ++a) {
        const std::vector<FaceArea>& table = tables[a % 2];
        const double pick = uniform(rng) * table.back().cumulative;
        const FaceArea& f =
            *std::lower_bound(table.begin(), table.end(), pick, [](const FaceArea& e, double x) {
                return e.cumulative < x;
            });
        TruthPoint p;
        p.shape = f.shape;
        p.face = f.face;
        p.local = pointOnFace(scene.shapes()[f.shape], f.face, rng);
        p.world = posed.worldPoint(p.shape, p.local);
        p.normal = posed.worldNormal(p.shape, p.face, p.local);
        const double step = pixelAngle * p.world.norm();  // about one pixel
        const Eigen::Vector2d uv = posed.textureCoordinates(p.shape, p.face, p.local);
        if (textureStrength(posed.material(p.shape, p.face), uv, step) < kMinimumStrength) continue;
        if (observe(posed, p).size() < 2) continue;
        p.id = static_cast<int>(m_points.size());
        m_points.push_back(p);
    }
}

std::vector<TruthPoint> TruthPoints::atFrame(const Scene& frameScene) const {
    std::vector<TruthPoint> out = m_points;
    for (TruthPoint& p : out) {
        p.world = frameScene.worldPoint(p.shape, p.local);
        p.normal = frameScene.worldNormal(p.shape, p.face, p.local);
        p.observations = observe(frameScene, p);
    }
    return out;
}

void TruthPoints::write(const std::string& path,
                        int frame,
                        const Scene& frameScene,
                        const std::vector<TruthPoint>& points) {
    using nlohmann::ordered_json;
    std::ofstream out(path, std::ios::binary);
    out << "{\n\"frame\": " << frame << ",\n\"points\": [";
    for (size_t k = 0; k < points.size(); ++k) {
        const TruthPoint& p = points[k];
        const Shape& shape = frameScene.shapes()[p.shape];
        ordered_json j;
        j["id"] = p.id;
        j["surface"] = shape.name;
        j["face"] = p.face;
        j["moving"] = shape.moving;
        j["world"] = {p.world.x(), p.world.y(), p.world.z()};
        // Adding +0 turns the -0 of flipped room normals into 0.
        j["normal"] = {p.normal.x() + 0.0, p.normal.y() + 0.0, p.normal.z() + 0.0};
        ordered_json seen = ordered_json::array();
        for (const Observation& o : p.observations)
            seen.push_back({{"camera", o.camera + 1},
                            {"image", {o.image.x(), o.image.y()}},
                            {"depth", o.depth}});
        j["observations"] = seen;
        out << (k ? ",\n" : "\n") << j.dump();
    }
    out << "\n]\n}\n";
    if (!out) throw std::runtime_error(path + ": cannot write the truth points");
}

}  // namespace MakeRig
}  // namespace Korvane
