// SPDX-License-Identifier: Apache-2.0
#include "kiln/WorkerPool.h"

#include <gtest/gtest.h>

#include "../../TestSupport.h"

#include <atomic>
#include <chrono>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "cpu/ThreadPool.h"

using Kiln::WorkerPool;

TEST(WorkerPool, EveryIndexRunsOnceAndNestedLoopsRunOnTheirCaller) {
    std::vector<std::atomic<int>> runs(1000);
    WorkerPool::ParallelFor(runs.size(), [&](size_t i) {
        ++runs[i];
        if (i % 100 == 0) WorkerPool::ParallelFor(3, [&](size_t) {});  // no deadlock
    });
    for (size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(runs[i].load(), 1) << i;
    EXPECT_GE(WorkerPool::ThreadCount(), 1u);
}

// An exception thrown by a task reaches the caller (not std::terminate); the tasks not yet
// started are skipped, and the pool serves the next loop as usual.
TEST(WorkerPool, ATaskExceptionReachesTheCallerAndThePoolGoesOn) {
    for (unsigned threads : {1u, 4u}) {
        Kiln::detail::ThreadPool pool(threads);
        std::atomic<int> started{0};
        std::atomic<bool> thrown{false};
        // Tasks after the throwing one wait for it (however the threads are scheduled), and
        // linger long enough for the pool to see the exception before they end.
        EXPECT_THROW(
            pool.parallelFor(10000,
                             [&](size_t i) {
                                 ++started;
                                 if (i == 5) {
                                     thrown = true;
                                     throw std::bad_alloc();
                                 }
                                 if (i < 5) return;
                                 const auto limit =
                                     std::chrono::steady_clock::now() + std::chrono::seconds(10);
                                 while (!thrown && std::chrono::steady_clock::now() < limit)
                                     std::this_thread::yield();
                                 std::this_thread::sleep_for(std::chrono::milliseconds(1));
                             }),
            std::bad_alloc)
            << threads;
        EXPECT_LT(started.load(), 10000) << "the rest was skipped";
        std::atomic<int> after{0};
        pool.parallelFor(100, [&](size_t) { ++after; });
        EXPECT_EQ(after.load(), 100);
    }
    EXPECT_THROW(WorkerPool::ParallelFor(50,
                                         [](size_t i) {
                                             if (i == 49) throw std::runtime_error("last");
                                         }),
                 std::runtime_error);
}

TEST(WorkerPool, TheSettingIsAWholeNumberWithinItsLimitsAndFixedOnceRunning) {
    EXPECT_EQ(WorkerPool::ParseThreadCount("8", "--threads"), 8u);
    for (const char* bad : {"0", "-1", "abc", "", "1025", "4x", "99999999999"}) {
        const std::string message = TestSupport::thrown<std::invalid_argument>(
            [&] { WorkerPool::ParseThreadCount(bad, "--threads"); });
        EXPECT_EQ(message.rfind("--threads: '", 0), 0u) << message;
    }
    EXPECT_THROW(WorkerPool::SetThreadCount(0), std::invalid_argument);
    WorkerPool::ParallelFor(2, [](size_t) {});  // running now
    const unsigned running = WorkerPool::ThreadCount();
    EXPECT_NO_THROW(WorkerPool::SetThreadCount(running));
    EXPECT_THROW(WorkerPool::SetThreadCount(running + 1), std::logic_error);
}
