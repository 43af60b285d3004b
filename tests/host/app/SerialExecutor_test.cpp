// SPDX-License-Identifier: Apache-2.0
#include "SerialExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

using Vireo::SerialExecutor;

// With one task running and one waiting, a third post waits for room; all run in order.
TEST(SerialExecutor, PostBlocksWhileTheQueueIsFullAndTasksRunInOrder) {
    SerialExecutor executor(1, SerialExecutor::AtShutdown::Finish);
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    std::vector<int> order;
    executor.post([&order, open] {
        open.wait();
        order.push_back(1);
    });
    executor.post([&order] { order.push_back(2); });
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        executor.post([&order] { order.push_back(3); });
        posted = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(posted) << "a second task may not wait besides the first";
    gate.set_value();
    poster.join();
    executor.wait();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

// A task's exception reaches the next wait, once; the tasks after it still run.
TEST(SerialExecutor, AnExceptionIsRethrownToTheWaiterOnce) {
    SerialExecutor executor(SerialExecutor::kUnbounded, SerialExecutor::AtShutdown::Finish);
    bool after = false;
    executor.post([] { throw std::runtime_error("no room on the disk"); });
    const SerialExecutor::Ticket last = executor.post([&after] { after = true; });
    try {
        executor.waitFor(last);
        ADD_FAILURE() << "the exception was lost";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "no room on the disk");
    }
    EXPECT_TRUE(after);
    EXPECT_NO_THROW(executor.wait());
}

// Shutting down finishes the tasks posted or drops those not started, as asked.
TEST(SerialExecutor, ShutdownFinishesOrDropsTheWaitingTasks) {
    for (const auto mode : {SerialExecutor::AtShutdown::Finish, SerialExecutor::AtShutdown::Drop}) {
        bool ran = false;
        {
            SerialExecutor executor(SerialExecutor::kUnbounded, mode);
            executor.post([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
            executor.post([&ran] { ran = true; });
        }
        EXPECT_EQ(ran, mode == SerialExecutor::AtShutdown::Finish);
    }
}
