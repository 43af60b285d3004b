// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "RigOptions.h"
#include "vellacam/CameraRigDefinition.h"

namespace Korvane {
namespace MakeRig {

/// The rig of the footage: a ring of cameras around the horizon (camera 1 looks along +Z,
/// the next ones follow toward +X), then the optional up and down cameras. Camera centres sit
/// on a sphere of options.diameter / 2 (kDiameter by default) about the rig centre; every camera
/// deviates from its nominal pose by up to kRotationJitter degrees per angle and kPositionJitter
/// metres per axis, drawn from the seed. The recorded definition holds the true, deviated values:
/// it is exactly the rig the images are rendered with. With options.circleFov the fisheye lenses
/// have an image circle of that field of view, 98 % of the smaller image side across, about the
/// image centre.
class SyntheticRig {
public:
    static constexpr double kDiameter = 0.3;
    static constexpr double kConvergence = 5.0;
    static constexpr double kRotationJitter = 1.5;
    static constexpr double kPositionJitter = 0.004;
    /// Sensor width in mm; the height follows from the image aspect.
    static constexpr double kSensorWidth = 22.3;

    explicit SyntheticRig(const RigOptions& options);

    const Korvane::Research::CameraRigDefinition& definition() const { return m_rig; }
    double convergence() const { return kConvergence; }
    /// Horizontal field of view of every camera, degrees.
    static double fieldOfView(const RigOptions& options);

    /// Angle one pixel spans near the centre of camera 1, radians.
    double pixelAngle() const;

    /// Writes the rig in the rig library's sidecar format (read back by ReadRigFile, bit for
    /// bit: numbers are written with round-trip precision). Throws std::runtime_error naming
    /// the file when it cannot be written.
    void writeRigFile(const std::string& path) const { writeRigFile(m_rig, path); }
    /// The same for another rig of this footage (the rig as a calibration recorded it).
    static void writeRigFile(const Korvane::Research::CameraRigDefinition& rig,
                             const std::string& path);

private:
    /// Links cameras a and b when some of a's pixels, put at the convergence depth, have an
    /// image in b (or the other way round).
    void linkOverlaps();

    Korvane::Research::CameraRigDefinition m_rig;
};

}  // namespace MakeRig
}  // namespace Korvane
