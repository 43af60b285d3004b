// SPDX-License-Identifier: Apache-2.0
#include "px/image/Format.h"

#include <deque>
#include <mutex>

namespace PX {
namespace Image {

namespace {

struct FormatList {
    std::mutex mutex;
    // A deque keeps references to earlier formats valid while formats are added.
    std::deque<Format> storage;

    FormatList() {
        for (const Format& f : {Format(640, 480, 1.0, "PC_Video"),
                                Format(1920, 1080, 1.0, "HD_1080"),
                                Format(2048, 1024, 1.0, "2K_LatLong"),
                                Format(3840, 2160, 1.0, "UHD_4K"),
                                Format(4096, 2048, 1.0, "4K_LatLong")})
            storage.push_back(f);
    }
};

FormatList& list() {
    static FormatList l;
    return l;
}

}  // namespace

std::vector<Format> Format::formats() {
    FormatList& l = list();
    std::lock_guard<std::mutex> lock(l.mutex);
    return {l.storage.begin(), l.storage.end()};
}

const Format& Format::add(const Format& format) {
    FormatList& l = list();
    std::lock_guard<std::mutex> lock(l.mutex);
    for (const Format& f : l.storage)
        if (f == format) return f;
    l.storage.push_back(format);
    return l.storage.back();
}

const Format* Format::find(const std::string& name) {
    FormatList& l = list();
    std::lock_guard<std::mutex> lock(l.mutex);
    for (const Format& f : l.storage)
        if (f.name() == name) return &f;
    return nullptr;
}

}  // namespace Image
}  // namespace PX
