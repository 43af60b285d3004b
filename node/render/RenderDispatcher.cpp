// SPDX-License-Identifier: Apache-2.0
#include "render/RenderDispatcher.h"

#include <algorithm>
#include <cmath>

#include "analysis/GridMapKnob.h"
#include "base/Exception.h"
#include "external/RigLibrary.h"
#include "kiln/Kernels.h"
#include "plugin/KnobManager.h"
#include "plugin/MultiViewManager.h"
#include "plugin/RigContext.h"
#include "px/image/ImagePlane.h"
#include "px/image/Iop.h"
#include "px/image/Node.h"
#include "px/image/OutputContext.h"
#include "render/KeptImage.h"
#include "render/PlaneImages.h"
#include "render/Stitcher.h"
#include "render/kernels/PositionImage.h"
#include "render/kernels/RenderKernels.h"
#include "render/projection/PositionImageCache.h"
#include "render/projection/ProjectionRecords.h"
#include "render/projection/QuaternionRotate.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;
using Korvane::Base::MessageException;
namespace IP = Kiln::ImageProjection;
namespace IS = Kiln::ImageStitcher;

namespace {

IP::Quaternion toKernel(const PX::Image::Quaternion& q) {
    return {float(q.w), float(q.x), float(q.y), float(q.z)};
}

// Positions that show nothing become -1: outside every frame, and readable in a file.
void markNoSample(Kiln::Image& positions) {
    const Kiln::Box b = positions.box();
    for (int y = b.y0; y < b.y1; ++y) {
        float* p = reinterpret_cast<float*>(positions.row(y));
        for (int i = 0; i < 2 * b.width(); ++i)
            if (!Kernels::isSample(p[i])) p[i] = -1.0f;
    }
}

const std::vector<Channel> kRGBA = {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha};
const std::vector<Channel> kStitchMap = {Chan_StitchMap_U, Chan_StitchMap_V};

// The plane's own pixels as a framework image, where they lie as one: packed float RGBA in
// that order over exactly `box`, and the render device is the CPU that holds them. Empty
// otherwise. Writing the view straight into the plane saves a 32 MB image and its copy. The
// caller writes every pixel of the plane, through the image or else by copying into it, so a
// reused buffer is not cleared first.
Kiln::Image planeAsImage(ImagePlane& plane,
                         const Kiln::Box& box,
                         const Kiln::Compute::DevicePtr& device) {
    if (!plane.packed() || plane.channels() != Mask_RGBA ||
        PlaneImages::toKiln(plane.bounds()) != box || !plane.hasBuffer())
        return {};
    for (int i = 0; i < 4; ++i)
        if (plane.chanNo(kRGBA[size_t(i)]) != i) return {};
    Kiln::Image image(Kiln::Tile{Kiln::Info{box, 4},
                                 plane.overwritable(),
                                 plane.rowStride() * std::ptrdiff_t(sizeof(float))});
    if (image.device() != device) return {};
    return image;
}

}  // namespace

void RenderDispatcher::attach(RigContext* rig, KnobManager* knobs) {
    m_rig = rig;
    m_knobs = knobs;
    m_renderer.attach(knobs, rig);
}

void RenderDispatcher::render(ImagePlane& plane,
                              MultiViewManager&,
                              ComputeContext device,
                              ComputeContext cpu,
                              const std::vector<int>& cameraViews,
                              int outputView) {
    std::lock_guard<std::mutex> lock(m_renderMutex);
    Kiln::AutoContextThreadBinder binder(device);
    if (!m_rig || !m_knobs) throw MessageException("The node has no rig to render.");
    m_renderer.setDevices(device, cpu);
    plane.makeWritable();
    if (m_rig->isPanoramaView(outputView))
        renderPanoramaView(plane, cameraViews, outputView);
    else
        renderCameraView(plane, outputView);
}

int RenderDispatcher::frame() const { return int(std::lround(m_node->outputContext().frame())); }

IP::Size RenderDispatcher::panoramaSize() const {
    const Format& f = m_knobs->outputFormat(true).format;
    return {f.width(), f.height()};
}

// --- camera views ------------------------------------------------------------------------

