// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "kiln/ParamName.h"

namespace Kiln {
namespace Compute {

/// One scalar of a short launch: its name hash, kind and value bytes.
struct Param {
    ParamName name = 0;
    ParamKind kind = ParamKind::Float;
    std::array<unsigned char, 4> bytes{};
};

/// The scalars of a short launch, in the kernel's parameter order.
class ParamHandler {
public:
    ParamHandler(std::size_t count, const Param* params) : m_params(params, params + count) {}

    static Param makeParam(ParamName name, float value);
    static Param makeParam(ParamName name, int value);
    static Param makeParam(ParamName name, bool value);
    // A double literal would silently pick one of the above; say float or int explicitly.
    static Param makeParam(ParamName name, double value) = delete;

    const std::vector<Param>& params() const { return m_params; }

private:
    std::vector<Param> m_params;
};

}  // namespace Compute
}  // namespace Kiln
