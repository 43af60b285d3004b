// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace Vireo {

/// Tasks run one after the other, in the order posted, on one thread of the executor's own,
/// started by the first post (an executor that is never given work costs no thread). post(),
/// wait() and waitFor() may be called from any thread but the executor's own: a task must not
/// post to or wait on the executor that runs it.
///
/// Depth: at most `maxWaiting` tasks wait besides the one running; post() blocks until there
/// is room, which bounds the memory the waiting tasks hold (kUnbounded: it never blocks).
/// Tickets: post() returns the task's place in the order (1, 2, ...); waitFor(t) returns once
/// every task up to t has run.
/// Errors: an exception thrown by a task is kept, the tasks after it still run, and the next
/// wait() or waitFor() rethrows it on the caller's thread (the first one, when several threw
/// in between).
/// Shutdown, by the destructor: AtShutdown::Finish runs every task posted before it returns;
/// AtShutdown::Drop lets the running task finish and destroys the waiting ones unrun. An
/// exception not yet rethrown then is dropped.
class SerialExecutor {
public:
    enum class AtShutdown { Finish, Drop };
    using Ticket = std::uint64_t;
    static constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();

    /// `maxWaiting` below 1 is taken as 1.
    SerialExecutor(size_t maxWaiting, AtShutdown atShutdown);
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    /// Queues `task` (any callable without arguments, move-only ones too).
    template <typename F>
    Ticket post(F&& task) {
        return enqueue(std::make_unique<Model<std::decay_t<F>>>(std::forward<F>(task)));
    }
    /// Returns when every task posted so far has run.
    void wait();
    /// Returns when every task up to `ticket` has run.
    void waitFor(Ticket ticket);

private:
    struct Task {
        virtual ~Task() = default;
        virtual void run() = 0;
    };
    template <typename F>
    struct Model final : Task {
        explicit Model(F f) : f(std::move(f)) {}
        void run() override { f(); }
        F f;
    };

    Ticket enqueue(std::unique_ptr<Task> task);
    void run();

    const size_t m_maxWaiting;
    const AtShutdown m_atShutdown;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Task>> m_waiting;
    Ticket m_posted = 0;
    Ticket m_done = 0;
    std::exception_ptr m_error;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace Vireo
