// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Kiln {
namespace JIT {

/// Registers one precompiled kernel variant; called at load time from static initialisers, so
/// it never throws: a malformed record or a key already registered is reported on stderr and
/// ignored. Every pointer refers to static data that outlives the registry.
///
/// `key` is "<kernel id>_<target>_<flags>_<signature>", e.g. id + "_2_2_1_4f_4f": the 64-hex
/// id, the device target ("2_2" CPU, "4_8" CUDA), the code-generation flags (1 or 19) and one
/// token per image parameter ("<channels><f|ui|ub>"). GPU code is opaque to CPU targets, which
/// pass a 2-byte placeholder with counts 2. For a CPU target `cpuCode` is a JIT::CpuKernelCode
/// and both its counts are sizeof(CpuKernelCode). `paramTable` lists the scalar parameters,
/// one per line: "o<16 hex digits> <kind code>\n" (see ParamName.h); empty for none.
void AddPrecompiledKernel(const std::string& key,
                          const void* gpuCode,
                          std::size_t gpuCodeStoredBytes,
                          std::size_t gpuCodeUnpackedBytes,
                          const void* cpuCode,
                          std::size_t cpuCodeStoredBytes,
                          std::size_t cpuCodeUnpackedBytes,
                          const char* paramTable,
                          std::size_t paramTableBytes);

/// The keys registered for `kernelId`, in registration order.
std::vector<std::string> RegisteredVariants(const std::string& kernelId);
/// The number of keys registered in the process.
std::size_t RegisteredVariantCount();

}  // namespace JIT
}  // namespace Kiln
