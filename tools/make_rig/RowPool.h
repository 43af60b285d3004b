// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

namespace Korvane {
namespace MakeRig {

/// Runs a function over the rows 0 .. count - 1 on a fixed number of threads. Rows are handed
/// out one at a time, so the function must write only what belongs to its row; then the result
/// does not depend on the number of threads. run() blocks until every row is done and rethrows
/// the first exception a row threw.
class RowPool {
public:
    /// 0 threads means one per hardware thread.
    explicit RowPool(int threads);
    int threads() const { return m_threads; }
    void run(int count, const std::function<void(int row)>& fn) const;

private:
    int m_threads;
};

}  // namespace MakeRig
}  // namespace Korvane
