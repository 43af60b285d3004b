// SPDX-License-Identifier: Apache-2.0
#include "plugin/DizuvaRuviPlugin.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "base/Exception.h"
#include "px/image/ArrayKnob.h"
#include "px/image/KnobCallback.h"
#include "px/image/Node.h"
#include "px/image/StringKnob.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

namespace {

// The help text: the title joined at load time from its parts, then one HTML paragraph.
const std::string kVersionTitle = std::string("DizuvaRuvi") + " " + "2" + "." + "1" + "v1";
const char* const kHelpParagraph =
    "<p>V_DizuvaRuvi. Analyse and correct input footage from a rig using the camera metadata to "
    "minimise the ghosting in the overlapping regions. The correction is based on the camera "
    "matches, which are used to find the best grid warp transformation of each input footage at "
    "the given convergence depth.</p><p><b>Keying:</b> Set analysis keys where there is "
    "structure and/or a depth change in the overlap region between images. "
    "<p><b>Analysis:</b> Control the warping process. Analyse the sequence to find the camera "
    "matches at the analysis keys, and then warp to align the input footage. You can add new "
    "keys anytime, and compute the camera matches at those keys only.</p><p><b>Settings:</b> "
    "Control the parameters underpinning the warping process.</p><p><b>Line Constraints:</b> "
    "Constraints can be added to keep lines straight during the warping. Create as many line "
    "constraints as needed. Add the constraint keys to the analysis keys. Optionally compute "
    "camera matches at the new keys. Finally update the warp.</p><p><b>Output:</b> The stitched "
    "panorama is shown in the main view. Set the output format, blend type, and resampling "
    "filter to render the final panorama. Each camera view will show the input footages. If the "
    "camera views are unwarped a stitch map  layer will also be provided.</p>";

constexpr double kRadiansToDegrees = 57.29577951308232;

// What a panorama (or a latlong camera view) holds per output pixel at the least: the host's
// plane and the stitcher's float RGBA images. The 6-camera Warped Multi-Band panorama of the
// default footage holds about 190 bytes a pixel at its peak (8192 x 4096: 6.4 GB), so a
// format refused on this bound would certainly not have fitted.
constexpr double kLeastBytesPerOutputPixel = 64.0;

// The memory this process may use: the machine's, or less under a limit on its address space
// or its control group. Past it, the system kills the process before it can say why.
double usableMemoryBytes() {
    double bytes = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE));
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        bytes = std::min(bytes, double(limit.rlim_cur));
    std::ifstream group("/sys/fs/cgroup/memory.max");
    double groupBytes = 0.0;
    if (group >> groupBytes && groupBytes > 0.0) bytes = std::min(bytes, groupBytes);
    return bytes;
}

std::string gibibytes(double bytes) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(bytes < 10.0 * (1 << 30) ? 1 : 0)
         << bytes / double(1 << 30) << " GiB";
    return text.str();
}

Op* build(Node* node) { return new DizuvaRuviPlugin(node); }

}  // namespace

const char* const DizuvaRuviPlugin::kClass = "V_DizuvaRuvi";
const char* const DizuvaRuviPlugin::kDisplayName = "DizuvaRuvi";
const char* const DizuvaRuviPlugin::kBuild = "Jun 11 2018 for 10.5v1";

DizuvaRuviPlugin::DizuvaRuviPlugin(Node* node)
    : ResearchKilnPlanarIop(node),
      Executable(this),
      m_knobManager(this),
      m_rigContext(this),
      m_executor(this),
      m_renderDispatcher(this) {
    m_knobManager.attach(&m_rigContext);
    m_executor.attach(&m_rigContext, &m_knobManager);
    m_renderDispatcher.attach(&m_rigContext, &m_knobManager);
    m_cacheThisPlane = false;
}

DizuvaRuviPlugin::~DizuvaRuviPlugin() = default;

const char* DizuvaRuviPlugin::node_help() const {
    static const std::string help = "<h3>" + kVersionTitle + "</h3>" + kHelpParagraph;
    return help.c_str();
}

void DizuvaRuviPlugin::knobs(KnobCallback& f) {
    KilnSettings::knobs(f);
    Text_knob(f, " ");
    m_rigContext.knobs(f);
    m_knobManager.knobs(f);
}

