// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include "vellacam/CameraRigDefinition.h"
#include "vellacam/FeatureImageSource.h"

namespace Korvane {
namespace Research {

/// The cameras' own images from the footage files they come from: input c of this source is
/// camera c of the rig, read from input `inputs[c]` of `files` and cut to the camera's crop
/// window when it has one (cameras that share one file, such as the two lenses of a
/// dual-fisheye camera, so become cameras of their own). A file read for one camera is kept
/// for the next camera of the same input and frame. A window reaching past its file gives no
/// image and a warning naming the camera.
class CameraWindowSource : public FeatureImageSource {
public:
    CameraWindowSource(FeatureImageSource& files,
                       const CameraRigDefinition& rig,
                       std::vector<int> inputs);

    bool getImage(int camera, int frame, FeatureImage* image) override;
    void warning(const std::string& text) override { m_files.warning(text); }

    /// The inputs to hand TrackFeatures with this source: 0, 1, ... for cameras with an input,
    /// -1 for the others.
    std::vector<int> cameraInputs() const;

private:
    FeatureImageSource& m_files;
    const CameraRigDefinition& m_rig;
    std::vector<int> m_inputs;
    int m_cachedInput = -1;
    int m_cachedFrame = 0;
    bool m_cachedOk = false;
    FeatureImage m_cached;
};

}  // namespace Research
}  // namespace Korvane
