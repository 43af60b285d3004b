// SPDX-License-Identifier: Apache-2.0
#include "vellacam/WorkerThreads.h"

#include <opencv2/core/utility.hpp>

namespace Korvane {
namespace Research {

void SetWorkerThreads(unsigned threads) { cv::setNumThreads(int(threads)); }

}  // namespace Research
}  // namespace Korvane
