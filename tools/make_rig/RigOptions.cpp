// SPDX-License-Identifier: Apache-2.0
#include "RigOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "vellacam/RadialDistortion.h"

namespace Korvane {
namespace MakeRig {

namespace {

[[noreturn]] void fail(const std::string& option, const std::string& problem) {
    throw OptionError(option + ": " + problem);
}

long long parseInteger(const std::string& option,
                       const std::string& text,
                       long long low,
                       long long high) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0)
        fail(option, "expected an integer, got '" + text + "'");
    if (value < low || value > high)
        fail(option,
             "must lie between " + std::to_string(low) + " and " + std::to_string(high) + ", got " +
                 text);
    return value;
}

std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

double parseNumber(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value))
        fail(option, "expected a number, got '" + text + "'");
    return value;
}

double parseRange(const std::string& option, const std::string& text, double low, double high) {
    const double value = parseNumber(option, text);
    if (value < low || value > high)
        fail(option,
             "must lie between " + formatNumber(low) + " and " + formatNumber(high) + ", got " +
                 text);
    return value;
}

void parseSize(const std::string& option, const std::string& text, int* width, int* height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) fail(option, "expected WIDTHxHEIGHT, got '" + text + "'");
    *width = static_cast<int>(parseInteger(option, text.substr(0, x), 8, 16384));
    *height = static_cast<int>(parseInteger(option, text.substr(x + 1), 8, 16384));
}

void parseDistortion(const std::string& text, RigOptions* options) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        parts.push_back(text.substr(start, comma - start));
    parts.push_back(text.substr(start));
    if (parts.size() != 3) fail("--distortion", "expected a,b,c, got '" + text + "'");
    for (int k = 0; k < 3; ++k) options->distortion[k] = parseNumber("--distortion", parts[k]);
}

/// The polynomial must keep growing out to the image corners, or some pixels have no ray.
void checkDistortion(const RigOptions& options) {
    const Korvane::Research::RadialDistortion lens(options.distortion);
    if (!lens.isUsable()) fail("--distortion", "must leave d = 1 - a - b - c positive");
    const double halfSide = 0.5 * std::min(options.width, options.height);
    const double corner = 0.5 * std::hypot(options.width, options.height) / halfSide;
    double ideal;
    if (!lens.undistort(corner, &ideal))
        fail("--distortion", "the polynomial folds over before the image corners");
}

}  // namespace

