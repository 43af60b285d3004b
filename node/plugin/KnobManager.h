// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <string>
#include <vector>

#include "external/RigLibrary.h"
#include "plugin/PanelActions.h"
#include "px/image/Format.h"
#include "px/image/Hash.h"
#include "px/image/Matrix3.h"
#include "px/image/MetaKeyFrameKnob.h"
#include "render/BlendingKnobs.h"
#include "viewer/ViewNavigationKnobs.h"
#include "viewer/ZoomWindowSettings.h"

namespace PX {
namespace Image {
class ArrayKnob;
class Knob;
class KnobCallback;
class Op;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

class ConstraintsKnob;
class ControlPointsKnob;
class GridMapKnob;
class RigContext;

/// The values of the node's main panel and the panel's declaration, in order: the first tab
/// (Keying, Analysis, Output), "Line Constraints", "Settings", the view-navigation group, the
/// two viewer toolbars and the hidden state knobs.
///
/// Typed access: a getter returns the live knob's value when the node is present and
/// `storedOnly` is off, the stored member otherwise (validation and renders read stored values,
/// which the host keeps current before each validation and execution). Setters write the live
/// knob without bringing knob_changed.
///
/// The analysis keys are the animation keys of the hidden knob `analysisKeyframe`; the
/// manager is the delegate through which `metaAnalysisKeys` lists and edits them.
class KnobManager : public PX::Image::MetaKeyFrameDelegate {
public:
    enum class CameraOutputMode { Unwarped = 0, Warped = 1 };
    enum class CameraProjection { Default = 0, Latlong = 1 };
    enum class KernelType { None = 0, Linear = 1, Gaussian = 2 };
    enum class InteractionMode { Constraints = 0, CameraMatches = 1 };

    /// `gridSize` per side: the solver needs 2 vertices; past 100 a camera's system (10^4
    /// vertices per key) takes minutes and the store grows past what a script carries well.
    static constexpr int kMinGridSize = 2;
    static constexpr int kMaxGridSize = 100;

    /// The scripts of the Python-script buttons.
    static const char* const kMatchScript;
    static const char* const kMatchNewScript;
    static const char* const kWarpScript;
    static const char* const kTrackScript;
    static const char* const kExportScript;
    static const char* const kImportScript;

    explicit KnobManager(PX::Image::Op* node);
    /// The rig's views, for the actions that step through them or look at them.
    void attach(const RigContext* rig);
    PanelActions& actions() { return m_actions; }

    /// Declares the panel in order. `mainOutputView` starts `outputView`.
    void knobs(PX::Image::KnobCallback& f);
    /// Offers the knob to the view-navigation, blending and zoom-window groups and handles the
    /// panel's own knobs; 1 when handled.
    int knob_changed(PX::Image::Knob* knob);
    /// The node's own part of its hash: every warp grid, then view navigation and blending.
    void appendHash(PX::Image::Hash& hash) const;

    // MetaKeyFrameDelegate: the keys of `analysisKeyframe`.
    std::vector<float> getKeys() const override;
    void addKey(float frame) override;
    void deleteKeys(const std::vector<float>& frames) override;
    /// True when `analysisKeyframe` has an analysis key at `frame`.
    bool isAnalysisKey(int frame) const;
    /// The position of `frame` in the ascending key list, -1 when it is no key.
    int keyIndex(int frame) const;

    /// The stores of warp grids and of camera matches; null before knobs() declared them.
    GridMapKnob* gridMap() const;
    ControlPointsKnob* controlPoints() const;
    /// The store of line constraints; null before knobs() declared it.
    ConstraintsKnob* constraints() const;

    const ViewNavigationKnobs& viewNavigation() const { return m_viewNavigation; }
    const BlendingKnobs& blending() const { return m_blending; }
    const ZoomWindowSettings& zoomWindow() const { return m_zoomWindow; }
    PX::Image::Matrix3 viewRotationMatrix() const { return m_viewNavigation.viewRotationMatrix(); }

