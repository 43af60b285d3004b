// SPDX-License-Identifier: Apache-2.0
#include "vellacam/RigFile.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "vellacam/CameraRigDefinition.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RadialDistortion.h"
#include "vellacam/RigError.h"

namespace Korvane {
namespace Research {

namespace {

using nlohmann::json;

constexpr int kVersion = 1;

/// Typed access to the fields of one JSON object; every failure names the field by its path
/// from the root ("cameras[2].format.width").
class FieldReader {
public:
    FieldReader(const std::string& file, const json& object, std::string where)
        : m_file(file), m_object(object), m_where(std::move(where)) {
        if (!m_object.is_object()) failAt(m_where, "must be an object");
    }

    void requireKnown(std::initializer_list<const char*> known) const {
        for (const auto& item : m_object.items())
            if (std::find(known.begin(), known.end(), item.key()) == known.end())
                fail(item.key(), "is not a known field");
    }

    /// Null when the field is absent and optional.
    const json* find(const char* name, bool required) const {
        const auto it = m_object.find(name);
        if (it != m_object.end()) return &*it;
        if (required) fail(name, "is missing");
        return nullptr;
    }

    FieldReader object(const char* name) const {
        return FieldReader(m_file, *find(name, true), path(name));
    }

    int positiveInteger(const char* name) const {
        const json& v = *find(name, true);
        if (!v.is_number_integer() || v.get<long long>() <= 0 || v.get<long long>() > 1000000)
            fail(name, "must be a positive integer");
        return v.get<int>();
    }

    int nonNegativeInteger(const char* name) const {
        const json& v = *find(name, true);
        if (!v.is_number_integer() || v.get<long long>() < 0 || v.get<long long>() > 1000000)
            fail(name, "must be an integer, not negative");
        return v.get<int>();
    }

    double number(const char* name, bool required, double fallback) const {
        const json* v = find(name, required);
        if (!v) return fallback;
        if (!v->is_number()) fail(name, "must be a number");
        return v->get<double>();
    }

    double positiveNumber(const char* name, bool required, double fallback) const {
        const double value = number(name, required, fallback);
        if (!(value > 0.0)) fail(name, "must be a positive number");
        return value;
    }

    template <int N>
    Eigen::Matrix<double, N, 1> numbers(const char* name,
                                        bool required,
                                        const Eigen::Matrix<double, N, 1>& fallback) const {
        const json* v = find(name, required);
        if (!v) return fallback;
        const bool ok =
            v->is_array() && v->size() == static_cast<size_t>(N) &&
            std::all_of(v->begin(), v->end(), [](const json& e) { return e.is_number(); });
        if (!ok) fail(name, "must be an array of " + std::to_string(N) + " numbers");
        Eigen::Matrix<double, N, 1> out;
        for (int k = 0; k < N; ++k) out[k] = (*v)[k].template get<double>();
        return out;
    }

    bool boolean(const char* name, bool fallback) const {
        const json* v = find(name, false);
        if (!v) return fallback;
        if (!v->is_boolean()) fail(name, "must be true or false");
        return v->get<bool>();
    }

    std::string text(const char* name, const std::string& fallback) const {
        const json* v = find(name, false);
        if (!v) return fallback;
        if (!v->is_string()) fail(name, "must be a string");
        return v->get<std::string>();
    }

    std::string path(const std::string& name) const {
        return m_where.empty() ? name : m_where + "." + name;
    }

    [[noreturn]] void fail(const std::string& name, const std::string& problem) const {
        failAt(path(name), problem);
    }

