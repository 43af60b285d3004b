// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <vector>

#include "external/ComputeFramework.h"
#include "external/RigLibrary.h"
#include "px/image/Channel.h"
#include "render/projection/ProjectionRecords.h"

namespace PX {
namespace Image {
class ImagePlane;
class Iop;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

class KnobManager;
class RigContext;

/// The per-camera work of the renderers, shared by every kind of renderer: fetching a camera's
/// input into a framework image, and the positions and pixels of a camera projected into the
/// equirectangular panorama. A concrete renderer supplies the rig and the records that
/// describe each camera to the projection kernels, and may extend the camera image (the warp).
///
/// Frames: a camera's frame is its format, [0, W] x [0, H] in its own pixels (its crop window
/// of the input where it has one, else the input from the origin); the
/// panorama's frame is the output format. Images live on the device given to setDevices(),
/// whose context the caller has bound to the thread. Calls come from one render at a time.
class CommonPanoramaRenderer {
public:
    explicit CommonPanoramaRenderer(PX::Image::Iop* node) : m_node(node) {}
    virtual ~CommonPanoramaRenderer();
    void attach(KnobManager* knobs, RigContext* rig) {
        m_knobs = knobs;
        m_rig = rig;
    }
    void setDevices(ComputeContext device, ComputeContext cpu) {
        m_device = std::move(device);
        m_cpu = std::move(cpu);
    }
    Kiln::Compute::DevicePtr device() const;

    /// The node's input of camera view `view`, channels `channels` (1 to 4, in that order) over
    /// `box`, on the render device. `box` is in the camera's own pixels: a camera with a crop
    /// window gets that window of its input, moved to the origin. Throws MessageException
    /// "Input <n> missing <channels>" when the input lacks some of them, one naming the camera
    /// when its crop window reaches past the input's format, and one naming the input when it
    /// cannot be read.
    Kiln::Image fetchInput(int view,
                           const Kiln::Box& box,
                           const std::vector<PX::Image::Channel>& channels);
    /// The same; with a `lender`, where the input's plane holds exactly `channels` packed
    /// over `box` on the render device, the image lies over the plane's own pixels instead
    /// of a copy, and `lender` keeps that plane: the image is valid while `lender` holds it,
    /// and must not be written.
    Kiln::Image fetchInput(int view,
                           const Kiln::Box& box,
                           const std::vector<PX::Image::Channel>& channels,
                           PX::Image::ImagePlane* lender);
    /// fetchInput() for a caller that resamples or blends the input: a pixel holding a NaN or
    /// an infinity in any channel comes back as zero in every channel, alpha included (a hole
    /// the blend fills from the other cameras), since one such value would otherwise spread
    /// through every filter tap and pyramid level it reaches. Images without one are returned
    /// as fetched (lent where fetchInput() lends them).
    Kiln::Image resamplingInput(int view,
                                const Kiln::Box& box,
                                const std::vector<PX::Image::Channel>& channels,
                                PX::Image::ImagePlane* lender = nullptr);

    /// For every pixel of `positions` (2 float channels over part of the panorama frame
    /// `panorama`), the point of the camera's input it shows, or kNoSample. The base projects
    /// the camera as it is; a renderer that warps adds its warp.
    virtual void cameraPositions(Kiln::Image& positions,
                                 int camera,
                                 int frame,
                                 const Kiln::ImageProjection::Size& panorama);
    /// Camera `camera` (its host view `view`) projected into the panorama as premultiplied RGBA
    /// over `rgba`'s box (any part of the panorama): the input resampled through
    /// cameraPositions() with the `resampleType` filter within the boxes `seen`
    /// (panoramaBox()'s bands: boxes of the panorama that may pass its right edge and wrap
    /// around there); zero beyond them and where the camera sees nothing.
    void cameraImage(Kiln::Image& rgba,
                     int camera,
                     int view,
                     int frame,
                     const Kiln::ImageProjection::Size& panorama,
                     const std::vector<Kiln::Box>& seen);

    /// A box of the panorama holding every pixel where camera `camera` can show: where its
    /// projection lands in its frame and image circle (a warp only moves positions that do,
    /// and the resampling shows nothing where a position leaves the frame). Rays through a
    /// grid of 8 x 8 panorama pixels find it; each seen ray counts for the pixels within two
    /// grid steps on the sphere of it, which near a pole spans whole rows. A camera across
    /// the longitude seam gets a box that passes the panorama's right edge (its columns wrap
    /// around); one no ray sees, the whole panorama. With `bands`, also the same by bands of
    /// a thirty-second of the panorama's rows (neighbours joined where that wastes little),
    /// from the first row on, each over its own columns: a camera over a pole spans whole
    /// rows near it, far fewer elsewhere.
    Kiln::Box panoramaBox(int camera,
                          const Kiln::ImageProjection::Size& panorama,
                          std::vector<Kiln::Box>* bands = nullptr);
    /// Bytes of the position images that the position image cache keeps for one camera: of
    /// the grid panoramaBox() looks through, and (at most) of cameraImage()'s with the boxes
    /// `seen` (their parts, each with a pixel around it).
    static std::size_t gridPositionBytes(const Kiln::ImageProjection::Size& panorama);
    static std::size_t positionBytes(const std::vector<Kiln::Box>& seen);
    /// The parts of `box` within the boxes `seen` (as cameraImage() takes them, in a panorama
    /// `width` pixels wide), band by band and left to right: two where a band wraps around
    /// and `box` spans the seam.
    static std::vector<Kiln::Box> seenParts(const std::vector<Kiln::Box>& seen,
                                            const Kiln::Box& box,
                                            int width);

    /// The rig, and for one camera its camera-model, lens and parallax records.
    virtual const CameraRigDefinition& rig() const = 0;
    virtual Kiln::ImageProjection::CameraRecord cameraRecord(int camera) const = 0;
    virtual Kiln::ImageProjection::LensRecord lensRecord(int camera) const = 0;
    virtual Kiln::ImageProjection::ParallaxRecord parallaxRecord(int camera) const = 0;

    /// The records of `camera` with the panorama (latlong) as the other side.
    Kiln::ImageProjection::ProjectionRecords panoramaRecords(int camera) const;
    /// The camera's input frame size.
    Kiln::ImageProjection::Size cameraSize(int camera) const;
    /// The camera's optical axis in the panorama's frame (unit length); zero for a camera that
    /// is itself a panorama, which has none.
    std::array<float, 3> cameraAxis(int camera) const;
    /// The optical axis of a camera described by `record` (as cameraAxis).
    static std::array<float, 3> opticalAxis(const Kiln::ImageProjection::CameraRecord& record);

protected:
    PX::Image::Iop* m_node;
    KnobManager* m_knobs = nullptr;
    RigContext* m_rig = nullptr;
    ComputeContext m_device;
    ComputeContext m_cpu;

private:
    /// Memory for cameraImage's positions, kept between cameras and calls: the most any camera
    /// took so far.
    Kiln::Image m_positions;
};

}  // namespace Research
}  // namespace Korvane
