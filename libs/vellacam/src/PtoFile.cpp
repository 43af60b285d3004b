// SPDX-License-Identifier: Apache-2.0
#include "vellacam/PtoFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "vellacam/RadialDistortion.h"
#include "vellacam/RigError.h"

namespace Korvane {
namespace Research {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The sensor width written for every camera: the projection only needs focal length over
// sensor width, so a nominal width keeps the numbers readable.
constexpr double kSensorWidth = 36.0;

/// The fields of one image line: key -> the text after it ("75", "=0", "8,988,12,992").
using Fields = std::map<std::string, std::string>;

struct ImageLine {
    int line = 0;
    Fields fields;
};

class LineError {
public:
    LineError(const std::string& name, int line) : m_prefix(name + ":" + std::to_string(line)) {}
    [[noreturn]] void fail(const std::string& problem) const {
        throw RigError(m_prefix + ": " + problem);
    }
    const std::string& prefix() const { return m_prefix; }

private:
    std::string m_prefix;
};

Fields splitFields(const std::string& text, const LineError& where) {
    Fields fields;
    size_t i = 1;  // after the line's letter
    while (i < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
        if (i == start) where.fail("'" + text.substr(start, 12) + "' is not a field");
        const std::string key = text.substr(start, i - start);
        std::string value;
        if (i < text.size() && text[i] == '"') {
            const size_t close = text.find('"', i + 1);
            if (close == std::string::npos) where.fail("'" + key + "' has no closing quote");
            value = text.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            start = i;
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            value = text.substr(start, i - start);
        }
        fields[key] = value;
    }
    return fields;
}

/// A field's value with back-references ("v=0": the value of image 0) followed.
class ImageValues {
public:
    ImageValues(const std::vector<ImageLine>& images, size_t index, const std::string& name)
        : m_images(images), m_index(index), m_where(name, images[index].line) {}

    bool has(const std::string& key) const { return raw(key, m_index, 0) != nullptr; }

    double number(const std::string& key, double fallback) const {
        const std::string* text = raw(key, m_index, 0);
        if (!text) return fallback;
        char* end = nullptr;
        const double value = std::strtod(text->c_str(), &end);
        if (text->empty() || *end != '\0' || !std::isfinite(value))
            m_where.fail("'" + key + "' must be a number, not '" + *text + "'");
        return value;
    }

    double required(const std::string& key) const {
        if (!has(key)) m_where.fail("the image has no '" + key + "'");
        return number(key, 0.0);
    }

    std::string text(const std::string& key) const {
        const std::string* value = raw(key, m_index, 0);
        return value ? *value : std::string();
    }

    const LineError& where() const { return m_where; }

private:
    const std::string* raw(const std::string& key, size_t index, int depth) const {
        const auto it = m_images[index].fields.find(key);
        if (it == m_images[index].fields.end()) return nullptr;
        const std::string& value = it->second;
        if (value.empty() || value[0] != '=') return &value;
        char* end = nullptr;
        const long other = std::strtol(value.c_str() + 1, &end, 10);
        if (value.size() < 2 || *end != '\0' || other < 0 ||
            other >= static_cast<long>(m_images.size()) || size_t(other) == index ||
            depth > static_cast<int>(m_images.size()))
            m_where.fail("'" + key + value + "' does not refer to another image line");
        return raw(key, size_t(other), depth + 1);
    }

