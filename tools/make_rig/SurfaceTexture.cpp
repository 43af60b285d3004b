// SPDX-License-Identifier: Apache-2.0
#include "SurfaceTexture.h"

#include <cmath>

namespace Korvane {
namespace MakeRig {

namespace {

/// A small integer hash of a lattice cell and a seed (multiply, xor-shift, multiply).
inline std::uint32_t hashCell(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8DA6B343u +
                      static_cast<std::uint32_t>(y) * 0xD8163841u + seed * 0xCB1AB31Fu;
    h = (h ^ (h >> 15)) * 0x2C1B3C6Du;
    h ^= h >> 12;
    h = (h ^ (h >> 13)) * 0x297A2D39u;
    return h ^ (h >> 16);
}

inline float unit(std::uint32_t h) { return static_cast<float>(h >> 8) * (1.0f / 16777216.0f); }

/// Value noise in 0 .. 1 with the quintic fade, one octave. Coordinates are at most a few
/// thousand cells, well inside float precision.
float valueNoise(float x, float y, std::uint32_t seed) {
    // Truncation and a correction: std::floor is a library call on baseline x86-64.
    const auto ix = static_cast<std::int32_t>(x) - (x < 0.0f ? 1 : 0);
    const auto iy = static_cast<std::int32_t>(y) - (y < 0.0f ? 1 : 0);
    const float tx = x - static_cast<float>(ix);
    const float ty = y - static_cast<float>(iy);
    const float sx = tx * tx * tx * (tx * (tx * 6.0f - 15.0f) + 10.0f);
    const float sy = ty * ty * ty * (ty * (ty * 6.0f - 15.0f) + 10.0f);
    const float a = unit(hashCell(ix, iy, seed));
    const float b = unit(hashCell(ix + 1, iy, seed));
    const float c = unit(hashCell(ix, iy + 1, seed));
    const float d = unit(hashCell(ix + 1, iy + 1, seed));
    const float bottom = a + (b - a) * sx;
    const float top = c + (d - c) * sx;
    return bottom + (top - bottom) * sy;
}

struct Octave {
    float scale;  ///< metres per lattice cell
    float weight;
    float cosA, sinA;
};
// Cell sizes step by about 3.3 so that features exist at every distance from 1 m to 10 m.
constexpr Octave kOctaves[] = {{0.37f, 0.34f, 0.8090f, 0.5878f},
                               {0.11f, 0.30f, 0.3090f, -0.9511f},
                               {0.034f, 0.22f, -0.6691f, 0.7431f},
                               {0.011f, 0.14f, 0.9781f, 0.2079f}};

/// Factor for a random mark in the cell around (u, v), or 1 where there is none.
float markFactor(double u, double v, double cell, std::uint32_t seed, float* tintMix) {
    const double cx = std::floor(u / cell);
    const double cy = std::floor(v / cell);
    const auto ix = static_cast<std::int32_t>(cx);
    const auto iy = static_cast<std::int32_t>(cy);
    const std::uint32_t h = hashCell(ix, iy, seed);
    if ((h & 0xFFu) > 80u) return 1.0f;  // about a third of the cells carry a mark
    const std::uint32_t h2 = hashCell(iy, ix, h);
    const double radius = cell * (0.12 + 0.22 * unit(h2));
    const double px = (cx + 0.35 + 0.3 * unit(h2 * 0x2C1B3C6Du + 1u)) * cell;
    const double py = (cy + 0.35 + 0.3 * unit(h2 * 0x297A2D39u + 7u)) * cell;
    const double dx = u - px;
    const double dy = v - py;
    bool inside = false;
    switch ((h >> 8) & 3u) {
        case 0:
        case 1:
            inside = dx * dx + dy * dy < radius * radius;
            break;
        case 2:
            inside = std::abs(dx) < radius && std::abs(dy) < radius;
            break;
        default: {
            const double r = std::sqrt(dx * dx + dy * dy);
            inside = r < radius && r > 0.55 * radius;
            break;
        }
    }
    if (!inside) return 1.0f;
    *tintMix = unit(h2 ^ 0x5bd1e995u);
    return (h >> 10) & 1u ? 0.06f : 2.4f;
}

/// Multiplier of the straight markings of the pattern, 1 where there is none.
float patternFactor(const Material& m, double u, double v) {
    switch (m.pattern) {
        case Pattern::Plain:
            return 1.0f;
        case Pattern::Floor: {
            const double gu = u / 0.6 - std::floor(u / 0.6);
            const double gv = v / 0.6 - std::floor(v / 0.6);
            return (gu < 0.025 || gv < 0.025) ? 0.12f : 1.0f;
        }
        case Pattern::Ceiling: {
            const double g = u / 1.5 - std::floor(u / 1.5);
            return g < 0.08 ? 0.25f : 1.0f;
        }
        case Pattern::Wall: {
            const double h = v - m.floorHeight;
            if (m.doorEnd > m.doorStart && u > m.doorStart - 0.08 && u < m.doorEnd + 0.08 &&
                h < 2.18) {
                const bool frame = u < m.doorStart || u > m.doorEnd || h > 2.1;
                return frame ? 2.2f : 0.35f;
            }
            if (h < 0.12) return 0.15f;             // skirting
            if (h > 1.0 && h < 1.05) return 0.08f;  // dark rail
            if (h > 2.8 && h < 2.86) return 2.3f;   // bright rail
            return 1.0f;
        }
    }
    return 1.0f;
}

}  // namespace

Eigen::Vector3f SurfaceTexture::colour(const Material& m, double u, double v) {
    const auto fu = static_cast<float>(u);
    const auto fv = static_cast<float>(v);
    float n = 0.0f;
    for (int k = 0; k < 4; ++k) {
        const Octave& o = kOctaves[k];
        const float x = (o.cosA * fu - o.sinA * fv) / o.scale;
        const float y = (o.sinA * fu + o.cosA * fv) / o.scale;
        n += o.weight * valueNoise(x, y, m.seed + 101u * static_cast<std::uint32_t>(k));
    }
    const float hue = valueNoise(fu / 1.3f, fv / 1.3f, m.seed ^ 0xA511E9B3u);
    Eigen::Vector3f c = (m.base + (m.tint - m.base) * hue) * (0.1f + 1.5f * n * n);

    float tintMix = 0.0f;
    float mark = markFactor(u, v, 0.16, m.seed ^ 0x68E31DA4u, &tintMix);
    if (mark == 1.0f) mark = markFactor(u + 0.21, v - 0.13, 0.55, m.seed ^ 0xB5297A4Du, &tintMix);
    if (mark != 1.0f) {
        const Eigen::Vector3f markColour(0.9f - 0.6f * tintMix, 0.55f, 0.3f + 0.6f * tintMix);
        c = mark < 1.0f ? Eigen::Vector3f(c * mark) : Eigen::Vector3f(markColour * 0.45f * mark);
    }
    return c * patternFactor(m, u, v);
}

float SurfaceTexture::luminance(const Material& m, double u, double v) {
    const Eigen::Vector3f c = colour(m, u, v);
    return 0.2126f * c.x() + 0.7152f * c.y() + 0.0722f * c.z();
}

}  // namespace MakeRig
}  // namespace Korvane
