// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Korvane {
namespace Research {

/// Sizes the threads the library's own parallel loops (camera matching) run on, so that a
/// program's one thread setting covers them too: `threads` counts the calling thread.
void SetWorkerThreads(unsigned threads);

}  // namespace Research
}  // namespace Korvane
