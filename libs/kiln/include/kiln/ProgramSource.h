// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>

namespace Kiln {
namespace Compute {

/// Names a kernel by its id (64 lower-case hex digits). Kernels are precompiled, so a program
/// source carries no text: it is built as ProgramSource(nullptr, 0, 0, id), usually as a static
/// in the file that launches the kernel.
class ProgramSource {
public:
    ProgramSource(const char* source,
                  std::size_t sourceLength,
                  unsigned sourceFlags,
                  const char* kernelId);
    const std::string& kernelId() const { return m_kernelId; }
    /// True when source text was given; such sources cannot be launched (no run-time compiler).
    bool hasSourceText() const { return m_hasSourceText; }

private:
    std::string m_kernelId;
    bool m_hasSourceText;
};

}  // namespace Compute
}  // namespace Kiln