    [[noreturn]] void failAt(const std::string& field, const std::string& problem) const {
        throw RigError(m_file + ": '" + field + "' " + problem);
    }

private:
    const std::string& m_file;
    const json& m_object;
    std::string m_where;
};

ProjectionTypeEnum readProjection(const FieldReader& in) {
    in.find("projection", true);
    const std::string name = in.text("projection", "");
    if (name == "rectilinear") return ProjectionTypeEnum::Rectilinear;
    if (name == "fisheye") return ProjectionTypeEnum::Fisheye;
    if (name == "latlong") return ProjectionTypeEnum::Latlong;
    in.fail("projection", "must be \"rectilinear\", \"fisheye\" or \"latlong\"");
}

CameraDefinition readCamera(const FieldReader& in, int index) {
    in.requireKnown({"view",
                     "format",
                     "projection",
                     "focal_length",
                     "sensor_size",
                     "centre_shift",
                     "distortion",
                     "undistort",
                     "position",
                     "rotation",
                     "enabled",
                     "image_circle",
                     "crop_window",
                     "links"});
    CameraDefinition camera;
    camera.setOutputView(in.text("view", "cam" + std::to_string(index + 1)));
    const FieldReader format = in.object("format");
    format.requireKnown({"width", "height", "pixel_aspect"});
    camera.setFormat(format.positiveInteger("width"),
                     format.positiveInteger("height"),
                     format.positiveNumber("pixel_aspect", false, 1.0));
    camera.setProjection(readProjection(in));
    const bool needsFocal = camera.getProjection() != ProjectionTypeEnum::Latlong;
    camera.setFocalLength(in.positiveNumber("focal_length", needsFocal, 1.0));
    const Eigen::Vector2d sensor = in.numbers<2>("sensor_size", false, camera.getSensorSize());
    if (!(sensor.minCoeff() > 0.0)) in.fail("sensor_size", "must hold two positive numbers");
    camera.setSensorSize(sensor);
    camera.setCentreShift(in.numbers<2>("centre_shift", false, Eigen::Vector2d::Zero()));
    camera.setDistortion(in.numbers<3>("distortion", false, Eigen::Vector3d::Zero()));
    if (!RadialDistortion(camera.getDistortion()).isUsable())
        in.fail("distortion", "must leave d = 1 - a - b - c positive");
    camera.setUndistort(in.boolean("undistort", true));
    camera.setPosition(in.numbers<3>("position", true, Eigen::Vector3d::Zero()));
    camera.setRotation(in.numbers<3>("rotation", true, Eigen::Vector3d::Zero()));
    camera.setEnabled(in.boolean("enabled", true));
    if (in.find("image_circle", false)) {
        const FieldReader circle = in.object("image_circle");
        circle.requireKnown({"centre", "radius"});
        camera.setImageCircle(circle.numbers<2>("centre", true, Eigen::Vector2d::Zero()),
                              circle.positiveNumber("radius", true, 0.0));
    }
    if (in.find("crop_window", false)) {
        const FieldReader window = in.object("crop_window");
        window.requireKnown({"x", "y"});
        camera.setCropWindow(
            Eigen::Vector2i(window.nonNegativeInteger("x"), window.nonNegativeInteger("y")));
    }
    return camera;
}

void readLinks(const FieldReader& in, int index, CameraRigDefinition* rig) {
    const json* links = in.find("links", false);
    if (!links) return;
    const int count = rig->getNumberCameras();
    if (!links->is_array()) in.fail("links", "must be an array of camera numbers");
    for (const json& number : *links) {
        if (!number.is_number_integer() || number.get<long long>() < 1 ||
            number.get<long long>() > count)
            in.fail("links", "must hold camera numbers from 1 to " + std::to_string(count));
        if (number.get<int>() - 1 == index) in.fail("links", "must not name its own camera");
        rig->setLinked(index, number.get<int>() - 1);
    }
}

json parseFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw RigError(path + ": cannot open the rig file");
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad() || !text) throw RigError(path + ": cannot read the rig file");
    const std::string content = text.str();
    // The field being read, kept as the parser goes, so that a number it cannot hold
    // (1e999) is reported at its field: "cameras[0].focal_length".
    struct Level {
        bool array;
        int index;
        std::string key;
    };
    std::vector<Level> levels;
    auto track = [&levels](int, json::parse_event_t event, json& parsed) {
        const bool starts = event == json::parse_event_t::object_start ||
                            event == json::parse_event_t::array_start ||
                            event == json::parse_event_t::value;
        if (starts && !levels.empty() && levels.back().array) ++levels.back().index;
        if (event == json::parse_event_t::object_start) levels.push_back({false, -1, {}});
        if (event == json::parse_event_t::array_start) levels.push_back({true, -1, {}});
        if (event == json::parse_event_t::key && !levels.empty())
            levels.back().key = parsed.get<std::string>();
        if ((event == json::parse_event_t::object_end || event == json::parse_event_t::array_end) &&
            !levels.empty())
            levels.pop_back();
        return true;
    };
    try {
        return json::parse(content, track);
    } catch (const json::out_of_range&) {
        // An array's index is that of its last element started, except in the innermost
        // array, whose failing element had not started yet.
        std::string field;
        for (size_t i = 0; i < levels.size(); ++i) {
            const Level& l = levels[i];
            const int index = l.index + (i + 1 == levels.size() ? 1 : 0);
            field +=
                l.array ? "[" + std::to_string(index) + "]" : (field.empty() ? "" : ".") + l.key;
        }
        throw RigError(path + ": '" + field + "' holds a number too large to represent");
    } catch (const json::parse_error& e) {
        const size_t end = std::min(e.byte, content.size());
        const auto line = 1 + std::count(content.begin(), content.begin() + end, '\n');
        throw RigError(path + ":" + std::to_string(line) + ": not valid JSON");
    }
}

// Written in the order of the format's description.
using ordered_json = nlohmann::ordered_json;

ordered_json vector(const Eigen::Ref<const Eigen::VectorXd>& v) {
    ordered_json out = ordered_json::array();
    for (Eigen::Index k = 0; k < v.size(); ++k) out.push_back(v[k]);
    return out;
}

const char* projectionText(ProjectionTypeEnum projection) {
    switch (projection) {
        case ProjectionTypeEnum::Rectilinear:
            return "rectilinear";
        case ProjectionTypeEnum::Fisheye:
            return "fisheye";
        case ProjectionTypeEnum::Latlong:
            return "latlong";
    }
    return "";
}

ordered_json cameraJson(const CameraRigDefinition& rig, int index) {
    const CameraDefinition& camera = rig.getCamera(index);
    ordered_json out;
    out["view"] = camera.getOutputView();
    out["format"] = {{"width", camera.getFormatWidth()},
                     {"height", camera.getFormatHeight()},
                     {"pixel_aspect", camera.getPixelAspect()}};
    out["projection"] = projectionText(camera.getProjection());
    if (camera.getProjection() != ProjectionTypeEnum::Latlong)
        out["focal_length"] = camera.getFocalLength();
    out["sensor_size"] = vector(camera.getSensorSize());
    out["centre_shift"] = vector(camera.getCentreShift());
    out["distortion"] = vector(camera.getDistortion());
    out["undistort"] = camera.getUndistort();
    out["position"] = vector(camera.getPosition());
    out["rotation"] = vector(camera.getRotation());
    out["enabled"] = camera.getEnabled();
    if (camera.hasImageCircle())
        out["image_circle"] = {{"centre", vector(camera.getImageCircleCentre())},
                               {"radius", camera.getImageCircleRadius()}};
    if (camera.hasCropWindow())
        out["crop_window"] = {{"x", camera.getCropWindowOffset().x()},
                              {"y", camera.getCropWindowOffset().y()}};
    ordered_json links = ordered_json::array();
    for (int link : rig.getLinks(index)) links.push_back(link + 1);
    out["links"] = links;
    return out;
}

}  // namespace

