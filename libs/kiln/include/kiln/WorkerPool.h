// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace Kiln {

/// The process's worker threads: one pool, made on first use, that runs the CPU device's
/// kernel launches and every other parallel loop of the process (the warp solve, the
/// synthetic rig renderer). Its size is one setting: SetThreadCount, made before the first
/// use (vireo's --threads does it), else the environment variable VIREO_THREADS, else one
/// thread per hardware thread. The count includes the thread that starts a loop. Every
/// function is thread-safe.
class WorkerPool {
public:
    /// The environment variable that sizes the pool.
    static constexpr const char* kEnvironmentVariable = "VIREO_THREADS";
    /// The largest count accepted.
    static constexpr unsigned kMaxThreads = 1024;

    /// The number of threads loops run on, the caller included (the pool's size once made).
    static unsigned ThreadCount();
    /// Sizes the pool. Throws std::invalid_argument for 0 or more than kMaxThreads, and
    /// std::logic_error when the pool is already running with another size.
    static void SetThreadCount(unsigned threads);
    /// "N" as a thread count: a whole number from 1 to kMaxThreads. Throws
    /// std::invalid_argument naming `what` (the option or variable) and the text.
    static unsigned ParseThreadCount(const std::string& text, const std::string& what);

    /// Runs task(i) for every i in [0, count) on the pool and returns when all are done.
    /// Tasks run concurrently in any order; a loop started from inside a task, or while
    /// another thread's loop runs, is run by its caller alone. When a task throws, the tasks
    /// not yet started are skipped and the first exception is rethrown to the caller.
    static void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& task);
};

}  // namespace Kiln
