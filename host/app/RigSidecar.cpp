// SPDX-License-Identifier: Apache-2.0
#include "RigSidecar.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "px/image/OutputContext.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigError.h"
#include "vellacam/RigFile.h"

namespace Vireo {

namespace {

// The rig files read so far, with the modification time and size they had. Metadata is asked
// for on every validation of every view, so a file is parsed again only when it changed.
struct CachedRig {
    std::filesystem::file_time_type time;
    std::uintmax_t size = 0;
    RigSidecar rig;
};
std::mutex g_cacheMutex;
std::map<std::string, CachedRig> g_cache;

}  // namespace

RigSidecar RigSidecar::read(const std::string& path) {
    std::error_code timeError, sizeError;
    const auto time = std::filesystem::last_write_time(path, timeError);
    const auto size = std::filesystem::file_size(path, sizeError);
    const bool stamped = !timeError && !sizeError;
    if (stamped) {
        std::lock_guard<std::mutex> lock(g_cacheMutex);
        const auto it = g_cache.find(path);
        if (it != g_cache.end() && it->second.time == time && it->second.size == size)
            return it->second.rig;
    }
    RigSidecar rig = parse(path);
    if (stamped) {
        std::lock_guard<std::mutex> lock(g_cacheMutex);
        g_cache[path] = CachedRig{time, size, rig};
    }
    return rig;
}

RigSidecar RigSidecar::parse(const std::string& path) {
    RigSidecar rig;
    try {
        Korvane::Research::ReadRigFile(path, &rig.m_bundle);
        Korvane::Research::MetaDataHandler handler;
        handler.updateMetaDataBundle(rig.m_bundle);
        rig.m_cameraCount = handler.getNumberCameras();
    } catch (const Korvane::Research::RigError& e) {
        throw Error(e.userMessage());
    }
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
