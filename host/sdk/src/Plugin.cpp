// SPDX-License-Identifier: Apache-2.0
#include "px/image/Plugin.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "OpRegistry.h"

namespace PX {
namespace Image {
namespace Plugins {

namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
std::string g_defaultFolder;
std::vector<std::string> g_loaded;

std::string canonicalName(const std::string& file) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(fs::path(file), ec);
    return ec ? file : p.string();
}

}  // namespace

std::vector<std::string> searchPath() {
    std::vector<std::string> folders;
    if (const char* env = std::getenv("VIREO_PLUGIN_PATH")) {
        std::string s = env;
        size_t start = 0;
        while (start <= s.size()) {
            const size_t colon = s.find(':', start);
            const std::string part =
                s.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!part.empty()) folders.push_back(part);
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_defaultFolder.empty()) folders.push_back(g_defaultFolder);
    return folders;
}

void setDefaultFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_defaultFolder = folder;
}

std::vector<std::string> load(const std::string& file) {
    const std::string name = canonicalName(file);
    std::lock_guard<std::mutex> lock(g_mutex);
    if (std::find(g_loaded.begin(), g_loaded.end(), name) != g_loaded.end())
        return detail::OpRegistry::instance().namesFrom(name);
    if (!fs::exists(name)) throw PluginError(file + ": no such file");

    detail::OpRegistry& registry = detail::OpRegistry::instance();
    registry.beginLoading(name);
    // RTLD_NOW: a missing symbol fails here, with the loader's message, not at first use.
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::vector<std::string> added = registry.endLoading();
    if (!handle) {
        const char* why = dlerror();
        throw PluginError(file + ": cannot load: " + (why ? why : "unknown reason"));
    }
    if (added.empty()) {
        dlclose(handle);
        throw PluginError(file + ": loaded, but registers no operator");
    }
    g_loaded.push_back(name);
    return added;
}

bool validClassName(const std::string& name) {
    if (name.empty() || name.size() > 200 || std::isdigit(static_cast<unsigned char>(name[0])))
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

bool loadFor(const std::string& className) {
    if (detail::OpRegistry::instance().find(className)) return true;
    // The name becomes a file name: only a plain name, looked up in the plug-in folders.
    if (!validClassName(className)) return false;
    for (const std::string& folder : searchPath()) {
        const fs::path candidate = fs::path(folder) / (className + ".so");
        if (!fs::exists(candidate)) continue;
        load(candidate.string());
        return detail::OpRegistry::instance().find(className) != nullptr;
    }
    return false;
}

std::vector<std::string> loadAll() {
    std::vector<std::string> errors;
    for (const std::string& folder : searchPath()) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            if (entry.path().extension() == ".so") files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            try {
                load(f.string());
            } catch (const PluginError& e) {
                errors.push_back(e.what());
            }
        }
    }
    return errors;
}

std::vector<std::string> loaded() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_loaded;
}

}  // namespace Plugins
}  // namespace Image
}  // namespace PX
