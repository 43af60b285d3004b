// SPDX-License-Identifier: Apache-2.0
#include "render/CommonPanoramaRenderer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/Exception.h"
#include "kiln/WorkerPool.h"
#include "plugin/KnobManager.h"
#include "plugin/RigContext.h"
#include "px/image/ImagePlane.h"
#include "px/image/Iop.h"
#include "render/KeptImage.h"
#include "render/PlaneImages.h"
#include "render/StitchAnalysis.h"
#include "render/kernels/PositionImage.h"
#include "render/kernels/ProjectionKernel.h"
#include "render/kernels/RenderKernels.h"
#include "render/projection/VectorProjectTo.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;
using Korvane::Base::MessageException;
namespace IP = Kiln::ImageProjection;

namespace {

// The plane's pixels over `box` as a framework image. A packed plane holding exactly
// `channels`, in that order, over all of `box` is copied a row at a time into an image that
// is not cleared first, or, with `share`, lent as it is: the image lies over the plane's own
// pixels (every camera of every panorama comes through here, and the resampling only reads
// its input). Anything else goes channel by channel through PlaneImages.
Kiln::Image packedCopy(const ImagePlane& plane,
                       const std::vector<Channel>& channels,
                       const Kiln::Box& box,
                       const Kiln::Compute::DevicePtr& device,
                       bool share) {
    const int n = int(channels.size());
    bool rows = plane.packed() && plane.nComps() == n && plane.readable() &&
                box.intersect(PlaneImages::toKiln(plane.bounds())) == box;
    for (int i = 0; rows && i < n; ++i) rows = plane.chanNo(channels[size_t(i)]) == i;
    if (!rows) return PlaneImages::fromPlane(plane, channels, box, device);
    const PX::Image::Box& b = plane.bounds();
    const float* first =
        plane.readable() + (box.y0 - b.y()) * plane.rowStride() + (box.x0 - b.x()) * n;
    if (share) {
        Kiln::Image lent(Kiln::Tile{Kiln::Info{box, n},
                                    const_cast<float*>(first),
                                    plane.rowStride() * std::ptrdiff_t(sizeof(float))});
        if (lent.device() == device) return lent;
    }
    Kiln::Image image(Kiln::Info{box, n}, device);
    for (int y = box.y0; y < box.y1; ++y)
        std::memcpy(image.row(y),
                    first + (y - box.y0) * plane.rowStride(),
                    sizeof(float) * size_t(n) * size_t(box.width()));
    return image;
}

// Whether a row of floats holds a NaN or an infinity (all exponent bits set). Written as one
// reduction over the bits so that it vectorises: the cameras are scanned at every render.
bool rowHasNonFinite(const float* row, std::size_t n) {
    unsigned bad = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, row + i, sizeof bits);
        bad |= unsigned((bits & 0x7f800000u) == 0x7f800000u);
    }
    return bad != 0;
}

// Whether `image` holds a non-finite value anywhere; bands of rows scanned on the worker pool.
bool hasNonFinite(const Kiln::Image& image) {
    const Kiln::Box& b = image.box();
    const std::size_t n = std::size_t(b.width()) * std::size_t(image.channels());
    constexpr int kRows = 64;
    const int bands = (b.height() + kRows - 1) / kRows;
    std::atomic<bool> found{false};
    Kiln::WorkerPool::ParallelFor(std::size_t(bands), [&](std::size_t band) {
        const int y0 = b.y0 + int(band) * kRows, y1 = std::min(b.y1, y0 + kRows);
        for (int y = y0; y < y1 && !found.load(std::memory_order_relaxed); ++y)
            if (rowHasNonFinite(reinterpret_cast<const float*>(image.row(y)), n)) found = true;
    });
    return found;
}

