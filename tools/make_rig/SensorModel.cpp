// SPDX-License-Identifier: Apache-2.0
#include "SensorModel.h"

#include <cmath>
#include <cstdint>
#include <random>

#include "Random.h"

namespace Korvane {
namespace MakeRig {

namespace {

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

double unit(std::uint64_t bits) { return (static_cast<double>(bits >> 11) + 0.5) * 0x1.0p-53; }

}  // namespace

SensorModel::SensorModel(const RigOptions& options,
                         const Korvane::Research::CameraRigDefinition& rig)
    : m_vignetting(options.vignetting), m_noise(options.noise), m_seed(options.seed) {
    m_active = options.exposure > 0.0 || options.whiteBalance > 0.0 || options.vignetting > 0.0 ||
               options.noise > 0.0 || options.circleFov > 0.0;
    std::mt19937_64 rng(options.seed * 0x5851F42D4C957F2DULL + 0x5E4502ULL);
    auto symmetric = [&rng](double amount) { return MakeRig::symmetric(rng, amount); };
    for (int c = 0; c < rig.getNumberCameras(); ++c) {
        const double exposure = std::exp2(symmetric(options.exposure));
        const double red = 1.0 + symmetric(options.whiteBalance / 100.0);
        const double blue = 1.0 + symmetric(options.whiteBalance / 100.0);
        m_gain.emplace_back(float(exposure * red), float(exposure), float(exposure * blue));
        const auto& camera = rig.getCamera(c);
        Lens lens;
        const Eigen::Vector2d half(0.5 * camera.getFormatWidth(), 0.5 * camera.getFormatHeight());
        lens.centre = half + camera.getCentreShift();
        lens.circle = camera.hasImageCircle();
        lens.circleCentre = camera.getImageCircleCentre();
        lens.circleRadius = camera.getImageCircleRadius();
        lens.radius = lens.circle ? lens.circleRadius : half.norm();
        m_lens.push_back(lens);
    }
}

void SensorModel::apply(int c, int frame, RenderedView* view, const RowPool& pool) const {
    if (!m_active) return;
    const Lens& lens = m_lens[size_t(c)];
    const Eigen::Vector3f gain = m_gain[size_t(c)];
    const std::uint64_t stream =
        mix(mix(m_seed ^ 0x4E015EULL) + std::uint64_t(c) * 0x100000001B3ULL + std::uint64_t(frame));
    const int width = view->width, height = view->height;
    pool.run(height, [&](int row) {
        const double y = height - row - 0.5;  // library pixels, y up
        for (int i = 0; i < width; ++i) {
            const Eigen::Vector2d p(i + 0.5, y);
            float* rgb = view->rgb.data() + (size_t(row) * size_t(width) + size_t(i)) * 3;
            const bool housing = lens.circle && (p - lens.circleCentre).squaredNorm() >
                                                    lens.circleRadius * lens.circleRadius;
            const double r = (p - lens.centre).norm() / lens.radius;
            const float falloff = float(std::max(0.0, 1.0 - m_vignetting * r * r));
            const std::uint64_t pixel =
                mix(stream + std::uint64_t(row) * std::uint64_t(width) + std::uint64_t(i));
            for (int k = 0; k < 3; ++k) {
                float v = housing ? kHousing : rgb[k] * gain[k] * falloff;
                if (m_noise > 0.0) {
                    // Box-Muller from two hashed uniforms per channel.
                    const std::uint64_t a = mix(pixel + std::uint64_t(2 * k));
                    const std::uint64_t b = mix(pixel + std::uint64_t(2 * k + 1));
                    v += float(m_noise * std::sqrt(-2.0 * std::log(unit(a))) *
                               std::cos(6.283185307179586 * unit(b)));
                }
                rgb[k] = std::max(0.0f, v);
            }
        }
    });
}

}  // namespace MakeRig
}  // namespace Korvane