int DizuvaRuviPlugin::knob_changed(Knob* knob) {
    // Refine Rig, its undo and a script's value all land here: the node's rig follows.
    if (knob && knob->name() == "rigCorrection") m_rigContext.reloadRig(false);
    const int rig = m_rigContext.knob_changed(knob);
    const int panel = m_knobManager.knob_changed(knob);
    return rig || panel ? 1 : Op::knob_changed(knob);
}

void DizuvaRuviPlugin::append(Hash& hash) {
    m_knobManager.appendHash(hash);
    hash.append(outputContext().view());
    m_rigContext.appendHash(hash);
}

void DizuvaRuviPlugin::build_splits() { m_rigContext.multiViewManager()->build_splits(); }

int DizuvaRuviPlugin::split_input(int n) const {
    return m_rigContext.multiViewManager()->split_input(n);
}

OutputContext DizuvaRuviPlugin::inputContext(int k) const {
    return m_rigContext.multiViewManager()->inputContext(k);
}

OutputContext DizuvaRuviPlugin::inputUIContext(int k) const {
    return m_rigContext.multiViewManager()->inputUIContext(k);
}

void DizuvaRuviPlugin::_validate(bool for_real) {
    const int view = outputContext().view();
    // Input 0 is the source in the node's own view. For a panorama view ("main", "left",
    // "right") the source has no image of that view (its views are the cameras), so only the
    // camera views' inputs are validated below: validating it there would only make the
    // source report a file that cannot exist.
    if (!m_rigContext.isPanoramaView(view)) Iop::_validate(for_real);
    const FormatPair formats = m_knobManager.outputFormat(true);
    m_rigContext.reloadRig(true);
    warnOfUnusedRigCorrection();
    warnOfViewsOutsideRig();
    const MultiViewManager& views = *m_rigContext.multiViewManager();
    ChannelSet layers;

    auto stop = [this] { m_layerChannels.clear(); };

    if (m_rigContext.isPanoramaView(view)) {
        bool haveInfo = false;
        for (int k = 1; k < inputs(); ++k) {
            if (!input(k)) continue;
            if (haveInfo) {
                merge_info(k);
            } else {
                copy_info(k);
                haveInfo = true;
            }
        }
        Box first;
        bool haveFirst = false;
        // A rig may name more cameras than the footage has: the views without an image are
        // left out of the panorama, with one warning.
        m_stitchedViews.clear();
        std::vector<int> without;
        std::string firstFailure;  // why the first camera input that failed did
        std::vector<const Iop*> stitchedInputs;
        for (int cameraView : views.cameraViews()) {
            const int k = views.inputIndexOfView(cameraView);
            Iop* in = validateInput(k);
            if (!in) return stop();
            if (!in->valid() || in->info().format().width() <= 0) {
                if (!in->valid() && firstFailure.empty())
                    firstFailure = "input " + std::to_string(k) + ": " + in->errorMessage();
                without.push_back(cameraView);
                continue;
            }
            m_stitchedViews.push_back(cameraView);
            stitchedInputs.push_back(in);
            const Box box = in->info().format().box();
            if (!haveFirst) {
                first = box;
                haveFirst = true;
            } else if (box != first) {
                error("View '%s' differs in format from the others",
                      Views::name(cameraView).c_str());
                return stop();
            }
        }
        if (!warnWithoutImage(without, firstFailure)) return stop();
        if (!outputFormatFits(formats.format)) return stop();
        // Cameras that agree with each other may still all differ from the calibration.
        for (std::size_t i = 0; i < m_stitchedViews.size(); ++i)
            if (!footageMatchesTheRig(m_stitchedViews[i], *stitchedInputs[i])) return stop();
        warnOfSolveDepth(m_knobManager.outputMode(true) == KnobManager::CameraOutputMode::Warped);
        if (info().channels() == Mask_StitchMap) {
            info_().channels(ChannelSet());
            return stop();
        }
        info_().set(formats.format.box());
        info_().format(formats.format);
        info_().full_size_format(formats.fullSizeFormat);
    } else {
        if (!m_rigContext.isCameraView(view) || !views.isViewInSet(view)) return stop();
        const int k = views.inputIndexOfView(view);
        Iop* in = validateInput(k);
        if (!in) return stop();
        // A camera view shows its own input alone: an input that failed (a frame missing from
        // the sequence) is this view's error, not an image without channels.
        if (!in->valid()) {
            error("Input %d could not be read: %s", k, in->errorMessage().c_str());
            return stop();
        }
        if (!footageMatchesTheRig(view, *in)) return stop();
        copy_info(k);
        // A camera with a crop window shows its own window, not the whole file it shares.
        const int camera = m_rigContext.cameraIndexOfView(view);
        if (camera >= 0 && camera < m_rigContext.numberOfCameras() &&
            m_rigContext.rig().getCamera(camera).hasCropWindow()) {
            const CameraDefinition& c = m_rigContext.rig().getCamera(camera);
            const Format own(
                c.getFormatWidth(), c.getFormatHeight(), in->info().format().pixel_aspect());
            info_().set(own.box());
            info_().format(own);
            info_().full_size_format(own);
        }
        const bool warped =
            m_knobManager.cameraOutputMode(true) == KnobManager::CameraOutputMode::Warped;
        warnOfSolveDepth(warped);
        if (!warped) layers = Mask_StitchMap;
        if (m_knobManager.cameraProjectionType(true) != KnobManager::CameraProjection::Default) {
            if (!outputFormatFits(formats.format)) return stop();
            info_().set(formats.format.box());
            info_().format(formats.format);
            info_().full_size_format(formats.fullSizeFormat);
        }
    }
    info_().turn_on(layers);
    m_layerChannels = layers;
}