// A copy of `image` whose pixels holding a non-finite value are zero in every channel.
Kiln::Image withoutNonFinite(const Kiln::Image& image) {
    Kiln::Image clean(image.info(), image.device());
    const Kiln::Box& b = image.box();
    const int c = image.channels();
    for (int y = b.y0; y < b.y1; ++y) {
        const float* in = reinterpret_cast<const float*>(image.row(y));
        float* out = reinterpret_cast<float*>(clean.row(y));
        for (int x = 0; x < b.width(); ++x, in += c, out += c) {
            const bool finite = !rowHasNonFinite(in, std::size_t(c));
            for (int i = 0; i < c; ++i) out[i] = finite ? in[i] : 0.0f;
        }
    }
    return clean;
}

}  // namespace

CommonPanoramaRenderer::~CommonPanoramaRenderer() = default;

Kiln::Compute::DevicePtr CommonPanoramaRenderer::device() const {
    return m_device ? m_device->device() : Kiln::Compute::DevicePtr();
}

Kiln::Image CommonPanoramaRenderer::fetchInput(int view,
                                               const Kiln::Box& box,
                                               const std::vector<Channel>& channels) {
    return fetchInput(view, box, channels, nullptr);
}

Kiln::Image CommonPanoramaRenderer::fetchInput(int view,
                                               const Kiln::Box& box,
                                               const std::vector<Channel>& channels,
                                               ImagePlane* lender) {
    const int input = m_rig->inputIndexOfView(view);
    Iop* in = input >= 0 ? m_node->validateInput(input) : nullptr;
    if (!in) throw MessageException("Input " + std::to_string(input) + " missing");
    ChannelSet wanted;
    for (Channel c : channels) wanted += c;
    const ChannelSet missing = wanted - in->info().channels();
    if (!missing.empty())
        throw MessageException("Input " + std::to_string(input) + " missing " + missing.text());
    // A camera with a crop window is its window of the input: `box` is in the camera's own
    // pixels, the input is read that far over and up, and the pixels come back at `box`.
    const int camera = m_rig->cameraIndexOfView(view);
    Eigen::Vector2i offset = Eigen::Vector2i::Zero();
    if (camera >= 0 && camera < rig().getNumberCameras() &&
        rig().getCamera(camera).hasCropWindow()) {
        const CameraDefinition& c = rig().getCamera(camera);
        offset = c.getCropWindowOffset();
        const Format& file = in->info().format();
        if (offset.x() + c.getFormatWidth() > file.width() ||
            offset.y() + c.getFormatHeight() > file.height())
            throw MessageException(
                "Camera " + std::to_string(camera + 1) + " (" + c.getOutputView() +
                "): its crop window (" + std::to_string(c.getFormatWidth()) + " x " +
                std::to_string(c.getFormatHeight()) + " from " + std::to_string(offset.x()) + ", " +
                std::to_string(offset.y()) + ") reaches past the " + std::to_string(file.width()) +
                " x " + std::to_string(file.height()) + " image of input " + std::to_string(input));
    }
    const Kiln::Box inputBox{
        box.x0 + offset.x(), box.y0 + offset.y(), box.x1 + offset.x(), box.y1 + offset.y()};
    const Box hostBox(inputBox.x0, inputBox.y0, inputBox.x1, inputBox.y1);
    ImagePlane plane = m_node->fetchInput(input, hostBox, wanted);
    if (!plane.hasBuffer())
        throw MessageException("Input " + std::to_string(input) +
                               " could not be read: " + in->errorMessage());
    const Kiln::Image image = packedCopy(plane, channels, inputBox, device(), lender != nullptr);
    if (lender) *lender = plane;
    return offset.isZero() ? image : image.translate(-offset.x(), -offset.y());
}

Kiln::Image CommonPanoramaRenderer::resamplingInput(int view,
                                                    const Kiln::Box& box,
                                                    const std::vector<Channel>& channels,
                                                    ImagePlane* lender) {
    Kiln::Image image = fetchInput(view, box, channels, lender);
    return hasNonFinite(image) ? withoutNonFinite(image) : image;
}

