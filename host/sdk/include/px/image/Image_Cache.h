// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "px/image/Hash.h"

namespace PX {
namespace Image {

/// The disk image cache: files of rendered pixels kept under a 64-bit key (a Hash), so that an
/// interactive session does not render the same plane twice.
///
/// Writing an entry: reserve(key, n) -> filename(key) -> open that file for binary writing,
/// write exactly n bytes front to back (in as many pieces as wanted) -> close. Reading it back:
/// is_cached(key) -> open(key), which gives the whole file from its first byte.
///
/// Completeness: an entry counts as present only once its file holds exactly the n bytes that
/// were reserved. The file only grows while it is written, so a reader on another thread never
/// sees a half-written entry, and a write that fails (disk full) leaves an entry that is never
/// reported; it goes out with the least recently used ones or through erase().
///
/// Place: one folder per process, `proc-<pid>-<n>` under a root folder. The root of mainCache()
/// is $VIREO_CACHE_DIR, else $XDG_CACHE_HOME/vireo, else $HOME/.cache/vireo. Entry files are
/// `<key as 16 hex digits>.pxc`. Channel numbers beyond the standard ones are only stable within
/// a process, so entries never outlive it: the folder is removed when the cache is destroyed
/// (at normal exit for mainCache(); a forked child never removes its parent's folder), and
/// folders of processes that no longer exist are removed when a cache is created. Nothing else
/// under the root is touched.
///
/// Size: at most maxBytes() of reserved bytes (mainCache(): $VIREO_CACHE_SIZE_MB mebibytes,
/// default 2048; 0 turns the cache off). Reserving evicts the least recently used entries
/// (reserve and open count as uses) until the new entry fits. Eviction unlinks the file, so a
/// reader that has it open keeps reading whole data.
///
/// Errors never throw: a folder that cannot be made, a disk without room or an unreadable
/// file make the cache answer "not cached", reserve false and open null.
///
/// Every member is safe to call from several render threads at once.
class Image_Cache {
public:
    static constexpr uint64_t kDefaultMaxBytes = uint64_t(2048) << 20;

    /// The one cache of the process, shared by every node; made on first use from the
    /// environment described above.
    static Image_Cache& mainCache();

    /// A cache in a folder of its own under `root` (made when missing), holding at most
    /// `maxBytes`.
    Image_Cache(const std::string& root, uint64_t maxBytes);
    /// Removes the process's folder with every entry in it.
    ~Image_Cache();
    Image_Cache(const Image_Cache&) = delete;
    Image_Cache& operator=(const Image_Cache&) = delete;

    /// True when the entry for `key` is completely written.
    bool is_cached(const Hash& key) const;
    /// The complete entry for `key`, positioned at its first byte; null when there is none.
    std::unique_ptr<std::istream> open(const Hash& key) const;
    /// Reserves an entry of `bytes` (> 0) bytes for `key`, evicting older entries to make room.
    /// False when the cache is unusable or off, `bytes` exceeds the limit or the free space of
    /// the disk, or `key` is already reserved (its writer, maybe on another thread, fills it;
    /// the contents of one key are the same whoever renders them).
    bool reserve(const Hash& key, size_t bytes);
    /// The file to write the entry for `key` to; it depends on the key only.
    std::string filename(const Hash& key) const;
    /// Drops the entry for `key` and its file, e.g. after a write that failed.
    void erase(const Hash& key);

    /// Sets the size limit and evicts least recently used entries until the total fits.
    void setMaxBytes(uint64_t bytes);
    uint64_t maxBytes() const;
    /// The sum of the sizes of all reservations held.
    uint64_t usedBytes() const;
    /// The process's folder; empty when it could not be made.
    const std::string& directory() const { return m_directory; }

private:
    struct Entry {
        uint64_t bytes;
        std::list<uint64_t>::iterator lru;  // position in m_lru
    };

    std::string path(uint64_t key) const;
    // Called with m_mutex held.
    void touch(const Entry& entry) const;
    void evictUntil(uint64_t maxUsed);
    void removeEntry(uint64_t key);
    // The reserved size of `key` when its file is complete, 0 otherwise; counts as a use.
    uint64_t completeSize(const Hash& key) const;

    std::string m_directory;
    pid_t m_ownerPid;
    mutable std::mutex m_mutex;
    uint64_t m_maxBytes;
    uint64_t m_usedBytes = 0;
    mutable std::list<uint64_t> m_lru;  // most recently used first
    std::unordered_map<uint64_t, Entry> m_entries;
};

}  // namespace Image
}  // namespace PX