int DizuvaRuviPlugin::doPreValidate() {
    const int result = Op::doPreValidate();
    if (result != kPreValidateGoOn) return result;
    m_rigContext.reloadRig(false);
    m_knobManager.followRigConvergence(m_rigContext.rigConvergence());
    m_knobManager.actions().followSolveDepth();
    const bool panorama = m_rigContext.isPanoramaView(uiContext().view());
    for (const char* name : {"outputMode",
                             "outputView",
                             "previousView",
                             "nextView",
                             "rectilinearProjection",
                             "centerOutputView",
                             "resetRotation",
                             "showCameras"})
        if (Knob* k = knob(name)) k->visible(panorama);
    return kPreValidateGoOn;
}

void DizuvaRuviPlugin::getRequests(const Box&,
                                   const ChannelSet&,
                                   int count,
                                   RequestOutput& requests) const {
    for (int n = 0; n < inputs(); ++n)
        if (Iop* in = input(n))
            requests.request(in, in->info().box(), in->info().channels(), count);
}

ImagePlane DizuvaRuviPlugin::renderStripe(int stripe, const ChannelSet& channels) {
    if (channels != Mask_StitchMap) {
        m_cacheThisPlane = false;
        return ResearchKilnPlanarIop::renderStripe(stripe, channels);
    }
    m_cacheThisPlane = true;
    ImagePlane plane(info().box(), false, channels);
    renderPlane(plane);
    if (!aborted() && !hasError() && plane.hasBuffer()) return plane;
    return ImagePlane();
}

bool DizuvaRuviPlugin::footageMatchesTheRig(int view, const Iop& in) {
    // A calibration made for another image size would put every pixel of the panorama, of a
    // latlong or warped camera view and of the stitch map in the wrong place without a word.
    // A camera with a crop window is checked when it is read.
    const CameraRigDefinition& rig = m_rigContext.rig();
    const int camera = m_rigContext.cameraIndexOfView(view);
    if (camera < 0 || camera >= rig.getNumberCameras()) return true;
    const CameraDefinition& c = rig.getCamera(camera);
    const Format& full = in.info().full_size_format().width() > 0 ? in.info().full_size_format()
                                                                  : in.info().format();
    if (c.hasCropWindow() || full.width() <= 0 ||
        (c.getFormatWidth() == full.width() && c.getFormatHeight() == full.height()))
        return true;
    error(
        "Camera %d (%s): the rig describes a %d x %d image, but its input is %d x %d at frame "
        "%g",
        camera + 1,
        Views::name(view).c_str(),
        c.getFormatWidth(),
        c.getFormatHeight(),
        full.width(),
        full.height(),
        outputContext().frame());
    return false;
}

