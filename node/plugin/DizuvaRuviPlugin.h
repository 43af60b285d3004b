// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <set>
#include <string>
#include <vector>

#include "analysis/AnalysisExecutor.h"
#include "external/RigLibrary.h"
#include "plugin/KnobManager.h"
#include "plugin/ResearchKilnPlanarIop.h"
#include "plugin/RigContext.h"
#include "px/image/Executable.h"
#include "render/RenderDispatcher.h"

namespace Korvane {
namespace Research {

/// The operator the host creates for every V_DizuvaRuvi node. It owns its cooperating members
/// for its whole life and routes every host call to the right one:
///  - the metadata handler holds the bundle passed downstream;
///  - the knob manager holds the panel's values;
///  - the rig context holds the rig and the camera views, and splits the one input into
///    N + 1 inputs (input 0 the source itself, input k the k-th camera view);
///  - the analysis executor does the work of executions (matching, warp solve, tracking);
///  - the render dispatcher produces the requested planes.
class DizuvaRuviPlugin : public ResearchKilnPlanarIop, public PX::Image::Executable {
public:
    static const char* const kClass;
    static const char* const kDisplayName;
    static const char* const kBuild;
    static const PX::Image::Op::Description kDescription;

    explicit DizuvaRuviPlugin(PX::Image::Node* node);
    ~DizuvaRuviPlugin() override;

    const char* Class() const override { return kClass; }
    const char* displayName() const override { return kDisplayName; }
    const char* node_help() const override;
    const Description* description() const override { return &kDescription; }

    void _validate(bool for_real) override;
    PX::Image::MetaData::Bundle _fetchMetaData(const std::string& key) override;
    void knobs(PX::Image::KnobCallback& f) override;
    int knob_changed(PX::Image::Knob* knob) override;
    int minimum_inputs() const override { return 1; }
    int maximum_inputs() const override { return 1; }
    std::string input_label(int) const override { return "Source"; }
    void append(PX::Image::Hash& hash) override;
    void build_splits() override;
    int split_input(int n) const override;
    PX::Image::OutputContext inputContext(int k) const override;
    PX::Image::OutputContext inputUIContext(int k) const override;
    PX::Image::Executable* executable() override { return this; }
    bool updateUI(const PX::Image::OutputContext&) override { return false; }
    int doPreValidate() override;
    void getRequests(const PX::Image::Box& box,
                     const PX::Image::ChannelSet& channels,
                     int count,
                     PX::Image::RequestOutput& requests) const override;
    PX::Image::ImagePlane renderStripe(int stripe, const PX::Image::ChannelSet& channels) override;

    // Executable
    void beginExecuting() override;
    void execute() override;
    void endExecuting() override;
    bool skipFrame(double frame) override;
    std::set<int> executeViews() const override { return {1}; }
    bool isExecuteThreadSafe() const override { return false; }
    bool isWrite() const override { return false; }

    RigContext& rigContext() { return m_rigContext; }
    KnobManager& knobManager() { return m_knobManager; }
    const RenderDispatcher& renderDispatcher() const { return m_renderDispatcher; }
    RenderDispatcher& renderDispatcher() { return m_renderDispatcher; }
    /// The channels validation added for the output view (the stitch-map layer).
    const PX::Image::ChannelSet& layerChannels() const { return m_layerChannels; }

protected:
    void renderHook(PX::Image::ImagePlane& plane) override;

private:
    /// Says which camera views have no image (`without`), as a node warning; false, with the
    /// node error, when none has one. `firstFailure` ("input K: why", or empty) ends that error.
    bool warnWithoutImage(const std::vector<int>& without, const std::string& firstFailure);
    /// False, with the node error naming the camera, both sizes and the frame, when the camera
    /// of `view` has no crop window and the rig describes another image size than the
    /// full-size format of `in`, the view's validated input.
    bool footageMatchesTheRig(int view, const PX::Image::Iop& in);
    /// False, with the node error naming the knob, the size and the memory, when an output of
    /// `format` could not fit in the memory this process may use (the system would kill it
    /// part way through, before any message).
    bool outputFormatFits(const PX::Image::Format& format);
    /// A Warped output whose grids were solved at another convergence depth still renders;
    /// the host hears why it ghosts once for each new pair of depths.
    void warnOfSolveDepth(bool warped);
    /// A stored rig correction that does not read for the input's rig (another camera count,
    /// text edited by hand) is not applied; the host hears so once for each such text.
    void warnOfUnusedRigCorrection();
    /// Camera views of the project beyond the rig's cameras (cam5 for a rig of four) are not
    /// camera views of this node; the host hears their names once for each new set.
    void warnOfViewsOutsideRig();

private:
    MetaDataHandler m_metaData;
    KnobManager m_knobManager;
    RigContext m_rigContext;
    AnalysisExecutor m_executor;
    RenderDispatcher m_renderDispatcher;
    PX::Image::ChannelSet m_layerChannels;
    /// The camera views whose inputs have an image, as the last panorama validation found
    /// them: the panorama is stitched from these.
    std::vector<int> m_stitchedViews;
    /// The solve-depth warning last given to the host; empty once the depths agree again.
    std::string m_warnedSolveDepth;
    std::string m_warnedRigCorrection;  // the warning and the text it was given for
    std::string m_warnedViewsOutsideRig;
};

}  // namespace Research
}  // namespace Korvane
