// SPDX-License-Identifier: Apache-2.0
#include "RigSidecar.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
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
        // Two cameras on one view would show one camera's footage as the other's.
        std::unordered_map<std::string, int> cameraOfView;
        for (int c = 0; c < rig.m_cameraCount; ++c) {
            if (!handler.getCamera(c).hasCropWindow()) ++rig.m_wholeFileCameraCount;
            const std::string view = handler.getCamera(c).getOutputView();
            if (view.empty()) continue;
            const auto [it, added] = cameraOfView.emplace(view, c);
            if (!added)
                throw Error(path + ": cameras " + std::to_string(it->second + 1) + " and " +
                            std::to_string(c + 1) + " both have the view '" + view + "'");
        }
    } catch (const Korvane::Research::RigError& e) {
        throw Error(e.userMessage());
    }
    return rig;
}

void RigSidecar::addMissingViews() const {
    std::vector<std::string> views = PX::Image::Views::names();
    const size_t before = views.size();
    std::unordered_set<std::string> known(views.begin(), views.end());
    auto need = [&](const std::string& name) {
        if (known.insert(name).second) views.push_back(name);
    };
    need("main");
    for (int c = 1; c <= m_cameraCount; ++c) need("cam" + std::to_string(c));
    if (views.size() != before) PX::Image::Views::setNames(views);
}

}  // namespace Vireo