bool DizuvaRuviPlugin::outputFormatFits(const Format& format) {
    const double need =
        double(format.width()) * double(format.height()) * kLeastBytesPerOutputPixel;
    // The limits are the process's: read once, not at every validation.
    static const double have = usableMemoryBytes();
    if (need <= have) return true;
    error(
        "Format %d x %d (knob 'outputFormat') needs at least %s of memory to render, more than "
        "the %s this process may use; choose a smaller Format.",
        format.width(),
        format.height(),
        gibibytes(need).c_str(),
        gibibytes(have).c_str());
    return false;
}

bool DizuvaRuviPlugin::warnWithoutImage(const std::vector<int>& without,
                                        const std::string& firstFailure) {
    std::vector<int> cameras;
    for (int view : without) cameras.push_back(m_rigContext.cameraIndexOfView(view));
    if (m_stitchedViews.empty() && !without.empty()) {
        // The inputs' own error says why (a rig file that does not read fails every one).
        const std::string why = firstFailure.empty() ? "" : " (" + firstFailure + ")";
        error("No camera view has an image: %s%s.",
              CameraList(m_rigContext.rig(), cameras).c_str(),
              why.c_str());
        return false;
    }
    // Raised at every validation it holds for: the host says it once, and a render counts the
    // frames made without these cameras.
    if (!without.empty())
        warning("%zu of %zu camera views have no image and are left out of the panorama: %s.",
                without.size(),
                without.size() + m_stitchedViews.size(),
                CameraList(m_rigContext.rig(), cameras).c_str());
    return true;
}

void DizuvaRuviPlugin::warnOfUnusedRigCorrection() {
    // Refine Rig's correction holds one entry per camera of the rig it refined: a rig file
    // changed since (a camera added or removed), or a hand-edited script, leaves it unread,
    // and the renders then use the rig as the file describes it.
    const auto* knob = dynamic_cast<const StringKnob*>(this->knob("rigCorrection"));
    if (!knob || !m_rigContext.correctionRefused()) {
        m_warnedRigCorrection.clear();
        return;
    }
    const std::string message =
        "the rig correction of Refine Rig does not fit the input's rig of " +
        std::to_string(m_rigContext.inputRig().getNumberCameras()) +
        " cameras and is not applied; press Refine Rig again to refine this rig.";
    if (message + knob->text() == m_warnedRigCorrection) return;
    m_warnedRigCorrection = message + knob->text();
    progressMessage("Warning: " + message);
}

void DizuvaRuviPlugin::warnOfViewsOutsideRig() {
    // The camera views are cam1 .. camN of the rig's N cameras: footage of the project's
    // further camera views (a camera the rig file forgot, a rig file of another rig) would
    // otherwise be left out of matching, warping and the panorama without a word.
    const int cameras = m_rigContext.numberOfCameras();
    // With the override on, the user chose the camera views.
    const auto* chosen = dynamic_cast<const ArrayKnob*>(knob("manualOverride"));
    std::string outside;
    int count = 0;
    if (cameras > 0 && !(chosen && chosen->get_value() != 0.0)) {
        for (const std::string& name : Views::names()) {
            std::string suffix;
            if (MultiViewManager::cameraNumber(name, &suffix) > cameras && suffix.empty())
                outside += (count++ ? ", " : "") + name;
        }
    }
    const std::string message =
        count == 0 ? std::string()
                   : "the rig lists " + std::to_string(cameras) + " camera" +
                         (cameras == 1 ? "" : "s") + ": the camera view" +
                         (count == 1 ? " " : "s ") + outside + (count == 1 ? " is" : " are") +
                         " not in it and left out. Give the Read a rig file that lists every "
                         "camera.";
    if (message == m_warnedViewsOutsideRig) return;
    m_warnedViewsOutsideRig = message;
    if (!message.empty()) progressMessage("Warning: " + message);
}

void DizuvaRuviPlugin::warnOfSolveDepth(bool warped) {
    const std::string message = m_knobManager.actions().solveDepthWarning();
    if (message.empty()) m_warnedSolveDepth.clear();
    if (!warped || message.empty() || message == m_warnedSolveDepth) return;
    m_warnedSolveDepth = message;
    progressMessage("Warning: " + message);
}

