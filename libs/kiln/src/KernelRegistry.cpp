// SPDX-License-Identifier: Apache-2.0
#include "KernelRegistry.h"

#include <cctype>
#include <iostream>
#include <sstream>

#include "kiln/JIT.h"

namespace Kiln {
namespace JIT {
namespace detail {
namespace {

bool isLowerHex(const std::string& s) {
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'a' || c > 'f')) return false;
    return true;
}

bool isNumber(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool isSignatureToken(const std::string& s) {
    if (s.size() < 2 || s[0] < '1' || s[0] > '4') return false;
    const std::string type = s.substr(1);
    return type == "f" || type == "ui" || type == "ub";
}

}  // namespace

bool parseVariantKey(const std::string& key, KernelVariant& variant, std::string& error) {
    std::vector<std::string> fields;
    std::istringstream in(key);
    for (std::string field; std::getline(in, field, '_');) fields.push_back(field);
    // id, two target numbers, flags, then 1 to 11 image tokens.
    if (fields.size() < 5 || fields.size() > 15) {
        error = "expected <id>_<class>_<interface>_<flags>_<1 to 11 image tokens>";
        return false;
    }
    if (fields[0].size() != 64 || !isLowerHex(fields[0])) {
        error = "kernel id is not 64 lower-case hex digits";
        return false;
    }
    if (!isNumber(fields[1]) || !isNumber(fields[2]) || !isNumber(fields[3])) {
        error = "target and flags must be numbers";
        return false;
    }
    for (std::size_t i = 4; i < fields.size(); ++i) {
        if (!isSignatureToken(fields[i])) {
            error = "bad image token '" + fields[i] + "'";
            return false;
        }
    }
    variant.key = key;
    variant.kernelId = fields[0];
    variant.target = fields[1] + "_" + fields[2];
    variant.flags = static_cast<unsigned>(std::stoul(fields[3]));
    variant.signature.assign(fields.begin() + 4, fields.end());
    return true;
}

bool parseParamTable(const char* table,
                     std::size_t bytes,
                     std::vector<KernelVariant::Param>& params,
                     std::string& error) {
    std::istringstream in(std::string(table, bytes));
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.find(' ');
        const auto name = Compute::ParseParamName(line.substr(0, space));
        const std::string kind = space == std::string::npos ? "" : line.substr(space + 1);
        if (!name || (kind != "1" && kind != "3" && kind != "4")) {
            error = "bad parameter table line '" + line + "'";
            return false;
        }
        params.push_back({*name, static_cast<Compute::ParamKind>(std::stoi(kind))});
    }
    return true;
}

KernelRegistry& KernelRegistry::instance() {
    // Built on first use, so registrars in any translation unit find it ready.
    static KernelRegistry registry;
    return registry;
}

bool KernelRegistry::add(KernelVariant variant) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string key = variant.key;
    const std::string id = variant.kernelId;
    if (!m_variants.emplace(key, std::move(variant)).second) return false;
    m_keysById[id].push_back(key);
    return true;
}

const KernelVariant* KernelRegistry::find(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_variants.find(key);
    return it == m_variants.end() ? nullptr : &it->second;
}

std::vector<std::string> KernelRegistry::keysOf(const std::string& kernelId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_keysById.find(kernelId);
    return it == m_keysById.end() ? std::vector<std::string>{} : it->second;
}

std::size_t KernelRegistry::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_variants.size();
}

}  // namespace detail

void AddPrecompiledKernel(const std::string& key,
                          const void* gpuCode,
                          std::size_t gpuCodeStoredBytes,
                          std::size_t gpuCodeUnpackedBytes,
                          const void* cpuCode,
                          std::size_t cpuCodeStoredBytes,
                          std::size_t cpuCodeUnpackedBytes,
                          const char* paramTable,
                          std::size_t paramTableBytes) {
    KernelVariant variant;
    std::string error;
    bool ok = detail::parseVariantKey(key, variant, error) &&
              detail::parseParamTable(paramTable, paramTableBytes, variant.params, error);
    if (ok && variant.target == "2_2") {
        // The CPU code is the record of the compiled row function.
        if (cpuCode == nullptr || cpuCodeStoredBytes != sizeof(CpuKernelCode) ||
            cpuCodeUnpackedBytes != sizeof(CpuKernelCode)) {
            error = "CPU code is not a CpuKernelCode";
            ok = false;
        } else {
            variant.cpuCode = static_cast<const CpuKernelCode*>(cpuCode);
            variant.outputImage = variant.cpuCode->outputImage;
            if (variant.outputImage >= variant.signature.size()) {
                error = "output image index beyond the signature";
                ok = false;
            }
        }
    }
    // GPU code is kept opaque until a GPU backend unpacks it.
    (void)gpuCode;
    (void)gpuCodeStoredBytes;
    (void)gpuCodeUnpackedBytes;
    if (!ok) {
        std::cerr << "Kiln: ignoring kernel variant " << key << ": " << error << "\n";
        return;
    }
    if (!detail::KernelRegistry::instance().add(std::move(variant)))
        std::cerr << "Kiln: ignoring kernel variant " << key << ": already registered\n";
}

std::vector<std::string> RegisteredVariants(const std::string& kernelId) {
    return detail::KernelRegistry::instance().keysOf(kernelId);
}

std::size_t RegisteredVariantCount() { return detail::KernelRegistry::instance().size(); }

}  // namespace JIT
}  // namespace Kiln
