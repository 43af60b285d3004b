// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include <Eigen/Core>

namespace Korvane {
namespace MakeRig {

/// A command-line mistake. The message starts with the option it concerns, e.g.
/// "--size: expected WIDTHxHEIGHT, got '12x'".
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class LensKind { Fisheye, Rectilinear };

/// Everything the command line of make_rig sets. The defaults build the bundled footage.
struct RigOptions {
    std::string outDir;
    int cameras = 6;  ///< cameras on the horizontal ring
    bool up = false;  ///< one more camera looking up (+Y)
    bool down = false;
    double diameter = 0.3;  ///< metres between opposite camera centres
    int width = 1280;
    int height = 960;
    int frames = 10;
    int first = 1;
    LensKind lens = LensKind::Fisheye;
    /// Distortion (a, b, c) of every camera; mild barrel with the undistort flag on.
    Eigen::Vector3d distortion{0.005, -0.03, 0.01};
    unsigned long long seed = 1;
    std::string ext = "exr";
    bool truth = true;
    int panoWidth = 2048;  ///< size of the truth panorama
    int panoHeight = 1024;
    int points = 3000;  ///< ground-truth scene points per frame
    int threads = 0;    ///< 0: every hardware thread; results do not depend on it
    bool help = false;
    /// Add the moving target of MovingTarget.h.
    bool target = false;

    // Real rigs. All off by default: the footage then matches rig.json exactly.
    /// Calibration error of the recorded rig (rig.json; truth/rig.json keeps the true one):
    /// each camera's rotation is off by this angle, degrees, about a random axis; its focal
    /// length by this share, percent, up or down; its optical centre by this distance, pixels,
    /// in a random direction.
    double rotationError = 0.0;
    double focalError = 0.0;
    double centreError = 0.0;
    /// Per camera: exposure drawn within +-exposure stops, red and blue gains within
    /// +-whiteBalance percent of green.
    double exposure = 0.0;
    double whiteBalance = 0.0;
    /// Brightness falls to 1 - vignetting at the image corners (the circle's rim with an image
    /// circle), quadratically in the radius.
    double vignetting = 0.0;
    /// Standard deviation of additive Gaussian sensor noise, linear units (white is 1).
    double noise = 0.0;
    /// Fisheye lenses only: > 0 makes each image a circle spanning this field of view, degrees,
    /// 98 % of the smaller image side across, with the dark lens housing outside it.
    double circleFov = 0.0;

    int totalCameras() const { return cameras + (up ? 1 : 0) + (down ? 1 : 0); }

    /// Parses `args` (without the program name). Throws OptionError naming the option on an
    /// unknown option, a missing or malformed value, or a value out of range; "--out" is
    /// required unless "--help" is given.
    static RigOptions parse(const std::vector<std::string>& args);
    static std::string usage();
};

}  // namespace MakeRig
}  // namespace Korvane