void DizuvaRuviPlugin::renderHook(ImagePlane& plane) {
    MultiViewManager* views = m_rigContext.multiViewManager();
    if (!views) throw Korvane::Base::MessageException("The node has no view manager.");
    const ComputeContext device = renderDevice();
    if (aborted()) throw Korvane::Base::InterruptedException("render aborted");
    const int view = outputContext().view();
    m_renderDispatcher.render(
        plane,
        *views,
        device,
        cpuDevice(),
        m_rigContext.isPanoramaView(view) ? m_stitchedViews : views->cameraViews(),
        view);
    if (aborted()) throw Korvane::Base::InterruptedException("render aborted");
}

MetaData::Bundle DizuvaRuviPlugin::_fetchMetaData(const std::string& key) {
    try {
        m_metaData.updateMetaDataBundle(Op::_fetchMetaData(key));
    } catch (const RigError&) {
        // Not a rig: pass the input's bundle on as it came.
        return Op::_fetchMetaData(key);
    }
    m_rigContext.reloadRig(true);
    if (m_metaData.getNumberCameras() == 0) return m_metaData.getMetaDataBundle();
    // The renderers read the rig from this bundle: it carries Refine Rig's correction.
    const CameraRigDefinition refined = m_rigContext.corrected(m_metaData.getRig());
    for (int c = 0; c < m_metaData.getNumberCameras(); ++c)
        m_metaData.setCamera(c, refined.getCamera(c));

    // The rig rotation of the bundle just read: the rig context may still hold an older one.
    const Eigen::Vector3d rig = m_metaData.getRigRotation() / kRadiansToDegrees;
    const Matrix3 rotation = m_knobManager.viewRotationMatrix().transpose() *
                             Matrix3::rotationZXY(rig.x(), rig.y(), rig.z());
    const auto angles = rotation.getZXYRotations();
    m_metaData.setRigRotation(Eigen::Vector3d(angles[0], angles[1], angles[2]) * kRadiansToDegrees);

    const bool latlongOutput =
        m_knobManager.cameraProjectionType() == KnobManager::CameraProjection::Latlong;
    const ProjectionTypeEnum firstProjection = m_metaData.getNumberCameras() > 0
                                                   ? m_metaData.getCamera(0).getProjection()
                                                   : ProjectionTypeEnum::Fisheye;
    if (!latlongOutput && firstProjection != ProjectionTypeEnum::Latlong) {
        m_metaData.setRigConvergence(m_knobManager.convergenceDepth());
        return m_metaData.getMetaDataBundle();
    }

    Eigen::Matrix3d outputRotation;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) outputRotation(r, c) = rotation(r, c);
    for (int c = 0; c < m_metaData.getNumberCameras(); ++c) {
        CameraDefinition camera = m_metaData.getCamera(c);
        const Format format = m_rigContext.cameraFormat(c);
        camera.setFormat(format.width(), format.height(), format.pixel_aspect());
        camera.setProjection(ProjectionTypeEnum::Latlong);
        camera.setCameraToWorldRotation(outputRotation * camera.getCameraToWorldRotation());
        m_metaData.setCamera(c, camera);
    }
    m_metaData.setRigRotation(Eigen::Vector3d::Zero());
    m_metaData.setRigConvergence(m_knobManager.convergenceDepth());
    return m_metaData.getMetaDataBundle();
}

void DizuvaRuviPlugin::beginExecuting() {
    m_executor.begin(renderDevice(), cpuDevice());
    warnOfViewsOutsideRig();
}

void DizuvaRuviPlugin::execute() { m_executor.execute(uiContext().frame()); }

void DizuvaRuviPlugin::endExecuting() { m_executor.end(); }

bool DizuvaRuviPlugin::skipFrame(double frame) { return m_executor.skipFrame(frame); }

const Op::Description DizuvaRuviPlugin::kDescription(DizuvaRuviPlugin::kClass,
                                                     build,
                                                     DizuvaRuviPlugin::kBuild);

}  // namespace Research
}  // namespace Korvane