std::string RigFileText(const CameraRigDefinition& rig, double convergence) {
    ordered_json root;
    root["version"] = kVersion;
    root["diameter"] = rig.getRigDiameter();
    root["position"] = {0.0, 0.0, 0.0};
    root["rotation"] = {0.0, 0.0, 0.0};
    root["convergence"] = convergence;
    root["cameras"] = ordered_json::array();
    for (int c = 0; c < rig.getNumberCameras(); ++c) root["cameras"].push_back(cameraJson(rig, c));
    return root.dump(2) + "\n";
}

void ReadRigFile(const std::string& path, PX::Image::MetaData::Bundle* bundle) {
    const json root = parseFile(path);
    if (!root.is_object()) throw RigError(path + ": the rig file must hold a JSON object");
    const FieldReader in(path, root, "");
    in.requireKnown({"version", "cameras", "diameter", "position", "rotation", "convergence"});
    const json& version = *in.find("version", true);
    if (!version.is_number_integer() || version.get<long long>() != kVersion)
        in.fail("version", "must be " + std::to_string(kVersion));

    const json& cameras = *in.find("cameras", true);
    if (!cameras.is_array() || cameras.empty())
        in.fail("cameras", "must be a non-empty array of cameras");
    CameraRigDefinition rig;
    rig.setNumberCameras(static_cast<int>(cameras.size()));
    for (int c = 0; c < rig.getNumberCameras(); ++c) {
        const FieldReader camera(path, cameras[c], "cameras[" + std::to_string(c) + "]");
        rig.setCamera(c, readCamera(camera, c));
    }
    for (int c = 0; c < rig.getNumberCameras(); ++c)
        readLinks(FieldReader(path, cameras[c], "cameras[" + std::to_string(c) + "]"), c, &rig);
    const double diameter = in.number("diameter", false, 0.0);
    if (diameter < 0.0) in.fail("diameter", "must not be negative");
    rig.setRigDiameter(diameter);

    // Build the new bundle aside; the caller's bundle changes only after everything parsed.
    PX::Image::MetaData::Bundle fresh = *bundle;
    MetaDataHandler::eraseRigKeys(&fresh);
    MetaDataHandler handler;
    handler.updateMetaDataBundle(fresh);
    handler.setRig(rig);
    handler.setRigPosition(in.numbers<3>("position", false, Eigen::Vector3d::Zero()));
    handler.setRigRotation(in.numbers<3>("rotation", false, Eigen::Vector3d::Zero()));
    handler.setRigConvergence(
        in.positiveNumber("convergence", false, MetaDataHandler::kDefaultConvergence));
    *bundle = handler.getMetaDataBundle();
}

}  // namespace Research
}  // namespace Korvane