void RenderDispatcher::renderCameraView(ImagePlane& plane, int outputView) {
    const int camera = m_rig->cameraIndexOfView(outputView);
    if (camera < 0 || camera >= m_rig->numberOfCameras() || m_rig->inputIndexOfView(outputView) < 0)
        throw MessageException("View '" + Views::name(outputView) +
                               "' is not a camera view of the rig.");
    const Kiln::Box box = PlaneImages::toKiln(plane.bounds());
    const ChannelSet stitch = plane.channels() & Mask_StitchMap;
    const ChannelSet colour = plane.channels() - Mask_StitchMap;
    const int f = frame();
    const IP::Size size = m_renderer.cameraSize(camera);
    const auto filter = Kernels::Filter(m_knobs->resampleType(true));

    if (m_knobs->cameraProjectionType(true) == KnobManager::CameraProjection::Latlong) {
        // The camera alone in the panorama, then turned as the panorama views are.
        const IP::Size pano = panoramaSize();
        const Kiln::Box frameBox{0, 0, pano.width, pano.height};
        Kiln::Image positions(Kiln::Info{frameBox, 2}, m_renderer.device());
        m_renderer.cameraPositions(positions, camera, f, pano);
        if (!stitch.empty()) {
            Kiln::Image turned(Kiln::Info{frameBox, 2}, m_renderer.device());
            IP::QuaternionRotate(Kernels::Filter::Nearest)
                .run(turned,
                     positions,
                     IP::inverse(toKernel(m_knobs->viewNavigation().viewRotation())));
            markNoSample(turned);
            PlaneImages::toPlane(turned, kStitchMap, plane);
        }
        for (const auto& group : PlaneImages::groupsOfFour(colour)) {
            const Kiln::Image input = m_renderer.resamplingInput(
                outputView, Kiln::Box{0, 0, size.width, size.height}, group);
            Kiln::Image out(Kiln::Info{frameBox, int(group.size())}, m_renderer.device());
            Kernels::resample(filter, input, positions, out, size.width, size.height, false);
            rotateByView(out);
            PlaneImages::toPlane(out, group, plane);
        }
        return;
    }

    const bool latlongRig =
        m_rig->rig().getCamera(0).getProjection() == ProjectionTypeEnum::Latlong;
    const OutputContext& context = m_node->outputContext();
    const float sx = float(context.scale_x()), sy = float(context.scale_y());
    if (!stitch.empty()) {
        Kiln::Image positions = m_renderer.warpPositions(camera, f, box, sx, sy);
        markNoSample(positions);
        PlaneImages::toPlane(positions, kStitchMap, plane);
    }
    if (colour.empty()) return;
    const bool warp = m_knobs->cameraOutputMode(true) == KnobManager::CameraOutputMode::Warped &&
                      !m_knobs->addPoint(true) && m_renderer.grid(camera, f);
    Kiln::Image positions;
    if (warp) positions = m_renderer.warpPositions(camera, f, box, sx, sy);
    for (const auto& group : PlaneImages::groupsOfFour(colour)) {
        if (!warp && !latlongRig) {
            // Unwarped: the input's own pixels, no resampling.
            PlaneImages::toPlane(m_renderer.fetchInput(outputView, box, group), group, plane);
            continue;
        }
        const Kiln::Image input =
            m_renderer.resamplingInput(outputView, Kiln::Box{0, 0, size.width, size.height}, group);
        Kiln::Image out(Kiln::Info{box, int(group.size())}, m_renderer.device());
        if (warp)
            Kernels::resample(filter, input, positions, out, size.width, size.height, false);
        else
            Kiln::Kernels::copyImage(input, out);
        if (latlongRig) rotateByView(out);
        PlaneImages::toPlane(out, group, plane);
    }
}

// --- panorama views ----------------------------------------------------------------------

void RenderDispatcher::renderPanoramaView(ImagePlane& plane,
                                          const std::vector<int>& cameraViews,
                                          int outputView) {
    const int selected = m_knobs->outputView(true);
    const bool all = m_rig->isPanoramaView(selected);
    std::vector<int> views = cameraViews;
    if (!all) {
        if (std::find(cameraViews.begin(), cameraViews.end(), selected) == cameraViews.end()) {
            // A camera of the rig left out of this frame's panorama: its image is missing
            // (a file gone from the sequence), and the input says why.
            const int input =
                m_rig->isCameraView(selected) ? m_rig->inputIndexOfView(selected) : -1;
            if (input >= 0) {
                const Iop* in = m_node->validateInput(input);
                throw MessageException(
                    "The output view '" + Views::name(selected) + "' has no image at frame " +
                    std::to_string(frame()) +
                    (in && !in->errorMessage().empty() ? ": " + in->errorMessage() : "."));
            }
            throw MessageException("The output view '" + Views::name(selected) +
                                   "' is neither a panorama view nor a camera view of the rig.");
        }
        views = {selected};
    }
    const bool linked = all && m_rig->isPanoramaView(outputView) &&
                        m_knobs->outputMode(true) == KnobManager::CameraOutputMode::Warped;
    if ((plane.channels() & Mask_RGBA).empty()) return;
    const Kiln::Image pano = panorama(views, linked, plane.channels());
    viewProjection(pano, plane);
}

