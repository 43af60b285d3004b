// SPDX-License-Identifier: Apache-2.0
#include "plugin/ResearchKilnPlanarIop.h"

#include <algorithm>
#include <fstream>
#include <mutex>
#include <new>

#include "base/Exception.h"
#include "kiln/Exception.h"
#include "px/image/Application.h"
#include "px/image/Image_Cache.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

namespace {

// Largest piece written to a cache file at once.
constexpr size_t kWritePiece = 0x2000000;

Hash channelKey(const Hash& key, Channel c) {
    Hash h = key;
    h.append(c);
    return h;
}

void putLittleEndian(unsigned char* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t getLittleEndian(const unsigned char* in) {
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

}  // namespace

void ResearchKilnPlanarIop::reportProgress(float fraction) {
    const float mapped = map(fraction);
    if (mapped < 1.0f)
        progressFraction(mapped);
    else
        progressDismiss();
}

void ResearchKilnPlanarIop::reportMessage(const std::string& message) { progressMessage(message); }

void ResearchKilnPlanarIop::renderPlane(ImagePlane& plane) {
    try {
        if (aborted()) throw Korvane::Base::InterruptedException("render aborted");
        const bool useCache = m_cacheThisPlane && Application::IsGUIActive();
        const Hash key = useCache ? cacheKey() : Hash();
        if (useCache && readFromCache(plane, key)) return;
        plane.makeWritable();
        renderHook(plane);
        if (useCache) writeToCache(plane, key);
    } catch (const Korvane::Base::InterruptedException&) {
        // The host gave the render up: no pixels and no error.
    } catch (const Korvane::Base::MessageException& e) {
        error("%s", e.userMessage().c_str());
    } catch (const std::bad_alloc&) {
        throw;  // the host's render names the image too large for the machine
    } catch (const Kiln::OutOfMemoryError&) {
        throw std::bad_alloc();  // the same from a device
    } catch (const std::exception&) {
        error("Exception while running kernel on device");
    }
}

bool ResearchKilnPlanarIop::readFromCache(ImagePlane& plane, const Hash& key) {
    Image_Cache& cache = Image_Cache::mainCache();
    for (Channel c : plane.channels())
        if (!cache.is_cached(channelKey(key, c))) return false;

    std::lock_guard<std::mutex> lock(plane.writeLock());
    plane.makeWritableLocked();
    const size_t count = size_t(plane.bounds().w()) * plane.bounds().h();
    for (Channel c : plane.channels()) {
        std::unique_ptr<std::istream> in = cache.open(channelKey(key, c));
        unsigned char header[8];
        if (!in || !in->read(reinterpret_cast<char*>(header), 8) ||
            getLittleEndian(header) != kCacheMagic || getLittleEndian(header + 4) != kCacheVersion)
            continue;  // a damaged entry is skipped
        float* dst = plane.writable() + plane.chanNo(c) * plane.chanStride();
        in->read(reinterpret_cast<char*>(dst), std::streamsize(count * sizeof(float)));
    }
    return true;
}

void ResearchKilnPlanarIop::writeToCache(const ImagePlane& plane, const Hash& key) {
    // Only planes laid out one channel after another can be stored channel by channel.
    if (!plane.isChannelByChannel() || !plane.readable()) return;
    Image_Cache& cache = Image_Cache::mainCache();
    const size_t bytes = size_t(plane.bounds().w()) * plane.bounds().h() * sizeof(float);
    for (Channel c : plane.channels()) {
        const Hash ck = channelKey(key, c);
        if (cache.is_cached(ck) || !cache.reserve(ck, bytes + 8)) continue;
        std::ofstream out(cache.filename(ck), std::ios::binary);
        unsigned char header[8];
        putLittleEndian(header, kCacheMagic);
        putLittleEndian(header + 4, kCacheVersion);
        out.write(reinterpret_cast<const char*>(header), 8);
        const char* src =
            reinterpret_cast<const char*>(plane.readable() + plane.chanNo(c) * plane.chanStride());
        for (size_t done = 0; done < bytes && out; done += kWritePiece)
            out.write(src + done, std::streamsize(std::min(kWritePiece, bytes - done)));
        if (!out) cache.erase(ck);  // a channel whose file cannot be written is left out
    }
}

}  // namespace Research
}  // namespace Korvane
