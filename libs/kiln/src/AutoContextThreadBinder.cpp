// SPDX-License-Identifier: Apache-2.0
#include "kiln/AutoContextThreadBinder.h"

#include "ThreadContext.h"

namespace Kiln {

AutoContextThreadBinder::AutoContextThreadBinder(Compute::ContextPtr context)
    : m_previous(detail::threadContextSlot()) {
    detail::threadContextSlot() = std::move(context);
}

AutoContextThreadBinder::~AutoContextThreadBinder() {
    detail::threadContextSlot() = std::move(m_previous);
}

}  // namespace Kiln
