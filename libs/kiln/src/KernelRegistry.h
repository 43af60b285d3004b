// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "kiln/CpuKernel.h"
#include "kiln/ParamName.h"

namespace Kiln {
namespace JIT {

/// One registered variant, parsed from its registration record. Slot i of the parameter block
/// belongs to params[i] and starts at byte 4 * i.
struct KernelVariant {
    struct Param {
        Compute::ParamName name;
        Compute::ParamKind kind;
    };

    std::string key;
    std::string kernelId;
    std::string target;
    unsigned flags = 0;
    std::vector<std::string> signature;
    // The image whose box a launch covers, by position in the signature.
    unsigned outputImage = 0;
    const CpuKernelCode* cpuCode = nullptr;
    std::vector<Param> params;

    std::size_t paramBlockBytes() const { return 4 * params.size(); }
};

namespace detail {

/// Splits and checks a variant key; returns false (with `error` set) when it is malformed.
bool parseVariantKey(const std::string& key, KernelVariant& variant, std::string& error);
/// Parses a parameter table ("o<16 hex> <kind>\n" per parameter) into `params`.
bool parseParamTable(const char* table,
                     std::size_t bytes,
                     std::vector<KernelVariant::Param>& params,
                     std::string& error);

/// The process's variants by key. Entries are never removed, so pointers to them stay valid
/// for the life of the process. Thread-safe.
class KernelRegistry {
public:
    static KernelRegistry& instance();

    /// False (and nothing stored) when the key is already registered.
    bool add(KernelVariant variant);
    /// Null when no variant has `key`.
    const KernelVariant* find(const std::string& key) const;
    std::vector<std::string> keysOf(const std::string& kernelId) const;
    std::size_t size() const;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, KernelVariant> m_variants;
    std::map<std::string, std::vector<std::string>> m_keysById;
};

}  // namespace detail
}  // namespace JIT
}  // namespace Kiln
