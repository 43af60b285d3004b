// SPDX-License-Identifier: Apache-2.0
// Order and finishing at shutdown are also held by the Read's and the Write's tests.
#include "SerialExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

using Vireo::SerialExecutor;

// With one task running and one waiting, a third post waits for room. A task's exception
// reaches the next wait once, and the tasks after it still run.
TEST(SerialExecutor, PostWaitsForRoomAndAnExceptionReachesTheWaiterOnce) {
    SerialExecutor executor(1, SerialExecutor::AtShutdown::Finish);
    std::promise<void> gate;
    std::vector<int> order;
    executor.post([open = gate.get_future()] {
        open.wait();
        throw std::runtime_error("no room on the disk");
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
    EXPECT_THROW(executor.wait(), std::runtime_error);
    EXPECT_EQ(order, (std::vector<int>{2, 3}));
    EXPECT_NO_THROW(executor.wait());
}

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
