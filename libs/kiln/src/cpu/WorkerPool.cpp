// SPDX-License-Identifier: Apache-2.0
#include "kiln/WorkerPool.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "ProcessPool.h"
#include "ThreadPool.h"

namespace Kiln {

namespace {

std::mutex g_mutex;
unsigned g_threads = 0;  // 0: not decided yet
std::unique_ptr<detail::ThreadPool> g_pool;

unsigned defaultCount() {
    if (const char* env = std::getenv(WorkerPool::kEnvironmentVariable)) {
        try {
            return WorkerPool::ParseThreadCount(env, WorkerPool::kEnvironmentVariable);
        } catch (const std::invalid_argument&) {
            // A program that cares reports it (vireo does); the others run with the default.
        }
    }
    return std::clamp(std::thread::hardware_concurrency(), 1u, WorkerPool::kMaxThreads);
}

// Under g_mutex.
unsigned decidedCount() {
    if (g_threads == 0) g_threads = defaultCount();
    return g_threads;
}

}  // namespace

namespace detail {

ThreadPool& processPool() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_pool) g_pool = std::make_unique<ThreadPool>(decidedCount());
    return *g_pool;
}

}  // namespace detail

unsigned WorkerPool::ParseThreadCount(const std::string& text, const std::string& what) {
    const bool digits =
        !text.empty() && text.size() <= 4 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    const unsigned n = digits ? unsigned(std::stoul(text)) : 0;
    if (n < 1 || n > kMaxThreads)
        throw std::invalid_argument(what + ": '" + text.substr(0, 40) +
                                    "' is not a thread count (a whole number from 1 to " +
                                    std::to_string(kMaxThreads) + ")");
    return n;
}

unsigned WorkerPool::ThreadCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return decidedCount();
}

void WorkerPool::SetThreadCount(unsigned threads) {
    if (threads < 1 || threads > kMaxThreads)
        throw std::invalid_argument("a thread count from 1 to " + std::to_string(kMaxThreads) +
                                    " is needed, not " + std::to_string(threads));
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_pool && g_pool->threadCount() != threads)
        throw std::logic_error("the worker pool already runs with " +
                               std::to_string(g_pool->threadCount()) + " threads");
    g_threads = threads;
}

void WorkerPool::ParallelFor(std::size_t count, const std::function<void(std::size_t)>& task) {
    detail::processPool().parallelFor(count, task);
}

}  // namespace Kiln
