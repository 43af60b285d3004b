// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

namespace Korvane {
namespace MakeRig {

/// Runs a function over the rows 0 .. count - 1 on the process's worker pool (Kiln's
/// WorkerPool), on at most threads() threads at once. Rows are handed out one at a time, so
/// the function must write only what belongs to its row; then the result does not depend on
/// the number of threads. run() blocks until every row is done and rethrows the first
/// exception a row threw (the rows not yet started are skipped).
class RowPool {
public:
    /// 0 threads means the whole pool. A count asked for before the pool first runs sizes the
    /// pool (as VIREO_THREADS would); afterwards it only caps the threads used.
    explicit RowPool(int threads);
    int threads() const { return m_threads; }
    void run(int count, const std::function<void(int row)>& fn) const;

private:
    int m_threads;
};

}  // namespace MakeRig
}  // namespace Korvane
