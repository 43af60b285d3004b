// SPDX-License-Identifier: Apache-2.0
#include "ThreadPool.h"

namespace Kiln {
namespace detail {

ThreadPool::ThreadPool(unsigned threads) {
    for (unsigned i = 1; i < threads; ++i) m_workers.emplace_back([this] { workerLoop(); });
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& worker : m_workers) worker.join();
}

void ThreadPool::parallelFor(std::size_t count, const std::function<void(std::size_t)>& task) {
    std::unique_lock<std::mutex> submit(m_submit, std::try_to_lock);
    if (m_workers.empty() || count < 2 || !submit.owns_lock()) {
        for (std::size_t i = 0; i < count; ++i) task(i);
        return;
    }
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A worker still leaving the previous job may read the job fields.
        m_idle.wait(lock, [this] { return m_busyWorkers == 0; });
        m_task = &task;
        m_count = count;
        m_next.store(0, std::memory_order_relaxed);
        m_finished.store(0, std::memory_order_relaxed);
        m_failed.store(false, std::memory_order_relaxed);
        m_error = nullptr;
        ++m_generation;
    }
    m_wake.notify_all();
    work();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] {
        return m_busyWorkers == 0 && m_finished.load(std::memory_order_acquire) == m_count;
    });
    std::exception_ptr error = nullptr;
    {
        std::lock_guard<std::mutex> errorLock(m_errorMutex);
        std::swap(error, m_error);
    }
    if (error) std::rethrow_exception(error);
}

void ThreadPool::work() {
    for (std::size_t i; (i = m_next.fetch_add(1, std::memory_order_relaxed)) < m_count;) {
        // After a failure the remaining indices are still claimed, so that the caller's count
        // of finished tasks completes, but not run.
        if (!m_failed.load(std::memory_order_relaxed)) {
            try {
                (*m_task)(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(m_errorMutex);
                if (!m_error) m_error = std::current_exception();
                m_failed.store(true, std::memory_order_relaxed);
            }
        }
        m_finished.fetch_add(1, std::memory_order_release);
    }
}

void ThreadPool::workerLoop() {
    unsigned seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_generation != seen; });
            if (m_stop) return;
            seen = m_generation;
            ++m_busyWorkers;
        }
        work();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_busyWorkers;
        }
        m_idle.notify_all();
    }
}

}  // namespace detail
}  // namespace Kiln
