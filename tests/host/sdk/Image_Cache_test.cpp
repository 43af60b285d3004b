// SPDX-License-Identifier: Apache-2.0
#include "px/image/Image_Cache.h"

#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using PX::Image::Hash;
using PX::Image::Image_Cache;
namespace fs = std::filesystem;

namespace {

Hash keyOf(int n) {
    Hash h;
    h.append(n);
    return h;
}

/// An entry as a plane render writes it: an 8-byte header, then pixels.
std::string entryBytes(size_t pixelBytes, unsigned char seed) {
    std::string bytes = "!NLK";
    bytes += std::string("\x01\x00\x00\x00", 4);
    for (size_t i = 0; i < pixelBytes; ++i) bytes += char((i * 31 + seed) & 0xff);
    return bytes;
}

/// reserve -> filename -> write in pieces of `piece` bytes -> close.
bool store(Image_Cache& cache, const Hash& key, const std::string& bytes, size_t piece = 4096) {
    if (!cache.reserve(key, bytes.size())) return false;
    std::ofstream out(cache.filename(key), std::ios::binary);
    for (size_t at = 0; at < bytes.size(); at += piece)
        out.write(bytes.data() + at, std::streamsize(std::min(piece, bytes.size() - at)));
    return bool(out);
}

std::string readAll(std::istream& in) {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ImageCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "image_cache_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }
    void TearDown() override { fs::remove_all(m_root); }
    fs::path m_root;
};

}  // namespace

TEST_F(ImageCacheTest, EntryIsAbsentUntilItsFileIsCompleteAndAFailedOneCanBeErased) {
    Image_Cache cache(m_root.string(), 1 << 20);
    const std::string bytes = entryBytes(5000, 3);
    ASSERT_TRUE(cache.reserve(keyOf(1), bytes.size()));
    EXPECT_FALSE(cache.is_cached(keyOf(1))) << "reserved, nothing written";
    EXPECT_FALSE(cache.reserve(keyOf(1), bytes.size())) << "a key is reserved once";

    std::ofstream out(cache.filename(keyOf(1)), std::ios::binary);
    out.write(bytes.data(), 2000);
    out.flush();
    EXPECT_FALSE(cache.is_cached(keyOf(1))) << "half written";
    EXPECT_EQ(cache.open(keyOf(1)), nullptr);
    out.write(bytes.data() + 2000, std::streamsize(bytes.size() - 2000));
    out.close();
    EXPECT_TRUE(cache.is_cached(keyOf(1)));

    // A write that failed half way is erased, and the key can be stored again.
    ASSERT_TRUE(cache.reserve(keyOf(2), 1000));
    std::ofstream(cache.filename(keyOf(2)), std::ios::binary) << "short";
    EXPECT_EQ(cache.usedBytes(), bytes.size() + 1000);
    cache.erase(keyOf(2));
    EXPECT_EQ(cache.usedBytes(), bytes.size());
    EXPECT_FALSE(fs::exists(cache.filename(keyOf(2))));
    EXPECT_TRUE(store(cache, keyOf(2), entryBytes(992, 1)));
    EXPECT_TRUE(cache.is_cached(keyOf(2)));
}

TEST_F(ImageCacheTest, EvictionDropsLeastRecentlyUsedAndStaysUnderLimit) {
    Image_Cache cache(m_root.string(), 3000);
    for (int k = 1; k <= 3; ++k) ASSERT_TRUE(store(cache, keyOf(k), entryBytes(992, 1)));
    ASSERT_NE(cache.open(keyOf(1)), nullptr);  // 2 is now the least recently used

    ASSERT_TRUE(store(cache, keyOf(4), entryBytes(992, 1)));
    EXPECT_LE(cache.usedBytes(), 3000u);
    EXPECT_FALSE(cache.is_cached(keyOf(2)));
    EXPECT_FALSE(fs::exists(cache.filename(keyOf(2))));
    EXPECT_TRUE(cache.is_cached(keyOf(1)));
    EXPECT_TRUE(cache.is_cached(keyOf(3)));
    EXPECT_TRUE(cache.is_cached(keyOf(4)));

    EXPECT_FALSE(cache.reserve(keyOf(5), 3001)) << "larger than the whole cache";
    EXPECT_TRUE(cache.is_cached(keyOf(3))) << "a refused reservation evicts nothing";

    cache.setMaxBytes(2000);  // the two most recently used stay: 3 and 4 (is_cached is a use)
    EXPECT_EQ(cache.usedBytes(), 2000u);
    EXPECT_FALSE(cache.is_cached(keyOf(1)));
    EXPECT_TRUE(cache.is_cached(keyOf(3)));
    EXPECT_TRUE(cache.is_cached(keyOf(4)));
}

TEST_F(ImageCacheTest, ReaderKeepsWholeDataOfAnEvictedEntry) {
    Image_Cache cache(m_root.string(), 2000);
    const std::string bytes = entryBytes(1992, 9);
    ASSERT_TRUE(store(cache, keyOf(1), bytes));
    auto in = cache.open(keyOf(1));
    ASSERT_NE(in, nullptr);
    ASSERT_TRUE(store(cache, keyOf(2), entryBytes(1992, 4)));  // evicts 1
    EXPECT_FALSE(cache.is_cached(keyOf(1)));
    EXPECT_EQ(readAll(*in), bytes);
}

