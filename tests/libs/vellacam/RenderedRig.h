// SPDX-License-Identifier: Apache-2.0
// A small synthetic rig rendered once per process for the matching tests: 4 fisheye cameras
// of 320 x 240 around the horizon inside make_rig's textured room, frame 1, seed 1, and, on
// first use, the panorama seen from the rig centre.
#pragma once

#include <vector>

#include "RigOptions.h"
#include "Scene.h"
#include "ViewRenderer.h"
#include "vellacam/CameraRigDefinition.h"
#include "vellacam/FeatureImageSource.h"

namespace MatchingTests {

struct RenderedRig {
    Korvane::MakeRig::RigOptions options;
    Korvane::Research::CameraRigDefinition rig;
    Korvane::MakeRig::Scene scene;  ///< posed for frame 1
    std::vector<Korvane::MakeRig::RenderedView> views;
    /// Luminance of each view, rows from the bottom.
    std::vector<Korvane::Research::FeatureImage> images;
    static const RenderedRig& get();
    /// get()'s scene from the rig centre, 512 x 256 (the rig library's ideal latlong image).
    static const Korvane::MakeRig::RenderedView& panorama();
    /// The true rig of `options` and its views of the scene at its first frame.
    static RenderedRig render(const Korvane::MakeRig::RigOptions& options);
    /// The luminance of `view`, rows from the bottom.
    static Korvane::Research::FeatureImage luminance(const Korvane::MakeRig::RenderedView& view);
};

/// Hands the rendered images out, each camera c as input c; inputs in `missing` have none.
class RenderedSource : public Korvane::Research::FeatureImageSource {
public:
    explicit RenderedSource(std::vector<Korvane::Research::FeatureImage> images)
        : m_images(std::move(images)) {}
    bool getImage(int input, int, Korvane::Research::FeatureImage* image) override {
        if (input < 0 || input >= int(m_images.size()) || m_images[size_t(input)].empty())
            return false;
        *image = m_images[size_t(input)];
        return true;
    }
    void warning(const std::string& text) override { warnings.push_back(text); }

    std::vector<std::string> warnings;

private:
    std::vector<Korvane::Research::FeatureImage> m_images;
};

}  // namespace MatchingTests