RigOptions RigOptions::parse(const std::vector<std::string>& args) {
    RigOptions options;
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string& option = args[k];
        auto value = [&]() -> const std::string& {
            if (k + 1 >= args.size()) fail(option, "needs a value");
            return args[++k];
        };
        if (option == "--out") {
            options.outDir = value();
            if (options.outDir.empty()) fail(option, "needs a folder");
        } else if (option == "--cameras") {
            options.cameras = static_cast<int>(parseInteger(option, value(), 1, 64));
        } else if (option == "--diameter") {
            options.diameter = parseRange(option, value(), 0.0, 2.0);
        } else if (option == "--up") {
            options.up = true;
        } else if (option == "--down") {
            options.down = true;
        } else if (option == "--size") {
            parseSize(option, value(), &options.width, &options.height);
        } else if (option == "--pano-size") {
            parseSize(option, value(), &options.panoWidth, &options.panoHeight);
        } else if (option == "--frames") {
            options.frames = static_cast<int>(parseInteger(option, value(), 1, 100000));
        } else if (option == "--first") {
            options.first = static_cast<int>(parseInteger(option, value(), 0, 9999));
        } else if (option == "--lens") {
            const std::string& lens = value();
            if (lens == "fisheye")
                options.lens = LensKind::Fisheye;
            else if (lens == "rectilinear")
                options.lens = LensKind::Rectilinear;
            else
                fail(option, "expected fisheye or rectilinear, got '" + lens + "'");
        } else if (option == "--distortion") {
            parseDistortion(value(), &options);
        } else if (option == "--seed") {
            options.seed = static_cast<unsigned long long>(
                parseInteger(option, value(), 0, 9007199254740991LL));
        } else if (option == "--ext") {
            const std::string& ext = value();
            if (ext != "exr" && ext != "png" && ext != "tif" && ext != "jpg")
                fail(option, "expected exr, png, tif or jpg, got '" + ext + "'");
            options.ext = ext;
        } else if (option == "--truth") {
            options.truth = true;
        } else if (option == "--no-truth") {
            options.truth = false;
        } else if (option == "--points") {
            options.points = static_cast<int>(parseInteger(option, value(), 0, 1000000));
        } else if (option == "--threads") {
            options.threads = static_cast<int>(parseInteger(option, value(), 0, 256));
        } else if (option == "--target") {
            options.target = true;
        } else if (option == "--rotation-error") {
            options.rotationError = parseRange(option, value(), 0.0, 30.0);
        } else if (option == "--focal-error") {
            options.focalError = parseRange(option, value(), 0.0, 20.0);
        } else if (option == "--centre-error") {
            options.centreError = parseRange(option, value(), 0.0, 1000.0);
        } else if (option == "--exposure") {
            options.exposure = parseRange(option, value(), 0.0, 4.0);
        } else if (option == "--white-balance") {
            options.whiteBalance = parseRange(option, value(), 0.0, 50.0);
        } else if (option == "--vignetting") {
            options.vignetting = parseRange(option, value(), 0.0, 0.95);
        } else if (option == "--noise") {
            options.noise = parseRange(option, value(), 0.0, 0.5);
        } else if (option == "--circle") {
            options.circleFov = parseRange(option, value(), 90.0, 250.0);
        } else if (option == "--realistic") {
            options.rotationError = 2.0;
            options.focalError = 0.3;
            options.centreError = 1.5;
            options.exposure = 0.3;
            options.whiteBalance = 5.0;
            options.vignetting = 0.3;
            options.noise = 0.003;
        } else if (option == "--help" || option == "-h") {
            options.help = true;
        } else {
            fail(option, "unknown option (see --help)");
        }
    }
    if (options.help) return options;
    if (options.outDir.empty()) fail("--out", "is required");
    if (options.first + options.frames - 1 > 9999)
        fail("--frames", "the last frame must not pass 9999 (four-digit frame numbers)");
    checkDistortion(options);
    if (options.circleFov > 0.0 && options.lens != LensKind::Fisheye)
        fail("--circle", "needs fisheye lenses");
    return options;
}

std::string RigOptions::usage() {
    return R"(make_rig --out DIR [options]
Writes synthetic multi-camera rig footage with ground truth:
  DIR/cam<N>.<frame>.<ext>, DIR/rig.json and DIR/truth/ (see tools/make_rig/README.md).

  --out DIR              output folder (created when missing)
  --cameras N            cameras on the horizontal ring (6)
  --up, --down           add a camera looking up / down
  --diameter M           metres between opposite camera centres (0.3)
  --size WxH             image size in pixels (1280x960)
  --frames N             number of frames (10)
  --first F              first frame number (1)
  --lens KIND            fisheye or rectilinear (fisheye)
  --distortion a,b,c     radial distortion, undistort on (0.005,-0.03,0.01)
  --seed S               seed of the rig deviations and the scene (1)
  --ext EXT              exr (linear half float), png, tif, jpg (8-bit sRGB) (exr)
  --truth, --no-truth    write the ground truth under DIR/truth (on)
  --pano-size WxH        size of the truth panorama (2048x1024)
  --points N             ground-truth scene points per frame (3000)
  --threads N            worker threads, 0 for VIREO_THREADS or all cores (0); results
                         do not depend on it
  --target               add a moving target with a straight edge (MovingTarget.h)
Real rigs (all off by default; rig.json is then exact):
  --rotation-error DEG   each camera's recorded rotation off by DEG about a random axis
  --focal-error PCT      recorded focal lengths off by PCT percent, up or down
  --centre-error PX      recorded optical centres off by PX pixels
  --exposure STOPS       per-camera exposure within +-STOPS
  --white-balance PCT    per-camera red and blue gains within +-PCT percent
  --vignetting V         brightness falls to 1 - V at the corners (circle rim)
  --noise SIGMA          Gaussian sensor noise, linear units
  --circle FOV           fisheye images are circles spanning FOV degrees, housing outside
  --realistic            --rotation-error 2 --focal-error 0.3 --centre-error 1.5
                         --exposure 0.3 --white-balance 5 --vignetting 0.3 --noise 0.003
  --help                 this text
)";
}

}  // namespace MakeRig
}  // namespace Korvane
