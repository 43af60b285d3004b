// SPDX-License-Identifier: Apache-2.0
#include "RigSidecar.h"

#include <fstream>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "px/image/OutputContext.h"

namespace Vireo {

using nlohmann::json;
using PX::Image::MetaData::Bundle;

namespace {

void flattenInto(Bundle& bundle, const std::string& key, const json& value) {
    switch (value.type()) {
        case json::value_t::object:
            for (const auto& item : value.items())
                flattenInto(bundle, key + "/" + item.key(), item.value());
            return;
        case json::value_t::array: {
            bool numbers = true;
            for (const json& e : value) numbers = numbers && e.is_number();
            if (numbers) {
                std::vector<double> v;
                for (const json& e : value) v.push_back(e.get<double>());
                bundle.setData(key, std::move(v));
                return;
            }
            for (size_t i = 0; i < value.size(); ++i)
                flattenInto(bundle, key + "/" + std::to_string(i), value[i]);
            return;
        }
        case json::value_t::number_integer:
        case json::value_t::number_unsigned: {
            // Whole numbers beyond the range of int keep their value as a double.
            const double d = value.get<double>();
            if (d >= -2147483648.0 && d <= 2147483647.0)
                bundle.setData(key, int(value.get<long long>()));
            else
                bundle.setData(key, d);
            return;
        }
        case json::value_t::number_float:
            bundle.setData(key, value.get<double>());
            return;
        case json::value_t::string:
            bundle.setData(key, value.get<std::string>());
            return;
        case json::value_t::boolean:
            bundle.setData(key, value.get<bool>() ? 1 : 0);
            return;
        default:  // null, discarded
            return;
    }
}

}  // namespace

Bundle RigSidecar::flatten(const json& object) {
    Bundle bundle;
    for (const auto& item : object.items()) flattenInto(bundle, item.key(), item.value());
    return bundle;
}

RigSidecar RigSidecar::read(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw Error("cannot open rig file '" + path + "'");
    std::stringstream text;
    text << in.rdbuf();
    json parsed;
    try {
        parsed = json::parse(text.str());
    } catch (const json::parse_error& e) {
        // The parser's message carries "at line L, column C".
        throw Error("rig file '" + path + "': " + e.what());
    }
    if (!parsed.is_object()) throw Error("rig file '" + path + "': the top level is not an object");
    RigSidecar rig;
    rig.m_bundle = flatten(parsed);
    const auto cameras = parsed.find("cameras");
    if (cameras != parsed.end() && cameras->is_array()) rig.m_cameraCount = int(cameras->size());
    return rig;
}

void RigSidecar::addMissingViews() const {
    std::vector<std::string> views = PX::Image::Views::names();
    const size_t before = views.size();
    auto need = [&views](const std::string& name) {
        for (const std::string& v : views)
            if (v == name) return;
        views.push_back(name);
    };
    need("main");
    for (int c = 1; c <= m_cameraCount; ++c) need("cam" + std::to_string(c));
    if (views.size() != before) PX::Image::Views::setNames(views);
}

}  // namespace Vireo
