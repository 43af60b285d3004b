// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Format.h"
#include "px/image/Hash.h"
#include "px/image/Matrix3.h"

namespace PX {
namespace Image {
class Knob;
class KnobCallback;
class Op;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

/// The values of the node's main panel. Members of the node read and write knobs through the
/// typed accessors: a getter returns the live knob's value when the node is present and
/// `storedOnly` is off, the stored member otherwise (validation and renders read stored
/// values, which the host keeps current before each validation and execution). Setters write
/// the live knob without bringing knob_changed.
class KnobManager {
public:
    enum class CameraOutputMode { Unwarped = 0, Warped = 1 };
    enum class CameraProjection { Default = 0, Latlong = 1 };

    explicit KnobManager(PX::Image::Op* node);

    /// Declares the panel in order.
    void knobs(PX::Image::KnobCallback& f);
    /// Handles the panel's knobs; 1 when handled.
    int knob_changed(PX::Image::Knob* knob);

    PX::Image::FormatPair outputFormat(bool storedOnly = false) const;
    CameraOutputMode cameraOutputMode(bool storedOnly = false) const;
    CameraProjection cameraProjectionType(bool storedOnly = false) const;
    float convergenceDepth(bool storedOnly = false) const;
    bool autoConvergenceDepth(bool storedOnly = false) const;
    int executeType(bool storedOnly = false) const;
    bool isMatched(bool storedOnly = false) const;
    bool isWarped(bool storedOnly = false) const;
    float matchError(bool storedOnly = false) const;

    void setConvergenceDepth(float depth);
    void setExecuteType(int type);
    void setIsMatched(bool on);
    void setIsWarped(bool on);
    void setMatchError(float error);

    /// True when `analysisKeyframe` has an analysis key at `frame`.
    bool isAnalysisKey(int frame) const;
    /// The rotation of the panorama view (identity until the view is rotated).
    PX::Image::Matrix3 viewRotationMatrix() const { return PX::Image::Matrix3(); }

private:
    double liveValue(const char* name, double stored, bool storedOnly) const;
    void setLive(const char* name, double value);

    PX::Image::Op* m_node;
    int m_analysisKeyframe = 0;
    PX::Image::FormatPair m_outputFormat;
    int m_cameraOutputMode = 0;
    int m_cameraProjectionType = 0;
    float m_convergenceDepth = 10.0f;
    bool m_autoConvergenceDepth = true;
    float m_matchError = 0.0f;
    bool m_isMatched = false;
    bool m_isWarped = false;
    int m_executeType = 0;
};

}  // namespace Research
}  // namespace Korvane
