// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Context.h"

namespace Kiln {
namespace detail {

/// The calling thread's bound context (null when none), shared by KilnLibrary and
/// AutoContextThreadBinder.
Compute::ContextPtr& threadContextSlot();

}  // namespace detail
}  // namespace Kiln
