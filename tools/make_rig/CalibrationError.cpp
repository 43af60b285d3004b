// SPDX-License-Identifier: Apache-2.0
#include "CalibrationError.h"

#include <cmath>
#include <random>

#include <Eigen/Geometry>

#include "Random.h"

namespace Korvane {
namespace MakeRig {

using Korvane::Research::CameraDefinition;
using Korvane::Research::CameraRigDefinition;

namespace {

constexpr double kPi = 3.14159265358979323846;

Eigen::Vector3d randomAxis(std::mt19937_64& rng) {
    const double z = 2.0 * uniform(rng) - 1.0;
    const double phi = 2.0 * kPi * uniform(rng);
    const double s = std::sqrt(std::max(0.0, 1.0 - z * z));
    return Eigen::Vector3d(s * std::cos(phi), s * std::sin(phi), z);
}

}  // namespace

CameraRigDefinition recordedRig(const RigOptions& options, const CameraRigDefinition& truth) {
    std::mt19937_64 rng(options.seed * 0x2545F4914F6CDD1DULL + 0xCA11B4A7E5ULL);
    CameraRigDefinition rig = truth;
    for (int c = 0; c < rig.getNumberCameras(); ++c) {
        CameraDefinition camera = truth.getCamera(c);
        // Every draw is made whatever the options, so one error does not reshuffle another.
        const Eigen::Vector3d axis = randomAxis(rng);
        const double sign = uniform(rng) < 0.5 ? -1.0 : 1.0;
        const double direction = 2.0 * kPi * uniform(rng);
        if (options.rotationError > 0.0)
            camera.setCameraToWorldRotation(
                Eigen::AngleAxisd(options.rotationError * kPi / 180.0, axis).toRotationMatrix() *
                camera.getCameraToWorldRotation());
        if (options.focalError > 0.0)
            camera.setFocalLength(camera.getFocalLength() *
                                  (1.0 + sign * options.focalError / 100.0));
        if (options.centreError > 0.0)
            camera.setCentreShift(camera.getCentreShift() +
                                  options.centreError *
                                      Eigen::Vector2d(std::cos(direction), std::sin(direction)));
        rig.setCamera(c, camera);
    }
    return rig;
}

}  // namespace MakeRig
}  // namespace Korvane
