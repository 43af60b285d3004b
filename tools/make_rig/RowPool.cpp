// SPDX-License-Identifier: Apache-2.0
#include "RowPool.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace Korvane {
namespace MakeRig {

RowPool::RowPool(int threads)
    : m_threads(threads > 0 ? threads
                            : std::max(1, static_cast<int>(std::thread::hardware_concurrency()))) {}

void RowPool::run(int count, const std::function<void(int row)>& fn) const {
    std::atomic<int> next{0};
    std::exception_ptr error;
    std::mutex errorMutex;
    auto worker = [&]() {
        for (int row; (row = next.fetch_add(1)) < count;) {
            try {
                fn(row);
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorMutex);
                if (!error) error = std::current_exception();
                next = count;
            }
        }
    };
    const int extra = std::min(m_threads, count) - 1;
    std::vector<std::thread> pool;
    for (int t = 0; t < extra; ++t) pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool) t.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace MakeRig
}  // namespace Korvane