uint64_t RenderDispatcher::panoramaHash(const std::vector<int>& cameraViews, bool linked) const {
    Hash h;
    const OutputContext& context = m_node->outputContext();
    h.append(frame());
    h.append(linked);
    for (int v : cameraViews) h.append(v);
    for (const auto& k : m_node->node()->knobs())
        if (!k->flag(Knob::NO_RERENDER) && !ViewNavigationKnobs::isViewKnob(k->name()))
            k->append(h, &context);
    for (int k = 0; k < m_node->inputs(); ++k) {
        Op* in = m_node->input(k);
        if (!in) continue;
        std::lock_guard<std::recursive_mutex> lock(in->node()->evaluationMutex());
        const OutputContext saved = in->outputContext();
        in->setOutputContext(m_node->inputContext(k));
        h.append(in->hash());
        in->setOutputContext(saved);
    }
    if (const GridMapKnob* grids = m_knobs->gridMap()) grids->hashAll(h);
    m_knobs->blending().appendHash(h);
    m_rig->appendHash(h);
    h.append(m_node->uiContext().view());  // which mode knob applies (warpsInPanorama)
    return h.value();
}

Kiln::Image RenderDispatcher::panorama(const std::vector<int>& cameraViews,
                                       bool linked,
                                       const ChannelSet& channels) {
    const uint64_t hash = panoramaHash(cameraViews, linked);
    if (std::optional<Kiln::Image> cached = m_cache.find(channels, hash)) {
        if (cached->device() == m_renderer.device()) return *cached;
        return cached->distributeTo(m_renderer.device());
    }

    const IP::Size size = panoramaSize();
    const BlendingKnobs& blending = m_knobs->blending();
    // One stitcher and one projected image per camera, kept between builds: a stream of
    // frames reuses their memory instead of faulting in a few hundred MiB of fresh pages.
    // The panorama the stitcher returns is a fresh image every build, so the cache may keep it.
    IS::Stitcher& stitcher = m_stitcher;
    const Kiln::Box box{0, 0, size.width, size.height};
    stitcher.setOutputBox(box);
    stitcher.setVectorDetail(m_knobs->vectorDetail(true));
    stitcher.setBlendType(IS::BlendType(int(blending.blendType())));
    stitcher.setSmallestLevelSize(
        BlendingKnobs::smallestLevelSize(size.width, size.height, blending.suppression()));
    stitcher.setExpand(blending.expand());
    stitcher.setExposureCompensation(blending.exposureCompensation());

    std::vector<int> cameras;
    std::size_t positionBytes = 0;  // of the cameras' position images so far
    for (int view : cameraViews) {
        const int camera = m_rig->cameraIndexOfView(view);
        if (camera < 0 || camera >= m_rig->numberOfCameras()) continue;
        if (!m_rig->rig().getCamera(camera).getEnabled()) continue;
        // Each camera is projected where it can show (a fifth of the panorama for a 120-degree
        // lens) into an image over what the stitcher reads around that; it is transparent
        // beyond. A camera across the longitude seam takes whole rows of the stitcher, but is
        // projected over its two parts alone, and one over a pole over whole rows only near it.
        Kiln::Image* rgba = nullptr;
        try {
            std::vector<Kiln::Box> bands;
            // The position images of every camera stay cached for the next frame.
            positionBytes += CommonPanoramaRenderer::gridPositionBytes(size);
            IP::PositionImageCache::instance()->reserve(positionBytes);
            const Kiln::Box seen = m_renderer.panoramaBox(camera, size, &bands);
            positionBytes += CommonPanoramaRenderer::positionBytes(bands);
            IP::PositionImageCache::instance()->reserve(positionBytes);
            rgba = &keptImage(
                m_cameraImages[camera], stitcher.cameraBox(seen), 4, m_renderer.device());
            m_renderer.cameraImage(*rgba, camera, view, frame(), size, bands);
        } catch (const MessageException& e) {
            // The camera is left out; the others still make a panorama.
            m_node->progressMessage(std::string("Warning: ") + e.what());
            continue;
        }
        stitcher.setCameraImage(camera, *rgba);
        stitcher.setCameraAxis(camera, m_renderer.cameraAxis(camera));
        cameras.push_back(camera);
    }
    // Cameras this build left out give their images back.
    for (auto it = m_cameraImages.begin(); it != m_cameraImages.end();) {
        if (std::find(cameras.begin(), cameras.end(), it->first) != cameras.end()) {
            ++it;
            continue;
        }
        stitcher.setCameraImage(it->first, Kiln::Image());
        it = m_cameraImages.erase(it);
    }
    if (cameras.empty()) throw MessageException("No camera of the rig could be rendered.");
    stitcher.setLinks(linked ? overlappingPairs(cameras) : std::vector<std::pair<int, int>>{});
    stitcher.setCameraList(cameras);
    stitcher.build();
    m_cache.store(channels, hash, stitcher.panorama());
    return stitcher.panorama();
}

