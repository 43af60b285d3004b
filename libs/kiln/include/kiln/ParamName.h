// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Kiln {
namespace Compute {

/// A scalar parameter is named by a 64-bit hash of its source name; launch sites hold the hash
/// as a constant. Parameter tables write it as "o" followed by 16 lower-case hex digits.
using ParamName = std::uint64_t;

/// The kinds of scalar parameters, with their codes in parameter tables. Float and Int take 4
/// bytes, Bool one.
enum class ParamKind : int { Float = 1, Int = 3, Bool = 4 };

std::size_t ParamKindBytes(ParamKind kind);
/// "o" + 16 lower-case hex digits.
std::string FormatParamName(ParamName name);
/// The inverse of FormatParamName; none for any other text (upper case digits included).
std::optional<ParamName> ParseParamName(std::string_view text);

}  // namespace Compute
}  // namespace Kiln
