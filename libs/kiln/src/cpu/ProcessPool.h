// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Kiln {
namespace detail {

class ThreadPool;

/// The process's one pool (WorkerPool), made on first use at the size WorkerPool decided.
ThreadPool& processPool();

}  // namespace detail
}  // namespace Kiln