    int keyStep(bool storedOnly = false) const;
    float warpThreshold(bool storedOnly = false) const;
    PX::Image::FormatPair outputFormat(bool storedOnly = false) const;
    int resampleType(bool storedOnly = false) const;
    CameraOutputMode cameraOutputMode(bool storedOnly = false) const;
    CameraProjection cameraProjectionType(bool storedOnly = false) const;
    float convergenceDepth(bool storedOnly = false) const;
    /// With "Auto" on, sets the convergence depth to the rig's (metres); used wherever the rig
    /// is read for work (the panel opening, Match, Warp), so that a script gets the depth the
    /// panel would show.
    void followRigConvergence(double rigConvergence);
    bool autoConvergenceDepth(bool storedOnly = false) const;
    float matchError(bool storedOnly = false) const;
    std::array<int, 2> gridSize(bool storedOnly = false) const;
    float matchStrength(bool storedOnly = false) const;
    float userMatchStrength(bool storedOnly = false) const;
    float spatialSmoothness(bool storedOnly = false) const;
    float temporalConsistency(bool storedOnly = false) const;
    int temporalWindow(bool storedOnly = false) const;
    KernelType kernelType(bool storedOnly = false) const;
    float vectorDetail(bool storedOnly = false) const;
    int trackingStep(bool storedOnly = false) const;
    int trackingPatchSize(bool storedOnly = false) const;
    float trackingThreshold(bool storedOnly = false) const;
    bool showLines(bool storedOnly = false) const;
    InteractionMode interactionMode(bool storedOnly = false) const;
    bool addPoint(bool storedOnly = false) const;
    CameraOutputMode outputMode(bool storedOnly = false) const;
    int outputView(bool storedOnly = false) const;
    bool rectilinearProjection(bool storedOnly = false) const;
    bool showCameras(bool storedOnly = false) const;
    bool isImported(bool storedOnly = false) const;
    bool isMatched(bool storedOnly = false) const;
    bool isWarped(bool storedOnly = false) const;
    int executeType(bool storedOnly = false) const;

    void setConvergenceDepth(float depth);
    void setMatchError(float error);
    void setIsImported(bool on);
    void setIsMatched(bool on);
    void setIsWarped(bool on);
    void setExecuteType(int type);
    /// Sets the live value of a number, enumeration or view knob (no knob_changed); nothing
    /// when the knob is missing or of another kind.
    void setNumber(const char* name, double value);
    /// The view-navigation projection (0 rectilinear, 1 fisheye, 2 spherical).
    void setViewProjection(int type);
    void setViewRotationAngles(double x, double y, double z);
    /// No view rotation: the Euler angles and the mouse rotation both go.
    void resetViewRotation() { m_viewNavigation.resetRotation(); }
    /// Turns the panorama view so that the rig-frame `direction` lies at its centre.
    void centreViewOn(const Eigen::Vector3d& direction);

private:
    // The panel's knobs, group by group in the order knobs() declares them.
    void keyingKnobs(PX::Image::KnobCallback& f);
    void analysisKnobs(PX::Image::KnobCallback& f);
    void outputKnobs(PX::Image::KnobCallback& f);
    void constraintPropertyKnobs(PX::Image::KnobCallback& f);
    void constraintActionKnobs(PX::Image::KnobCallback& f);
    void warpingSettingKnobs(PX::Image::KnobCallback& f);
    void trackingSettingKnobs(PX::Image::KnobCallback& f);
    void editToolbarKnobs(PX::Image::KnobCallback& f);
    void viewToolbarKnobs(PX::Image::KnobCallback& f);
    void stateKnobs(PX::Image::KnobCallback& f);

    double number(const char* name, double stored, bool storedOnly) const;
    PX::Image::ArrayKnob* keysKnob() const;

    PX::Image::Op* m_node;
    MetaDataHandler m_metaData;
    ViewNavigationKnobs m_viewNavigation;
    BlendingKnobs m_blending;
    ZoomWindowSettings m_zoomWindow;
    PanelActions m_actions;

    // Keying
    int m_analysisKeyframe = 0;
    int m_keyStep = 30;
    // Analysis
    float m_matchError = 0.0f;
    float m_warpThreshold = 20.0f;
    // Output
    PX::Image::FormatPair m_outputFormat;
    int m_resampleType = 1;
    int m_cameraOutputMode = 0;
    int m_cameraProjectionType = 0;
    float m_convergenceDepth = 10.0f;
    bool m_autoConvergenceDepth = true;
    // Line Constraints
    bool m_showLines = true;
    float m_constraintStrength = 4.0f;
    float m_constraintSampling = 20.0f;
    double m_constraintColour[3] = {1, 0, 0};
    int m_constraintStartFrame = 0;
    int m_constraintEndFrame = 0;
    // Settings
    int m_gridSize[2] = {10, 10};
    float m_matchStrength = 2.0f;
    float m_userMatchStrength = 4.0f;
    float m_spatialSmoothness = 0.5f;
    float m_temporalConsistency = 2.0f;
    int m_temporalWindow = 0;
    int m_kernelType = 1;
    float m_vectorDetail = 0.4f;
    int m_trackingStep = 5;
    int m_trackingPatchSize = 14;
    float m_trackingThreshold = 0.25f;
    // Toolbars
    int m_interactionMode = 0;
    bool m_addPoint = false;
    int m_outputMode = 1;
    int m_outputView = 0;
    bool m_rectilinearProjection = false;
    bool m_showCameras = true;
    // State
    bool m_isImported = false;
    bool m_isMatched = false;
    bool m_isWarped = false;
    std::string m_rigCorrection;
    int m_executeType = 0;
};

}  // namespace Research
}  // namespace Korvane
