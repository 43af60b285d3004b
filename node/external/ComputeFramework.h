// SPDX-License-Identifier: Apache-2.0
// The node's door to the compute framework: every node file that needs devices, contexts or
// framework images includes this header, never the framework's own headers directly.
#pragma once

#include "kiln/AutoContextThreadBinder.h"
#include "kiln/Context.h"
#include "kiln/Device.h"
#include "kiln/Image.h"
#include "kiln/KilnLibrary.h"

namespace Korvane {
namespace Research {

using ComputeContext = Kiln::Compute::ContextPtr;

}  // namespace Research
}  // namespace Korvane