IP::Size CommonPanoramaRenderer::cameraSize(int camera) const {
    const CameraDefinition& c = rig().getCamera(camera);
    return {c.getFormatWidth(), c.getFormatHeight()};
}

IP::ProjectionRecords CommonPanoramaRenderer::panoramaRecords(int camera) const {
    IP::ProjectionRecords records;
    records.camera = cameraRecord(camera);
    records.lens = lensRecord(camera);
    records.parallax = parallaxRecord(camera);
    records.otherType = int(ProjectionTypeEnum::Latlong);
    return records;
}

std::array<float, 3> CommonPanoramaRenderer::cameraAxis(int camera) const {
    return opticalAxis(cameraRecord(camera));
}

std::array<float, 3> CommonPanoramaRenderer::opticalAxis(const IP::CameraRecord& record) {
    if (record.projection == int(ProjectionTypeEnum::Latlong)) return {0, 0, 0};
    // The camera looks along +z of its own frame; the rotation takes that into the rig's.
    const auto r =
        Kernels::detail::eulerZxy(record.rotation[0], record.rotation[1], record.rotation[2]);
    return {float(r.m[2]), float(r.m[5]), float(r.m[8])};
}

void CommonPanoramaRenderer::cameraPositions(Kiln::Image& positions,
                                             int camera,
                                             int,
                                             const IP::Size& panorama) {
    IP::VectorProjectTo project(static_cast<int>(ProjectionTypeEnum::Latlong));
    project.records() = panoramaRecords(camera);
    project.setSourceSize(cameraSize(camera));
    if (!project.run(positions, panorama))
        throw MessageException("Camera " + std::to_string(camera + 1) +
                               " has no image size to project from.");
}

namespace {

/// The grid of rays panoramaBox() looks through: one per 8 x 8 panorama pixels.
IP::Size footprintGrid(const IP::Size& panorama) {
    constexpr int kStep = 8;
    return {std::max(4, (panorama.width + kStep - 1) / kStep),
            std::max(2, (panorama.height + kStep - 1) / kStep)};
}

}  // namespace