    const std::vector<ImageLine>& m_images;
    size_t m_index;
    LineError m_where;
};

const char* projectionName(int f) {
    switch (f) {
        case 0:
            return "rectilinear";
        case 1:
            return "cylindrical";
        case 2:
            return "circular fisheye";
        case 3:
            return "full-frame fisheye";
        case 4:
            return "equirectangular";
        case 8:
            return "orthographic";
        case 10:
            return "stereographic";
        case 19:
            return "equisolid";
        case 20:
            return "fisheye with the lens's own curve";
        default:
            return "unknown";
    }
}

/// The crop rectangle (left, right, top, bottom) in file pixels from the top-left; false when
/// the line has none.
bool cropRectangle(const ImageValues& in, int width, int height, Eigen::Vector4i* crop) {
    std::string text = in.text("S");
    if (text.empty()) text = in.text("C");
    if (text.empty()) return false;
    long v[4];
    const char* at = text.c_str();
    for (int k = 0; k < 4; ++k) {
        char* end = nullptr;
        v[k] = std::strtol(at, &end, 10);
        if (end == at || *end != (k < 3 ? ',' : '\0') || std::labs(v[k]) > 1000000)
            in.where().fail("the crop 'S" + text + "' must be left,right,top,bottom in pixels");
        at = end + 1;
    }
    int l = int(v[0]), r = int(v[1]), t = int(v[2]), b = int(v[3]);
    l = std::max(l, 0);
    t = std::max(t, 0);
    r = std::min(r, width);
    b = std::min(b, height);
    if (r <= l || b <= t) in.where().fail("the crop 'S" + text + "' holds no pixel of the image");
    *crop = Eigen::Vector4i(l, r, t, b);
    return true;
}

/// A window of the file around `crop` no smaller than the file's smaller side in either
/// direction, so that the lens polynomial, whose radius unit is half the image's smaller side,
/// keeps its unit; returns (x0, top, width, height) from the file's top-left.
Eigen::Vector4i windowAround(const Eigen::Vector4i& crop, int width, int height) {
    const int side = std::min(width, height);
    auto span = [side](int lo, int hi, int size, int* start, int* length) {
        *length = std::min(std::max(hi - lo, side), size);
        *start = std::clamp((lo + hi - *length) / 2, 0, size - *length);
    };
    int x0, w, y0, h;
    span(crop[0], crop[1], width, &x0, &w);
    span(crop[2], crop[3], height, &y0, &h);
    return Eigen::Vector4i(x0, y0, w, h);
}

CameraDefinition readCamera(const ImageValues& in,
                            bool sharedFile,
                            PtoSource* source,
                            std::vector<std::string>* notes) {
    const LineError& where = in.where();
    const double w = in.required("w");
    const double h = in.required("h");
    if (!(w >= 1 && h >= 1 && w <= 1e6 && h <= 1e6 && w == std::floor(w) && h == std::floor(h)))
        where.fail("the image size must be whole positive numbers of pixels");
    const int width = int(w), height = int(h);
    source->fileWidth = width;
    source->fileHeight = height;
    const double f = in.required("f");
    const int type = std::abs(f) < 1e6 && f == std::floor(f) ? int(f) : -1;
    if (!(type == 0 || type == 2 || type == 3 || type == 4))
        where.fail("projection f" + in.text("f") + " (" + projectionName(type) +
                   ") is not supported; the rig takes f0 (rectilinear), f2 (circular fisheye), "
                   "f3 (full-frame fisheye) and f4 (equirectangular)");
    const double fov = in.required("v");
    const double fovLimit = type == 0 ? 180.0 : 360.0;
    if (!(fov > 0.0 && (fov < fovLimit || (type != 0 && fov == fovLimit))))
        where.fail("the field of view 'v' must be above 0 and below " +
                   std::to_string(int(fovLimit)) + " degrees, not " + in.text("v"));

    CameraDefinition camera;
    camera.setProjection(type == 0   ? ProjectionTypeEnum::Rectilinear
                         : type == 4 ? ProjectionTypeEnum::Latlong
                                     : ProjectionTypeEnum::Fisheye);
    if (type == 4 && (fov != 360.0 || std::abs(2 * height - width) > 1))
        where.fail(
            "an equirectangular image must cover the whole sphere: 'v' 360 and the height "
            "half the width");
    const double angle = fov * kPi / 180.0;
    const double focalPixels = type == 0 ? 0.5 * width / std::tan(0.5 * angle) : width / angle;

    // The camera's part of the file: all of it, or a window when cameras share the file.
    Eigen::Vector4i crop(0, width, 0, height);
    const bool cropped = cropRectangle(in, width, height, &crop);
    const bool wholeFrame = !cropped || crop == Eigen::Vector4i(0, width, 0, height);
    if (sharedFile && !cropped)
        where.fail("'" + source->file +
                   "' is shared with another image line but this line has no "
                   "crop 'S' to tell which part of it is this camera's");
    Eigen::Vector4i window(0, 0, width, height);  // x0, top, width, height
    if (sharedFile) window = windowAround(crop, width, height);
    if (cropped && !wholeFrame && !sharedFile && type != 2)
        notes->push_back(where.prefix() + ": the rectangular crop 'S" + in.text("S") +
                         "' is left out: the rig takes the whole image");
    const int windowBottom = height - (window[1] + window[3]);  // from the file's bottom
    camera.setFormat(window[2], window[3]);
    if (sharedFile) camera.setCropWindow(Eigen::Vector2i(window[0], windowBottom));
    camera.setSensorSize(Eigen::Vector2d(kSensorWidth, kSensorWidth * window[3] / window[2]));
    camera.setFocalLength(focalPixels * kSensorWidth / window[2]);

    // The optical centre: the file's centre moved by (d, e), pixels with y down.
    const Eigen::Vector2d centre(0.5 * width + in.number("d", 0.0),
                                 0.5 * height - in.number("e", 0.0));
    const Eigen::Vector2d offset(window[0], windowBottom);
    camera.setCentreShift(centre - offset - 0.5 * Eigen::Vector2d(window[2], window[3]));

    const Eigen::Vector3d abc(in.number("a", 0.0), in.number("b", 0.0), in.number("c", 0.0));
    if (!RadialDistortion(abc).isUsable())
        where.fail("the lens polynomial a, b, c must leave 1 - a - b - c positive");
    camera.setDistortion(abc);
    camera.setUndistort(true);

    if (type == 2 && cropped) {
        // The circle inscribed in the crop, from pixel-centre coordinates (y down) to ours.
        const double cx = 0.5 * (crop[0] + crop[1]) + 0.5;
        const double cy = height - (0.5 * (crop[2] + crop[3]) + 0.5);
        const double radius = 0.5 * std::min(crop[1] - crop[0], crop[3] - crop[2]);
        camera.setImageCircle(Eigen::Vector2d(cx, cy) - offset, radius);
    }

    // Yaw turns the view to the right, pitch up, roll clockwise as seen in the image. (0 - v
    // keeps a zero a plain zero in the rig file.)
    camera.setRotation(
        Eigen::Vector3d(0.0 - in.number("p", 0.0), in.number("y", 0.0), 0.0 - in.number("r", 0.0)));
    // Positions: x right, y down, z backward in the project; ours x right, y up, z forward.
    camera.setPosition(Eigen::Vector3d(
        in.number("TrX", 0.0), 0.0 - in.number("TrY", 0.0), 0.0 - in.number("TrZ", 0.0)));
    if (in.number("g", 0.0) != 0.0 || in.number("t", 0.0) != 0.0)
        notes->push_back(where.prefix() + ": the shear 'g', 't' is left out");
    if (in.number("Tpy", 0.0) != 0.0 || in.number("Tpp", 0.0) != 0.0)
        notes->push_back(where.prefix() + ": the scene plane 'Tpy', 'Tpp' is left out");
    return camera;
}

}  // namespace

PtoProject ParsePtoText(const std::string& text, const std::string& name) {
    std::vector<ImageLine> images;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() < 2 || line[0] != 'i' || !std::isspace(static_cast<unsigned char>(line[1])))
            continue;
        images.push_back({number, splitFields(line, LineError(name, number))});
    }
    if (images.empty()) throw RigError(name + ": the project has no image line ('i')");

    std::map<std::string, int> uses;
    for (const ImageLine& image : images)
        ++uses[image.fields.count("n") ? image.fields.at("n") : ""];

    PtoProject project;
    project.rig.setNumberCameras(static_cast<int>(images.size()));
    project.sources.resize(images.size());
    double radius = 0.0;
    for (size_t k = 0; k < images.size(); ++k) {
        const ImageValues in(images, k, name);
        PtoSource& source = project.sources[k];
        source.line = images[k].line;
        source.file = in.text("n");
        const bool shared = !source.file.empty() && uses[source.file] > 1;
        CameraDefinition camera = readCamera(in, shared, &source, &project.notes);
        camera.setOutputView("cam" + std::to_string(k + 1));
        radius = std::max(radius, camera.getPosition().norm());
        project.rig.setCamera(static_cast<int>(k), camera);
    }
    project.rig.setRigDiameter(2.0 * radius);
    return project;
}

PtoProject ReadPtoFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw RigError(path + ": cannot open the project file");
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw RigError(path + ": cannot read the project file");
    return ParsePtoText(text.str(), path);
}

}  // namespace Research
}  // namespace Korvane
