// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>

namespace Korvane {
namespace Base {

/// Intrusive reference count for objects shared through boost::intrusive_ptr. The count is
/// atomic, so pointers may be copied and dropped on several threads at once; the object is
/// deleted by whichever thread drops the last reference. A new object starts at 0 and lives
/// until the first intrusive_ptr to it lets go.
class RefCounter {
public:
    RefCounter() = default;
    // A copy is a new object with its own owners.
    RefCounter(const RefCounter&) : m_count(0) {}
    RefCounter& operator=(const RefCounter&) { return *this; }

    int refCount() const { return m_count.load(std::memory_order_relaxed); }

    friend void intrusive_ptr_add_ref(const RefCounter* p) {
        p->m_count.fetch_add(1, std::memory_order_relaxed);
    }
    friend void intrusive_ptr_release(const RefCounter* p) {
        // acq_rel: every write made through other owners happens-before the delete.
        if (p->m_count.fetch_sub(1, std::memory_order_acq_rel) == 1) delete p;
    }

protected:
    virtual ~RefCounter() = default;

private:
    mutable std::atomic<int> m_count{0};
};

}  // namespace Base
}  // namespace Korvane
