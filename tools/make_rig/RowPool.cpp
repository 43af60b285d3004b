// SPDX-License-Identifier: Apache-2.0
#include "RowPool.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "kiln/WorkerPool.h"

namespace Korvane {
namespace MakeRig {

namespace {

int poolSize(int threads) {
    if (threads > 0) {
        try {
            Kiln::WorkerPool::SetThreadCount(unsigned(threads));
        } catch (const std::logic_error&) {
            // Running already at another size: the count then only caps the threads used.
        }
    }
    const int size = int(Kiln::WorkerPool::ThreadCount());
    return threads > 0 ? std::min(threads, size) : size;
}

}  // namespace

RowPool::RowPool(int threads) : m_threads(poolSize(threads)) {}

void RowPool::run(int count, const std::function<void(int row)>& fn) const {
    // One task per thread, each taking the next row until none is left: at most m_threads
    // rows run at once, and uneven rows balance.
    std::atomic<int> next{0};
    const int tasks = std::max(1, std::min(m_threads, count));
    Kiln::WorkerPool::ParallelFor(size_t(tasks), [&](size_t) {
        for (int row; (row = next.fetch_add(1)) < count;) {
            try {
                fn(row);
            } catch (...) {
                next = count;  // the other tasks stop at their next row
                throw;
            }
        }
    });
}

}  // namespace MakeRig
}  // namespace Korvane
