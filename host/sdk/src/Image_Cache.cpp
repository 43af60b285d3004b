// SPDX-License-Identifier: Apache-2.0
#include "px/image/Image_Cache.h"

#include <signal.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace PX {
namespace Image {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderPrefix = "proc-";

std::string rootFromEnvironment() {
    const char* dir = std::getenv("VIREO_CACHE_DIR");
    if (dir && *dir) return dir;
    // The XDG base-directory rules ignore a relative XDG_CACHE_HOME.
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/vireo";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.cache/vireo";
    return {};
}

uint64_t maxBytesFromEnvironment() {
    const char* text = std::getenv("VIREO_CACHE_SIZE_MB");
    if (!text || !*text) return Image_Cache::kDefaultMaxBytes;
    char* end = nullptr;
    errno = 0;
    const unsigned long long mb = std::strtoull(text, &end, 10);
    if (errno || *end || *text == '-') return Image_Cache::kDefaultMaxBytes;
    return mb > (UINT64_MAX >> 20) ? UINT64_MAX : uint64_t(mb) << 20;
}

// The pid in a folder name "proc-<pid>-<n>", or 0 when the name is not one of ours.
pid_t ownerOf(const std::string& name) {
    const std::string prefix = kFolderPrefix;
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    unsigned long pid = 0, n = 0;
    char tail = 0;
    if (std::sscanf(name.c_str() + prefix.size(), "%lu-%lu%c", &pid, &n, &tail) != 2) return 0;
    return pid > 0 ? pid_t(pid) : 0;
}

bool processIsGone(pid_t pid) {
    // EPERM means it exists under another user.
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

void removeFoldersOfGoneProcesses(const fs::path& root) {
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const pid_t pid = ownerOf(it->path().filename().string());
        std::error_code ignored;
        if (pid && it->is_directory(ignored) && processIsGone(pid))
            fs::remove_all(it->path(), ignored);
    }
}

// Makes root/proc-<pid>-<n>; empty on failure.
std::string makeProcessFolder(const std::string& root) {
    static std::atomic<unsigned> s_instances{0};
    if (root.empty()) return {};
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) return {};
    removeFoldersOfGoneProcesses(root);

    const fs::path folder = fs::path(root) / (kFolderPrefix + std::to_string(::getpid()) + "-" +
                                              std::to_string(s_instances++));
    // A folder of this name belonged to an earlier process with the same pid.
    fs::remove_all(folder, ec);
    if (!fs::create_directory(folder, ec) || ec) return {};
    fs::permissions(folder, fs::perms::owner_all, ec);
    return folder.string();
}

}  // namespace

Image_Cache& Image_Cache::mainCache() {
    static Image_Cache cache(rootFromEnvironment(), maxBytesFromEnvironment());
    return cache;
}

Image_Cache::Image_Cache(const std::string& root, uint64_t maxBytes)
    : m_directory(makeProcessFolder(root)), m_ownerPid(::getpid()), m_maxBytes(maxBytes) {}

Image_Cache::~Image_Cache() {
    if (m_directory.empty() || ::getpid() != m_ownerPid) return;
    std::error_code ec;
    fs::remove_all(m_directory, ec);
}

std::string Image_Cache::filename(const Hash& key) const { return path(key.value()); }

std::string Image_Cache::path(uint64_t key) const {
    if (m_directory.empty()) return {};
    char name[32];
    std::snprintf(name, sizeof name, "/%016" PRIx64 ".pxc", key);
    return m_directory + name;
}

uint64_t Image_Cache::completeSize(const Hash& key) const {
    uint64_t bytes = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_entries.find(key.value());
        if (it == m_entries.end()) return 0;
        touch(it->second);
        bytes = it->second.bytes;
    }
    std::error_code ec;
    const uintmax_t onDisk = fs::file_size(filename(key), ec);
    return !ec && onDisk == bytes ? bytes : 0;
}

bool Image_Cache::is_cached(const Hash& key) const { return completeSize(key) != 0; }

std::unique_ptr<std::istream> Image_Cache::open(const Hash& key) const {
    const uint64_t bytes = completeSize(key);
    if (!bytes) return nullptr;
    auto in = std::make_unique<std::ifstream>(filename(key), std::ios::binary);
    // Measured again on the open file: between the look-up and the open, the entry may have
    // been evicted and its name reserved anew.
    if (!in->seekg(0, std::ios::end) || uint64_t(in->tellg()) != bytes) return nullptr;
    in->seekg(0);
    return in;
}

bool Image_Cache::reserve(const Hash& key, size_t bytes) {
    if (m_directory.empty() || bytes == 0) return false;
    std::error_code ec;
    const fs::space_info space = fs::space(m_directory, ec);
    if (ec || space.available < bytes) return false;

    std::lock_guard<std::mutex> lock(m_mutex);
    if (bytes > m_maxBytes || m_entries.count(key.value())) return false;
    evictUntil(m_maxBytes - bytes);
    // A writer whose reservation was evicted before it opened the file leaves it behind; the
    // name is unlinked so that the new writer starts a file of its own.
    fs::remove(filename(key), ec);
    m_lru.push_front(key.value());
    m_entries.emplace(key.value(), Entry{bytes, m_lru.begin()});
    m_usedBytes += bytes;
    return true;
}

void Image_Cache::erase(const Hash& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    removeEntry(key.value());
}

void Image_Cache::setMaxBytes(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_maxBytes = bytes;
    evictUntil(bytes);
}

uint64_t Image_Cache::maxBytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_maxBytes;
}

uint64_t Image_Cache::usedBytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_usedBytes;
}

void Image_Cache::touch(const Entry& entry) const { m_lru.splice(m_lru.begin(), m_lru, entry.lru); }

void Image_Cache::evictUntil(uint64_t maxUsed) {
    while (m_usedBytes > maxUsed && !m_lru.empty()) removeEntry(m_lru.back());
}

void Image_Cache::removeEntry(uint64_t key) {
    const auto it = m_entries.find(key);
    if (it == m_entries.end()) return;
    std::error_code ec;
    // Unlinked under the lock: a new reservation of the same key must not lose its file.
    fs::remove(path(key), ec);
    m_usedBytes -= it->second.bytes;
    m_lru.erase(it->second.lru);
    m_entries.erase(it);
}

}  // namespace Image
}  // namespace PX