namespace {

/// Every thread asks for every key, in its own order, as render threads of one plane do; writes
/// what it is granted. Returns how often each key was granted; `overLimit` is set when the
/// cache ever held more than its limit.
std::vector<int> reserveFromThreads(Image_Cache& cache, int keys, std::atomic<bool>& overLimit) {
    constexpr int kThreads = 8;
    std::vector<std::atomic<int>> granted(keys);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < keys; ++i) {
                const int k = (i * 7 + t * 37) % keys;
                if (cache.reserve(keyOf(k), 1000)) {
                    ++granted[k];
                    std::ofstream(cache.filename(keyOf(k)), std::ios::binary)
                        << std::string(1000, 'x');
                }
                if (cache.usedBytes() > cache.maxBytes()) overLimit = true;
                cache.is_cached(keyOf((k + 1) % keys));
            }
        });
    for (auto& t : threads) t.join();
    return std::vector<int>(granted.begin(), granted.end());
}

}  // namespace

// Without eviction each key is granted once; with it, a key may be granted again once
// evicted, but the cache never holds more than its limit.
TEST_F(ImageCacheTest, ConcurrentReservesGrantEachKeyOnceAndStayWithinTheLimit) {
    Image_Cache roomy(m_root.string(), 1 << 20), tight(m_root.string(), 100 * 1000);
    std::atomic<bool> overLimit{false};
    const std::vector<int> once = reserveFromThreads(roomy, 300, overLimit);
    const std::vector<int> evicted = reserveFromThreads(tight, 300, overLimit);
    EXPECT_FALSE(overLimit);
    EXPECT_EQ(roomy.usedBytes(), 300u * 1000);
    EXPECT_EQ(tight.usedBytes(), 100u * 1000);
    int cached = 0;
    for (int k = 0; k < 300; ++k) {
        EXPECT_EQ(once[k], 1) << "key " << k;
        EXPECT_TRUE(roomy.is_cached(keyOf(k))) << "key " << k;
        EXPECT_GE(evicted[k], 1) << "key " << k;
        cached += tight.is_cached(keyOf(k));
    }
    EXPECT_EQ(cached, 100) << "every reservation held is completely written";
}

TEST_F(ImageCacheTest, UncreatableFolderMeansNothingIsCached) {
    const fs::path file = m_root / "a_file";
    std::ofstream(file) << "not a folder";
    Image_Cache cache((file / "cache").string(), 1 << 20);

    EXPECT_TRUE(cache.directory().empty());
    EXPECT_FALSE(cache.reserve(keyOf(1), 100));
    EXPECT_FALSE(cache.is_cached(keyOf(1)));
    EXPECT_EQ(cache.open(keyOf(1)), nullptr);
    std::ofstream out(cache.filename(keyOf(1)), std::ios::binary);
    EXPECT_FALSE(out.is_open());
}

TEST_F(ImageCacheTest, ReservationLargerThanTheFreeDiskSpaceIsRefused) {
    Image_Cache cache(m_root.string(), UINT64_MAX);
    EXPECT_FALSE(cache.reserve(keyOf(1), size_t(1) << 62));
    EXPECT_EQ(cache.usedBytes(), 0u);
}

TEST_F(ImageCacheTest, FoldersLiveExactlyAsLongAsTheirProcess) {
    // A pid that certainly belonged to a process that has ended.
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);

    const fs::path stale = m_root / ("proc-" + std::to_string(child) + "-0");
    const fs::path live = m_root / ("proc-" + std::to_string(::getpid()) + "-999");
    const fs::path foreign = m_root / "proc-notes";
    for (const fs::path& p : {stale, live, foreign}) {
        fs::create_directories(p);
        std::ofstream(p / "0000000000000001.pxc") << "x";
    }

    std::string folder;
    {
        Image_Cache cache(m_root.string(), 1 << 20);
        folder = cache.directory();
        ASSERT_TRUE(store(cache, keyOf(1), entryBytes(100, 0)));
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_FALSE(fs::exists(stale));
        EXPECT_TRUE(fs::exists(live));
        EXPECT_TRUE(fs::exists(foreign));

        Image_Cache second(m_root.string(), 1 << 20);
        EXPECT_NE(second.directory(), folder);
        EXPECT_FALSE(second.is_cached(keyOf(1))) << "caches do not share entries";
    }
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::exists(live));
}

TEST_F(ImageCacheTest, MainCacheTakesPlaceAndSizeFromTheEnvironment) {
    ::setenv("VIREO_CACHE_DIR", m_root.c_str(), 1);
    ::setenv("VIREO_CACHE_SIZE_MB", "3", 1);
    Image_Cache& cache = Image_Cache::mainCache();
    EXPECT_EQ(&cache, &Image_Cache::mainCache());
    EXPECT_EQ(fs::path(cache.directory()).parent_path(), m_root);
    EXPECT_EQ(cache.maxBytes(), 3u << 20);
    ::unsetenv("VIREO_CACHE_DIR");
    ::unsetenv("VIREO_CACHE_SIZE_MB");
}
