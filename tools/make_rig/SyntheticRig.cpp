// SPDX-License-Identifier: Apache-2.0
#include "SyntheticRig.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>

#include "Random.h"
#include "vellacam/RadialDistortion.h"
#include "vellacam/RigFile.h"

namespace Korvane {
namespace MakeRig {

using Korvane::Research::CameraDefinition;
using Korvane::Research::ProjectionTypeEnum;

namespace {

constexpr double kPi = 3.14159265358979323846;

/// Focal length for a circle of 98 % of the smaller side spanning options.circleFov without
/// distortion; the circle is then where the distorted lens puts that angle.
void addImageCircle(const RigOptions& options, CameraDefinition* camera) {
    const double unit = 0.5 * std::min(options.width, options.height);
    const double ideal = 0.98 * unit;
    const double halfAngle = 0.5 * options.circleFov * kPi / 180.0;
    const double focalPixels = ideal / halfAngle;
    camera->setFocalLength(focalPixels * camera->getSensorSize().x() / options.width);
    double distorted = ideal / unit;
    Korvane::Research::RadialDistortion(options.distortion).distort(ideal / unit, &distorted);
    camera->setImageCircle(Eigen::Vector2d(0.5 * options.width, 0.5 * options.height),
                           distorted * unit);
}

}  // namespace

double SyntheticRig::pixelAngle() const {
    const CameraDefinition& camera = m_rig.getCamera(0);
    return camera.getFieldOfView() * kPi / 180.0 / camera.getFormatWidth();
}

double SyntheticRig::fieldOfView(const RigOptions& options) {
    const double spacing = 360.0 / options.cameras;
    if (options.lens == LensKind::Fisheye) return std::clamp(spacing + 60.0, 110.0, 220.0);
    return std::clamp(spacing + 30.0, 70.0, 140.0);
}

SyntheticRig::SyntheticRig(const RigOptions& options) {
    std::mt19937_64 rng(options.seed * 0x9E3779B97F4A7C15ULL + 0x8161C0FFEEULL);
    const int count = options.totalCameras();
    m_rig.setNumberCameras(count);
    m_rig.setRigDiameter(options.diameter);
    const double radius = 0.5 * options.diameter;
    for (int c = 0; c < count; ++c) {
        CameraDefinition camera;
        camera.setFormat(options.width, options.height, 1.0);
        camera.setProjection(options.lens == LensKind::Fisheye ? ProjectionTypeEnum::Fisheye
                                                               : ProjectionTypeEnum::Rectilinear);
        camera.setSensorSize(
            Eigen::Vector2d(kSensorWidth, kSensorWidth * options.height / options.width));
        camera.setFieldOfView(fieldOfView(options));
        camera.setDistortion(options.distortion);
        camera.setUndistort(true);
        if (options.circleFov > 0.0) addImageCircle(options, &camera);
        camera.setOutputView("cam" + std::to_string(c + 1));

        Eigen::Vector3d rotation;
        Eigen::Vector3d direction;
        if (c < options.cameras) {
            const double yaw = 360.0 * c / options.cameras;
            rotation = Eigen::Vector3d(0.0, yaw, 0.0);
            direction =
                Eigen::Vector3d(std::sin(yaw * kPi / 180.0), 0.0, std::cos(yaw * kPi / 180.0));
        } else if (options.up && c == options.cameras) {
            rotation = Eigen::Vector3d(-90.0, 0.0, 0.0);  // negative rx tilts toward +Y
            direction = Eigen::Vector3d::UnitY();
        } else {
            rotation = Eigen::Vector3d(90.0, 0.0, 0.0);
            direction = -Eigen::Vector3d::UnitY();
        }
        for (int k = 0; k < 3; ++k) rotation[k] += symmetric(rng, kRotationJitter);
        Eigen::Vector3d position = radius * direction;
        for (int k = 0; k < 3; ++k) position[k] += symmetric(rng, kPositionJitter);
        camera.setRotation(rotation);
        camera.setPosition(position);
        m_rig.setCamera(c, camera);
    }
    linkOverlaps();
}

void SyntheticRig::linkOverlaps() {
    // 1 % of the sample grid: a sliver of a few pixels' width is not worth matching.
    m_rig.linkOverlappingCameras(kConvergence, 0.01);
}

void SyntheticRig::writeRigFile(const Korvane::Research::CameraRigDefinition& rig,
                                const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << Korvane::Research::RigFileText(rig, kConvergence);
    if (!out) throw std::runtime_error(path + ": cannot write the rig file");
}

}  // namespace MakeRig
}  // namespace Korvane
