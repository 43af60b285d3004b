// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Context.h"

namespace Kiln {

/// Binds a context to the calling thread for the binder's life and restores the previous
/// binding (binders nest) when it goes. Images allocated without a device on this thread go to
/// the bound context's device. Must be destroyed on the thread that made it.
class AutoContextThreadBinder {
public:
    explicit AutoContextThreadBinder(Compute::ContextPtr context);
    ~AutoContextThreadBinder();
    AutoContextThreadBinder(const AutoContextThreadBinder&) = delete;
    AutoContextThreadBinder& operator=(const AutoContextThreadBinder&) = delete;

private:
    Compute::ContextPtr m_previous;
};

}  // namespace Kiln
