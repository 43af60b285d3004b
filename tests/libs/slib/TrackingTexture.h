// SPDX-License-Identifier: Apache-2.0
// A texture to track, for the tracker's tests and benchmark: smooth, with detail at 5 to 40
// pixels, never repeating.
#pragma once

#include <cmath>

namespace TrackingTests {

/// Value noise: hashed random values on a grid of `cell` pixels, blended with a C1 smoothstep.
inline double valueNoise(double x, double y, double cell, unsigned seed) {
    auto value = [seed](long i, long j) {
        unsigned long h = (unsigned long)(i * 73856093L) ^ (unsigned long)(j * 19349663L) ^ seed;
        h = (h ^ (h >> 13)) * 0x5bd1e995UL;
        return double((h ^ (h >> 15)) & 0xffff) / 65535.0;
    };
    const double u = x / cell, v = y / cell;
    const long i = long(std::floor(u)), j = long(std::floor(v));
    auto smooth = [](double t) { return t * t * (3.0 - 2.0 * t); };
    const double a = smooth(u - double(i)), b = smooth(v - double(j));
    return (1 - b) * ((1 - a) * value(i, j) + a * value(i + 1, j)) +
           b * ((1 - a) * value(i, j + 1) + a * value(i + 1, j + 1));
}

/// Intensity in 0..1 at position (x, y).
inline double texture(double x, double y) {
    return 0.5 * valueNoise(x, y, 40.0, 1u) + 0.3 * valueNoise(x, y, 13.0, 2u) +
           0.2 * valueNoise(x, y, 5.0, 3u);
}

}  // namespace TrackingTests