Kiln::Box CommonPanoramaRenderer::panoramaBox(int camera,
                                              const IP::Size& panorama,
                                              std::vector<Kiln::Box>* bands) {
    constexpr int kReach = 2;  // grid steps on the sphere that a seen ray counts for
    constexpr int kBands = 32;
    constexpr double kPi = 3.14159265358979323846;
    const Kiln::Box whole{0, 0, panorama.width, panorama.height};
    const IP::Size grid = footprintGrid(panorama);
    const int gw = grid.width, gh = grid.height;
    // The camera's own projection (no warp), one ray through the centre of each cell.
    Kiln::Image rays(Kiln::Info{Kiln::Box{0, 0, gw, gh}, 2}, device());
    CommonPanoramaRenderer::cameraPositions(rays, camera, 0, {gw, gh});
    const Kiln::ImageStitcher::HostImage seen = Kiln::ImageStitcher::download(rays);
    // Cells within kReach steps of a seen ray: kReach rows up and down, and along a row the
    // columns that the same angle spans at the latitude nearest the pole within reach, around
    // the circle (within reach of a pole, all of them).
    const double step = kPi / gh;  // a row's latitude span; a column spans 2 pi / gw
    std::vector<char> marks(std::size_t(gw) * std::size_t(gh), 0);
    for (int y = 0; y < gh; ++y) {
        const double polar = std::abs((y + 0.5) * step - kPi / 2) + kReach * step;
        const int reach = polar >= kPi / 2
                              ? gw
                              : int(std::ceil(kReach * step / std::cos(polar) / (2 * kPi / gw)));
        for (int x = 0; x < gw; ++x) {
            if (!Kernels::isSample(seen.at(x, y, 0))) continue;
            int end = x + 1;  // the run of seen cells from x
            while (end < gw && Kernels::isSample(seen.at(end, y, 0))) ++end;
            const bool round = end - x + 2 * reach >= gw;
            for (int r = std::max(0, y - kReach); r < std::min(gh, y + kReach + 1); ++r)
                for (int i = round ? 0 : x - reach; i < (round ? gw : end + reach); ++i)
                    marks[std::size_t(r) * gw + std::size_t((i % gw + gw) % gw)] = 1;
            x = end;
        }
    }
    // Bands of rows, each over its own columns; the box over all of them. Cells become pixels
    // at the edges the cells start at, so that bands do not overlap (a cell is at most 8
    // pixels, and every marked edge lies kReach cells beyond what the camera sees).
    auto rowOf = [&](int r) { return int(std::floor(double(r) * panorama.height / gh)); };
    auto columnOf = [&](int c) { return int(std::floor(double(c) * panorama.width / gw)); };
    auto boxOf = [&](const std::vector<char>& columns, int r0, int r1) {
        const auto [first, length] = Kiln::ImageStitcher::circularRun(columns);
        return length == gw
                   ? Kiln::Box{0, rowOf(r0), panorama.width, rowOf(r1)}
                   : Kiln::Box{columnOf(first), rowOf(r0), columnOf(first + length), rowOf(r1)};
    };
    const int bandRows = std::max(1, gh / kBands);
    std::vector<char> all(std::size_t(gw), 0);
    int y0 = gh, y1 = 0;
    if (bands) bands->clear();
    for (int b = 0; b < gh; b += bandRows) {
        std::vector<char> columns(std::size_t(gw), 0);
        int r0 = gh, r1 = 0;
        for (int r = b; r < std::min(gh, b + bandRows); ++r)
            for (int x = 0; x < gw; ++x)
                if (marks[std::size_t(r) * gw + std::size_t(x)]) {
                    columns[std::size_t(x)] = all[std::size_t(x)] = 1;
                    r0 = std::min(r0, r), r1 = std::max(r1, r + 1);
                }
        if (r1 <= r0) continue;
        y0 = std::min(y0, r0), y1 = std::max(y1, r1);
        if (!bands) continue;
        // A band joins the one before it where their box together wastes little: every part
        // is a launch of its own.
        const Kiln::Box band = boxOf(columns, r0, r1);
        if (!bands->empty()) {
            Kiln::Box& last = bands->back();
            Kiln::Box joined{
                std::min(last.x0, band.x0), last.y0, std::max(last.x1, band.x1), band.y1};
            if (joined.width() >= panorama.width) joined.x0 = 0, joined.x1 = panorama.width;
            const double area =
                double(last.width()) * last.height() + double(band.width()) * band.height();
            if (last.y1 == band.y0 && double(joined.width()) * joined.height() <= 1.25 * area) {
                last = joined;
                continue;
            }
        }
        bands->push_back(band);
    }
    if (y1 <= y0) {
        if (bands) *bands = {whole};
        return whole;
    }
    return boxOf(all, y0, y1);
}

std::size_t CommonPanoramaRenderer::gridPositionBytes(const IP::Size& panorama) {
    const IP::Size grid = footprintGrid(panorama);
    return std::size_t(grid.width) * std::size_t(grid.height) * 2 * sizeof(float);
}

std::size_t CommonPanoramaRenderer::positionBytes(const std::vector<Kiln::Box>& seen) {
    std::size_t bytes = 0;
    // A band across the seam is two parts, each a pixel wider all round.
    for (const Kiln::Box& band : seen)
        bytes += std::size_t(band.width() + 4) * std::size_t(band.height() + 2) * 2 * sizeof(float);
    return bytes;
}

std::vector<Kiln::Box> CommonPanoramaRenderer::seenParts(const std::vector<Kiln::Box>& seen,
                                                         const Kiln::Box& box,
                                                         int width) {
    std::vector<Kiln::Box> parts;
    for (const Kiln::Box& band : seen)
        for (const int turn : {-width, 0, width}) {
            const Kiln::Box b =
                Kiln::Box{band.x0 + turn, band.y0, band.x1 + turn, band.y1}.intersect(box);
            if (!b.empty()) parts.push_back(b);
        }
    return parts;
}

