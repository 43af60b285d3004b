// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include <Eigen/Core>

namespace Korvane {
namespace MakeRig {

/// Large-scale markings drawn over the noise of a surface.
enum class Pattern {
    Plain,    ///< noise and marks only
    Wall,     ///< skirting, two long rails and a door frame
    Floor,    ///< tiles with dark grout lines every 0.6 m
    Ceiling,  ///< dark beams every 1.5 m
};

/// How one surface looks. Texture coordinates (u, v) are metres on the surface, so the texture
/// has the same physical scale everywhere; for Wall, v is the height in the rig frame.
struct Material {
    std::uint32_t seed = 0;
    Eigen::Vector3f base{0.5f, 0.5f, 0.5f};  ///< linear RGB
    Eigen::Vector3f tint{0.5f, 0.5f, 0.5f};  ///< second colour, mixed in at large scale
    Pattern pattern = Pattern::Plain;
    double doorStart = 0.0;  ///< Wall: door between these u (metres); none when equal
    double doorEnd = 0.0;
    double floorHeight = 0.0;  ///< Wall: v of the floor
};

/// A procedural albedo: value noise at four scales (1.1 cm to 37 cm, each octave turned by its
/// own angle so no axis dominates), random discs, squares and rings in two cell sizes
/// (16 cm and 55 cm) that give feature detectors high-contrast corners, and the straight
/// markings of the material's pattern. Nothing repeats: every lattice value comes from a hash
/// of the cell and the material's seed. Pure functions of their arguments; thread safe.
class SurfaceTexture {
public:
    /// Linear RGB albedo at (u, v), roughly 0 .. 1.2.
    static Eigen::Vector3f colour(const Material& material, double u, double v);
    /// Rec. 709 luminance of colour().
    static float luminance(const Material& material, double u, double v);
};

}  // namespace MakeRig
}  // namespace Korvane
