// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <random>

namespace Korvane {
namespace MakeRig {

/// Uniform in [0, 1) from the top 53 bits; std::uniform_real_distribution differs between
/// standard libraries and would break byte-identical footage.
inline double uniform(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

/// Uniform in [-amount, amount).
inline double symmetric(std::mt19937_64& rng, double amount) {
    return amount * (2.0 * uniform(rng) - 1.0);
}

}  // namespace MakeRig
}  // namespace Korvane
