// SPDX-License-Identifier: Apache-2.0
#include "SerialExecutor.h"

namespace Vireo {

SerialExecutor::SerialExecutor(size_t maxWaiting, AtShutdown atShutdown)
    : m_maxWaiting(maxWaiting > 0 ? maxWaiting : 1), m_atShutdown(atShutdown) {}

SerialExecutor::~SerialExecutor() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

SerialExecutor::Ticket SerialExecutor::enqueue(std::unique_ptr<Task> task) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_thread.joinable()) m_thread = std::thread([this] { run(); });
    m_changed.wait(lock, [this] { return m_waiting.size() < m_maxWaiting; });
    m_waiting.push_back(std::move(task));
    const Ticket ticket = ++m_posted;
    lock.unlock();
    m_changed.notify_all();
    return ticket;
}

void SerialExecutor::wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const Ticket last = m_posted;
    lock.unlock();
    waitFor(last);
}

void SerialExecutor::waitFor(Ticket ticket) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_done >= ticket || m_done >= m_posted; });
    if (std::exception_ptr error = std::exchange(m_error, nullptr)) std::rethrow_exception(error);
}

void SerialExecutor::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_waiting.empty(); });
        if (m_waiting.empty() || (m_stop && m_atShutdown == AtShutdown::Drop)) return;
        std::unique_ptr<Task> task = std::move(m_waiting.front());
        m_waiting.pop_front();
        lock.unlock();
        m_changed.notify_all();  // room for the next post
        std::exception_ptr error;
        try {
            task->run();
        } catch (...) {
            error = std::current_exception();
        }
        task.reset();  // what the task holds goes before a waiter sees it done
        lock.lock();
        if (error && !m_error) m_error = error;
        ++m_done;
        m_changed.notify_all();
    }
}

}  // namespace Vireo
