// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Kiln {
namespace detail {

/// A fixed set of worker threads that run one indexed job at a time, with the calling thread
/// working too. A job submitted while another caller's job runs is done entirely by its own
/// caller, so launches from several render threads, or from inside a task, never wait on each
/// other or deadlock.
class ThreadPool {
public:
    /// `threads` counts the caller: a pool of 1 has no workers.
    explicit ThreadPool(unsigned threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    unsigned threadCount() const { return unsigned(m_workers.size()) + 1; }

    /// Runs task(i) for every i in [0, count) and returns when all have returned. Tasks run
    /// concurrently in any order. When a task throws, the tasks not yet started are skipped
    /// and the first exception is rethrown here, on the caller's thread, once every task that
    /// had started has returned.
    void parallelFor(std::size_t count, const std::function<void(std::size_t)>& task);

private:
    void workerLoop();
    void work();

    std::vector<std::thread> m_workers;
    std::mutex m_submit;  // held by the caller whose job the workers serve

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    bool m_stop = false;
    unsigned m_generation = 0;
    unsigned m_busyWorkers = 0;

    // The current job; written under m_mutex while no worker is busy.
    const std::function<void(std::size_t)>* m_task = nullptr;
    std::size_t m_count = 0;
    std::atomic<std::size_t> m_next{0};
    std::atomic<std::size_t> m_finished{0};
    std::atomic<bool> m_failed{false};
    std::exception_ptr m_error;  // the first exception of the job, under m_errorMutex
    std::mutex m_errorMutex;
};

}  // namespace detail
}  // namespace Kiln
