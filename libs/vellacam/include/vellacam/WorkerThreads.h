// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Korvane {
namespace Research {

/// Sizes the threads that OpenCV's own internal loops run on inside the library, so that a
/// program's one thread setting covers them too (the library's loops run on the compute
/// framework's worker pool): `threads` counts the calling thread.
void SetWorkerThreads(unsigned threads);

}  // namespace Research
}  // namespace Korvane