namespace {

// `image`'s pixels over `box` (inside its box) as an image of their own, or the empty image
// where its memory cannot be lent so.
Kiln::Image part(const Kiln::Image& image, const Kiln::Box& box) {
    const std::ptrdiff_t pixel = std::ptrdiff_t(image.channels() * sizeof(float));
    Kiln::Image view(Kiln::Tile{Kiln::Info{box, image.channels()},
                                image.row(box.y0) + (box.x0 - image.box().x0) * pixel,
                                image.rowBytes()});
    return view.device() == image.device() ? view : Kiln::Image();
}

}  // namespace

void CommonPanoramaRenderer::cameraImage(Kiln::Image& rgba,
                                         int camera,
                                         int view,
                                         int frame,
                                         const IP::Size& panorama,
                                         const std::vector<Kiln::Box>& seen) {
    const IP::Size size = cameraSize(camera);
    // The input is read where the host's plane holds it (the plane lent for the call).
    ImagePlane lender;
    const Kiln::Image input = resamplingInput(view,
                                              Kiln::Box{0, 0, size.width, size.height},
                                              {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha},
                                              &lender);
    // The parts of the image within `seen` (by bands of rows, two across the seam) are
    // projected; the rest is cleared. Where the image's memory cannot be lent as parts, all of
    // it is projected.
    const Kiln::Box& box = rgba.box();
    std::vector<Kiln::Box> parts = seenParts(seen, box, panorama.width);
    std::vector<Kiln::Image> images;
    for (const Kiln::Box& b : parts) images.push_back(part(rgba, b));
    if (std::any_of(images.begin(), images.end(), [](const Kiln::Image& i) { return i.empty(); }))
        parts = {box}, images = {rgba};
    else {
        const std::size_t pixel = 4 * sizeof(float);
        for (int y = box.y0; y < box.y1; ++y) {
            int x = box.x0;  // a band's parts are left to right
            for (const Kiln::Box& b : parts)
                if (y >= b.y0 && y < b.y1) {
                    if (b.x0 > x)
                        std::memset(rgba.row(y) + (x - box.x0) * pixel, 0, (b.x0 - x) * pixel);
                    x = std::max(x, b.x1);
                }
            std::memset(rgba.row(y) + (x - box.x0) * pixel, 0, (box.x1 - x) * pixel);
        }
    }
    const Kiln::Box whole{0, 0, panorama.width, panorama.height};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        // The positions reach a pixel past the part, so that the resampling's footprints see
        // the neighbours they would in a whole image. They lie in one block of memory, kept
        // between calls for the largest part.
        const Kiln::Box b =
            Kiln::Box{parts[i].x0 - 1, parts[i].y0 - 1, parts[i].x1 + 1, parts[i].y1 + 1}.intersect(
                whole);
        const std::size_t floats = 2 * std::size_t(b.width()) * std::size_t(b.height());
        if (m_positions.empty() || m_positions.device() != device() ||
            std::size_t(m_positions.box().width()) * 2 < floats)
            m_positions =
                Kiln::Image(Kiln::Info{Kiln::Box{0, 0, int((floats + 1) / 2), 1}, 2}, device());
        Kiln::Image positions(
            Kiln::Tile{Kiln::Info{b, 2}, m_positions.origin(), std::ptrdiff_t(b.width()) * 2 * 4});
        if (positions.device() != device()) positions = Kiln::Image(Kiln::Info{b, 2}, device());
        cameraPositions(positions, camera, frame, panorama);
        Kernels::resample(Kernels::Filter(m_knobs->resampleType(true)),
                          input,
                          positions,
                          images[i],
                          size.width,
                          size.height,
                          false);
    }
}

}  // namespace Research
}  // namespace Korvane
