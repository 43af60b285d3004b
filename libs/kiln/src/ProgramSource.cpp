// SPDX-License-Identifier: Apache-2.0
#include "kiln/ProgramSource.h"

namespace Kiln {
namespace Compute {

ProgramSource::ProgramSource(const char* source,
                             std::size_t sourceLength,
                             unsigned /*sourceFlags*/,
                             const char* kernelId)
    : m_kernelId(kernelId != nullptr ? kernelId : ""),
      m_hasSourceText(source != nullptr && sourceLength > 0) {}

}  // namespace Compute
}  // namespace Kiln