const std::vector<std::pair<int, int>>& RenderDispatcher::overlappingPairs(
    const std::vector<int>& cameras) {
    // A rig that records no links is linked where its cameras overlap, as matching links it;
    // that takes a few milliseconds, so the pairs are kept while the rig and cameras stay.
    Hash h;
    m_rig->appendHash(h);
    for (int c : cameras) h.append(c);
    if (m_pairsHash != h.value()) {
        m_pairs = m_rig->rig().overlappingPairs(
            cameras, Korvane::Research::SphericalTransform::kDefaultConvergenceDepth);
        m_pairsHash = h.value();
    }
    return m_pairs;
}

void RenderDispatcher::rotateByView(Kiln::Image& image) {
    const PX::Image::Quaternion q = m_knobs->viewNavigation().viewRotation();
    if (q.w == 1.0 && q.x == 0.0 && q.y == 0.0 && q.z == 0.0) return;
    Kiln::Image source(image.info(), m_renderer.device());
    source.copyFrom(image);
    IP::QuaternionRotate(Kernels::Filter(m_knobs->resampleType(true)))
        .run(image, source, IP::inverse(toKernel(q)));
}

void RenderDispatcher::viewProjection(const Kiln::Image& panorama, ImagePlane& plane) {
    const ViewNavigationKnobs& navigation = m_knobs->viewNavigation();
    const IP::Size size = panoramaSize();
    const Kiln::Box frameBox{0, 0, size.width, size.height};
    const auto filter = Kernels::Filter(m_knobs->resampleType(true));
    // The kernels draw nothing with a filter they do not know: the plane stays clear.
    if (int(filter) < int(Kernels::Filter::Bilinear) || int(filter) > int(Kernels::Filter::Nearest))
        return;
    const PX::Image::Quaternion view = navigation.viewRotation();
    // Into the plane itself where it can hold the view, else into an image held between calls:
    // either way a turn of the view on a cached panorama allocates nothing.
    Kiln::Image out = planeAsImage(plane, frameBox, m_renderer.device());
    const bool direct = !out.empty();
    if (!direct) {
        out = keptImage(m_viewImage, frameBox, 4, m_renderer.device());
    }
    if (navigation.projection() == ViewNavigationKnobs::Projection::Spherical) {
        IP::QuaternionRotate(filter).run(out, panorama, IP::inverse(toKernel(view)));
    } else {
        // A virtual camera at the rig centre whose camera-to-rig rotation is the inverse view
        // rotation (its optical axis shows what the centre of the spherical view shows),
        // square pixels, centred. Straight from the panorama, the positions made strip by
        // strip as the view is written: a full position image (16 MiB written and read back
        // at every turn) cost about as much as the resampling.
        const double focalPixels = navigation.zoomedFocalLength() *
                                   m_node->outputContext().scale_x() * size.width /
                                   navigation.sensorWidth();
        const Kernels::IdealLens lens{
            navigation.projection() == ViewNavigationKnobs::Projection::Fisheye
                ? Kernels::IdealLens::Type::Fisheye
                : Kernels::IdealLens::Type::Rectilinear,
            float(focalPixels),
            0.5f * float(size.width),
            0.5f * float(size.height),
            1.0f};
        Kernels::lookThrough(panorama, out, IP::inverse(toKernel(view)), lens, filter);
    }
    if (!direct) PlaneImages::toPlane(out, kRGBA, plane);
}

}  // namespace Research
}  // namespace Korvane
