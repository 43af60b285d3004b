// SPDX-License-Identifier: Apache-2.0
#include "SurfaceTexture.h"

#include <cmath>

namespace Korvane {
namespace MakeRig {

namespace {

/// Murmur3's 32-bit finaliser over the cell and the seed.
inline std::uint32_t hashCell(std::int64_t x, std::int64_t y, std::uint32_t seed) {
    std::uint32_t h = seed * 0x9E3779B9u;
    h ^= static_cast<std::uint32_t>(x) * 0x85EBCA6Bu;
    h = (h << 13) | (h >> 19);
    h ^= static_cast<std::uint32_t>(y) * 0xC2B2AE35u;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

inline float unit(std::uint32_t h) { return static_cast<float>(h >> 8) * (1.0f / 16777216.0f); }

/// Value noise in 0 .. 1 with the quintic fade, one octave.
float valueNoise(double x, double y, std::uint32_t seed) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const auto ix = static_cast<std::int64_t>(fx);
    const auto iy = static_cast<std::int64_t>(fy);
    const auto tx = static_cast<float>(x - fx);
    const auto ty = static_cast<float>(y - fy);
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
    double scale;  ///< metres per lattice cell
    float weight;
    double cosA, sinA;
};
// Cell sizes step by about 3.3 so that features exist at every distance from 1 m to 10 m.
constexpr Octave kOctaves[] = {{0.37, 0.34f, 0.8090, 0.5878},
                               {0.11, 0.30f, 0.3090, -0.9511},
                               {0.034, 0.22f, -0.6691, 0.7431},
                               {0.011, 0.14f, 0.9781, 0.2079}};

/// Factor for a random mark in the cell around (u, v), or 1 where there is none.
float markFactor(double u, double v, double cell, std::uint32_t seed, float* tintMix) {
    const double cx = std::floor(u / cell);
    const double cy = std::floor(v / cell);
    const std::uint32_t h =
        hashCell(static_cast<std::int64_t>(cx), static_cast<std::int64_t>(cy), seed);
    if ((h & 0xFFu) > 110u) return 1.0f;  // about 43 % of the cells carry a mark
    const std::uint32_t h2 = hashCell(static_cast<std::int64_t>(cy), static_cast<std::int64_t>(cx), h);
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
            if (h < 0.12) return 0.15f;               // skirting
            if (h > 1.0 && h < 1.05) return 0.08f;    // dark rail
            if (h > 2.8 && h < 2.86) return 2.3f;     // bright rail
            return 1.0f;
        }
    }
    return 1.0f;
}

}  // namespace

Eigen::Vector3f SurfaceTexture::colour(const Material& m, double u, double v) {
    float n = 0.0f;
    for (int k = 0; k < 4; ++k) {
        const Octave& o = kOctaves[k];
        const double x = (o.cosA * u - o.sinA * v) / o.scale;
        const double y = (o.sinA * u + o.cosA * v) / o.scale;
        n += o.weight * valueNoise(x, y, m.seed + 101u * static_cast<std::uint32_t>(k));
    }
    const float hue = valueNoise(u / 1.3, v / 1.3, m.seed ^ 0xA511E9B3u);
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
