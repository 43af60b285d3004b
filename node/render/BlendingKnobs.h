// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace PX {
namespace Image {
class Hash;
class Knob;
class KnobCallback;
class Op;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

/// How the panorama merges its cameras: by alpha, or by multi-band blending on image
/// pyramids (optionally spherical). Suppression and Expand only matter for multi-band: they
/// are shown and hashed only while the blend type is not "Alpha", so editing them in alpha
/// mode does not re-render.
class BlendingKnobs {
public:
    enum class BlendType { Alpha = 0, MultiBand = 1, SphericalMultiBand = 2 };

    explicit BlendingKnobs(PX::Image::Op* node) : m_node(node) {}
    void knobs(PX::Image::KnobCallback& f);
    /// Re-applies the visibility rule on `blendType` changes and panel opening; 1 when the
    /// knob was one of the group's.
    int knob_changed(PX::Image::Knob* knob);
    void appendHash(PX::Image::Hash& hash) const;

    BlendType blendType() const { return BlendType(m_blendType); }
    float suppression() const { return m_suppression; }
    bool expand() const { return m_expand; }
    /// Per-camera exposure and colour gains from the overlaps (knob `exposureCompensation`,
    /// on by default, shown and hashed in every blend mode).
    bool exposureCompensation() const;
    /// trunc(min(width, height) * suppression * 0.125), at least 1.
    static int smallestLevelSize(int width, int height, float suppression);

private:
    void updateVisibility();

    PX::Image::Op* m_node;
    int m_blendType = 0;
    float m_suppression = 0.125f;
    bool m_expand = true;
    bool m_exposureCompensation = true;
};

}  // namespace Research
}  // namespace Korvane
