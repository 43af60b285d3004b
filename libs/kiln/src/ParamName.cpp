// SPDX-License-Identifier: Apache-2.0
#include "kiln/ParamName.h"

#include <cstdio>

namespace Kiln {
namespace Compute {

std::size_t ParamKindBytes(ParamKind kind) { return kind == ParamKind::Bool ? 1 : 4; }

std::string FormatParamName(ParamName name) {
    char text[18];
    std::snprintf(text, sizeof text, "o%016llx", static_cast<unsigned long long>(name));
    return text;
}

std::optional<ParamName> ParseParamName(std::string_view text) {
    if (text.size() != 17 || text[0] != 'o') return std::nullopt;
    ParamName name = 0;
    for (char c : text.substr(1)) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        name = (name << 4) | ParamName(digit);
    }
    return name;
}

}  // namespace Compute
}  // namespace Kiln
