// SPDX-License-Identifier: Apache-2.0
#include "render/Stitcher.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "external/VisionLibrary.h"
#include "render/StitcherKernels.h"

namespace Kiln {
namespace ImageStitcher {
namespace {

using Korvane::SLIB::ImagePyramids::GaussianImagePyramidFactory;
using Korvane::SLIB::ImagePyramids::ImagePyramid;

// Alpha below which a camera does not count as seeing a pixel.
constexpr float kSeenThreshold = 1e-3f;
// Feather weight (analysis pixels) of a pixel a camera sees but that lies on its boundary:
// small but not zero, so every seen pixel keeps a weight.
constexpr float kFeatherFloor = 0.05f;
// Weight sums below this are treated as no weight.
constexpr float kWeightThreshold = 1e-6f;
// The analysis images are an eighth of the panorama on each side: feather distances and gains
// need no finer detail, and the analysis is a few milliseconds per camera.
constexpr int kAnalysisFactor = 8;
// How far beyond a level's box the pyramid's reduce reads its finer level, and beyond a pixel
// the align kernel's Cubic taps read the camera.
constexpr int kReduceReach = 4;
constexpr int kAlignReach = 3;

std::string cameraName(int index) {
    return "camera " + std::to_string(index + 1) + " (cam" + std::to_string(index + 1) + ")";
}

Image allocate(const Box& box, int channels, const Compute::DevicePtr& device, bool clear) {
    Info info;
    info.box = box;
    info.channels = channels;
    info.type = Pixel::ComponentType::Float;
    return Image(info, device, {}, clear ? Image::kClearOnAllocate : 0u);
}

Box grown(const Box& b, int dx, int dy) { return {b.x0 - dx, b.y0 - dy, b.x1 + dx, b.y1 + dy}; }

// Boxes across the longitude seam. A camera seen at both sides of the panorama has a footprint
// (and an aligned image) over one box that passes the panorama's right edge, as the renderer's
// boxes of what a camera can show do: columns from the right edge on are the panorama's first
// columns again, and the box spans no more than the width, so it costs the columns the camera
// sees rather than whole rows. An image over such a box keeps those columns in one run of
// memory, so the align kernel's taps read across the seam as inside any image. A kernel that
// also indexes images of the whole panorama (labels, sums, the panorama) takes it in parts, each
// over panorama columns: the part past the edge is the same memory moved back by the width.

// Whether `b` passes the panorama's right edge.
bool wraps(const Box& b, const Box& panorama) { return b.x1 > panorama.x1; }

// `b` cut at the right edge, each part in panorama columns.
std::vector<Box> parts(const Box& b, const Box& panorama) {
    if (!wraps(b, panorama)) return {b};
    return {Box{b.x0, b.y0, panorama.x1, b.y1},
            Box{panorama.x0, b.y0, b.x1 - panorama.width(), b.y1}};
}

// Whole rows where `b` wraps, else `b`: the box of a stage that takes no wrapping box.
Box spanned(const Box& b, const Box& panorama) {
    return wraps(b, panorama) ? Box{panorama.x0, b.y0, panorama.x1, b.y1} : b;
}

// `b` grown by dx and dy within the panorama's rows, in the form above: one that then passes
// the left edge wraps past the right one instead, and one as wide as the panorama takes whole
// rows.
Box grownAround(const Box& b, int dx, int dy, const Box& panorama) {
    Box g = grown(b, dx, dy);
    if (g.width() >= panorama.width()) {
        g.x0 = panorama.x0;
        g.x1 = panorama.x1;
    } else if (g.x0 < panorama.x0) {
        g = g.translated(panorama.width(), 0);
    }
    g.y0 = std::max(g.y0, panorama.y0);
    g.y1 = std::min(g.y1, panorama.y1);
    return g;
}

// `image` over panorama columns that hold `part` (a part of its box as parts() cuts it): the
// image itself, or where `part` lies past the right edge of its box, the same memory moved
// back by the width.
Image holding(const Image& image, const Box& part, const Box& panorama) {
    if (image.box().intersect(part) == part || !wraps(image.box(), panorama)) return image;
    return image.translate(-panorama.width(), 0);
}

// `image`'s pixels over `box` (panorama columns, inside `part` of its box as parts() cuts it)
// as an image over exactly that box, lent from its memory; empty where the memory cannot be
// lent so. The filters repeat a window's edge pixels where an image over more would read on.
Image window(const Image& image, const Box& part, const Box& box, const Box& panorama) {
    const Image source = holding(image, part, panorama);
    const std::ptrdiff_t pixel = std::ptrdiff_t(source.channels() * sizeof(float));
    Image view(Tile{Info{box, source.channels()},
                    source.row(box.y0) + (box.x0 - source.box().x0) * pixel,
                    source.rowBytes()});
    return view.device() == image.device() ? view : Image();
}

// The source pixels the resize kernel reads to fill `destination` (pixels of the grid whose
// rectangle is `to`) from the rectangle `from`: exactly the covered pixels where it takes
// whole-pixel box averages, else one more on every side for the bilinear taps.
Box resizeReads(const Bounds& from, const Box& destination, const Bounds& to) {
    const float sx = (from.right - from.left) / (to.right - to.left);
    const float sy = (from.top - from.bottom) / (to.top - to.bottom);
    const float left = from.left + (float(destination.x0) - to.left) * sx;
    const float right = from.left + (float(destination.x1) - to.left) * sx;
    const float bottom = from.bottom + (float(destination.y0) - to.bottom) * sy;
    const float top = from.bottom + (float(destination.y1) - to.bottom) * sy;
    auto whole = [](float v) { return std::abs(v - std::round(v)) < 1e-4f; };
    if (whole(sx) && whole(sy) && sx >= 1 && sy >= 1 && whole(from.left) && whole(from.bottom) &&
        whole(to.left) && whole(to.bottom))
        return {int(std::lround(left)),
                int(std::lround(bottom)),
                int(std::lround(right)),
                int(std::lround(top))};
    return {int(std::floor(left)) - 1,
            int(std::floor(bottom)) - 1,
            int(std::ceil(right)) + 1,
            int(std::ceil(top)) + 1};
}

// Whether a camera image over `image` answers every read over `reads` as an image over the
// whole `panorama`, transparent beyond `image`, would: the kernels wrap columns around an
// image's box and clamp (or zero) rows beyond it, which agrees where the image spans the
// panorama's width or holds the read columns, and reaches the panorama's edge wherever the
// reads pass its rows.
bool holds(const Box& image, const Box& reads, const Box& panorama) {
    const bool columns = (image.x0 == panorama.x0 && image.x1 == panorama.x1) ||
                         (reads.x0 >= image.x0 && reads.x1 <= image.x1);
    return columns && (reads.y0 >= image.y0 || image.y0 == panorama.y0) &&
           (reads.y1 <= image.y1 || image.y1 == panorama.y1);
}

// `image` itself where it holds `reads`, else a copy over the part of the panorama they need
// (whole rows where they pass the longitude seam), transparent beyond the image.
Image readable(const Image& image, const Box& reads, const Box& panorama) {
    if (holds(image.box(), reads, panorama)) return image;
    Box over = reads.intersect(panorama);
    if (reads.x0 < panorama.x0 || reads.x1 > panorama.x1) {
        over.x0 = panorama.x0;
        over.x1 = panorama.x1;
    }
    Image copy = allocate(over, 4, image.device(), true);
    copy.copyFrom(image);
    return copy;
}

GaussianImagePyramidFactory pyramidFactory(int smallestLevelSize, bool spherical) {
    GaussianImagePyramidFactory factory;
    factory.setEnabled(true);
    factory.setSmallestLevelSize(smallestLevelSize);
    factory.setSpherical(spherical);
    return factory;
}

// The box a camera's (non-spherical) Multi-Band pyramid works over: its footprint grown by
// the reach of the coarse levels' filters and aligned so that its `levels` levels fall on the
// panorama's. Empty for an empty footprint.
Box workBox(const Box& footprint, const Box& panorama, int levels) {
    if (footprint.empty()) return {};
    const int align = 1 << (levels - 1);
    const int reach = std::min(64, 4 * align);
    Box b = footprint;
    if (b.width() < panorama.width()) {
        b.x0 -= reach;
        b.x1 += reach;
    }
    b.y0 -= reach;
    b.y1 += reach;
    auto down = [&](int v, int origin) { return origin + (v - origin) / align * align; };
    auto up = [&](int v, int origin) { return origin + (v - origin + align - 1) / align * align; };
    b.x0 = down(std::max(b.x0, panorama.x0), panorama.x0);
    b.y0 = down(std::max(b.y0, panorama.y0), panorama.y0);
    b.x1 = std::min(up(b.x1, panorama.x0), panorama.x1);
    b.y1 = std::min(up(b.y1, panorama.y0), panorama.y1);
    return b;
}

}  // namespace

Box Stitcher::analysisBox() const {
    return {0,
            0,
            std::max(8, m_outputBox.width() / kAnalysisFactor),
            std::max(4, m_outputBox.height() / kAnalysisFactor)};
}

Box Stitcher::analysisCells(const Box& box) const {
    const Box grid = analysisBox();
    const long long w = m_outputBox.width(), h = m_outputBox.height();
    const long long aw = grid.width(), ah = grid.height();
    const Box cells{int((box.x0 - m_outputBox.x0) * aw / w),
                    int((box.y0 - m_outputBox.y0) * ah / h),
                    int(((box.x1 - m_outputBox.x0) * aw + w - 1) / w),
                    int(((box.y1 - m_outputBox.y0) * ah + h - 1) / h)};
    return cells.intersect(grid);
}

Box Stitcher::cameraBox(const Box& seen) const {
    const Box panorama = m_outputBox;
    Box b = seen;
    if (b.x0 < panorama.x0 || b.x1 > panorama.x1) {
        b.x0 = panorama.x0;  // around the longitude seam
        b.x1 = panorama.x1;
    }
    b = b.intersect(panorama);
    if (b.empty()) return b;
    // The footprint the build finds: the analysis pixels over what the camera sees.
    const Bounds whole = Bounds::of(panorama), grid = Bounds::of(analysisBox());
    b = resizeReads(whole, analysisCells(b), grid).intersect(panorama);
    Box reads = b;
    if (m_blendType == BlendType::MultiBand) {
        const int levels =
            int(pyramidFactory(m_smallestLevelSize, false).levelBoxes(panorama).size());
        reads = grown(workBox(b, panorama, levels), kReduceReach, kReduceReach);
    }
    if (m_stats.largestShift > 0 && m_vectorFieldBox.height() >= 2) {
        // The aligned area and the field's reach from it, as far as the last build moved (in
        // steps of 4 cells, so that the box stays put from frame to frame).
        const float shift = 4.0f * std::ceil(m_stats.largestShift / 4.0f);
        const float cellsX = float(panorama.width()) / float(m_vectorFieldBox.width());
        const float cellsY = float(panorama.height()) / float(m_vectorFieldBox.height());
        const int rx = 2 * (int(std::ceil(shift * cellsX)) + 2) + kAlignReach;
        const int ry = 2 * (int(std::ceil(shift * cellsY)) + 2) + kAlignReach;
        reads = Box{std::min(reads.x0, b.x0 - rx),
                    std::min(reads.y0, b.y0 - ry),
                    std::max(reads.x1, b.x1 + rx),
                    std::max(reads.y1, b.y1 + ry)};
    }
    // Whole analysis pixels (and their taps), so that the analysis reads the image in place.
    Box box = resizeReads(whole, analysisCells(reads.intersect(panorama)), grid);
    box.y0 = std::max(box.y0, panorama.y0);
    box.y1 = std::min(box.y1, panorama.y1);
    if (reads.x0 < panorama.x0 || reads.x1 > panorama.x1 || box.x0 < panorama.x0 ||
        box.x1 > panorama.x1) {
        box.x0 = panorama.x0;
        box.x1 = panorama.x1;
    }
    // An even origin against the panorama's, so that its pyramid pairs pixels as the
    // panorama's does.
    box.x0 -= (box.x0 - panorama.x0) & 1;
    box.y0 -= (box.y0 - panorama.y0) & 1;
    return box;
}

Box Stitcher::seenBox(const HostImage& analysis) const {
    const HostImage& a = analysis;
    int x0 = a.width, x1 = -1, y0 = a.height, y1 = -1;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (a.at(x, y, 3) > 0.0f) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
    if (x1 < 0) return Box{};
    const float ax = float(m_outputBox.width()) / float(a.width);
    const float ay = float(m_outputBox.height()) / float(a.height);
    // An analysis pixel with any alpha covers every panorama pixel the camera sees in it.
    Box b{m_outputBox.x0 + int(std::floor(x0 * ax)),
          m_outputBox.y0 + int(std::floor(y0 * ay)),
          m_outputBox.x0 + int(std::ceil((x1 + 1) * ax)),
          m_outputBox.y0 + int(std::ceil((y1 + 1) * ay))};
    b.y0 = std::max(b.y0, m_outputBox.y0);
    b.y1 = std::min(b.y1, m_outputBox.y1);
    if (x0 > 0 || x1 < a.width - 1) return b.intersect(m_outputBox);
    // Seen at both sides: the columns around the longitude seam, all but the longest run of
    // unseen ones (wrapping), or whole rows when every column is seen.
    std::vector<char> seen(std::size_t(a.width), 0);
    for (int y = y0; y <= y1; ++y)
        for (int x = 0; x < a.width; ++x) seen[std::size_t(x)] |= a.at(x, y, 3) > 0.0f;
    const auto [first, length] = circularRun(seen);
    if (length == a.width) return Box{m_outputBox.x0, b.y0, m_outputBox.x1, b.y1};
    // The run starts after the gap and wraps past the right edge.
    b.x0 = m_outputBox.x0 + int(std::floor(first * ax));
    b.x1 = m_outputBox.x0 + int(std::ceil((first + length) * ax));
    return b;
}

Image Stitcher::workImage(const Box& box,
                          int channels,
                          const Compute::DevicePtr& device,
                          bool clear) {
    for (Buffer& b : m_buffers)
        if (!b.taken && b.image.box() == box && b.image.channels() == channels &&
            b.image.device() == device) {
            b.taken = b.used = true;
            if (clear) b.image.clear();
            return b.image;
        }
    m_buffers.push_back({allocate(box, channels, device, clear), true, true});
    return m_buffers.back().image;
}

void Stitcher::releaseBuffers() {
    for (Buffer& b : m_buffers) b.taken = false;
}

void Stitcher::trimBuffers() {
    m_buffers.erase(
        std::remove_if(m_buffers.begin(), m_buffers.end(), [](const Buffer& b) { return !b.used; }),
        m_buffers.end());
    for (Buffer& b : m_buffers) b.taken = b.used = false;
}

void Stitcher::setVectorDetail(float detail) {
    m_vectorDetail = detail;
    m_vectorFieldBox = vectorFieldBoxFor(detail);
}

Box Stitcher::vectorFieldBoxFor(float detail) {
    const int h = int(std::floor(1024.0f * detail + 0.5f));
    const int w = int(std::floor(2.0f * float(h) + 0.5f));
    return {0, 0, std::max(0, w), std::max(0, h)};
}

std::array<float, 3> Stitcher::gains(int camera) const {
    for (const Camera& c : m_work)
        if (c.index == camera) return c.gain;
    return {1, 1, 1};
}

Vignetting Stitcher::vignetting(int camera) const {
    for (const Camera& c : m_work)
        if (c.index == camera) return c.vignetting;
    return {};
}

Image Stitcher::vectorField(int camera) const {
    for (const Camera& c : m_work)
        if (c.index == camera) return c.field;
    return {};
}

Image Stitcher::alignedCamera(int camera) const {
    for (const Camera& c : m_work) {
        if (c.index != camera) continue;
        const bool wrapped = wraps(c.image.box(), m_outputBox);
        if ((c.vignetting.identity() && !wrapped) || c.footprint.empty()) return c.image;
        // The blend divides each camera by its falloff as it reads it; the camera as blended
        // exists only here, over its footprint (an aligned image: over its own box, whole rows
        // where it passes the right edge).
        const Box box = spanned(c.field.empty() ? c.footprint : c.image.box(), m_outputBox);
        Image corrected = allocate(box, 4, c.image.device(), wrapped);
        for (const Box& part : parts(c.image.box(), m_outputBox))
            corrected.copyFrom(holding(c.image, part, m_outputBox));
        if (!c.vignetting.identity())
            removeVignetting(corrected, m_outputBox, c.axis, c.vignetting);
        return corrected;
    }
    return {};
}

std::array<float, 2> Stitcher::featherScale() const {
    return {float(m_analysisBox.width()) / float(m_outputBox.width()),
            float(m_analysisBox.height()) / float(m_outputBox.height())};
}

Image Stitcher::falloffImage(const Camera& c, const Box& box, const PanoramaGrid& grid) const {
    if (c.vignetting.identity()) return {};
    const AxisCosines cosines(c.axis, box, grid);
    if (!cosines.known()) return {};
    return ImageStitcher::falloffImage(
        cosines, inverseFalloffTable(c.vignetting), c.image.device());
}

void Stitcher::build() {
    if (m_outputBox.empty()) throw StitchError("Stitcher: the panorama's output box is empty");
    if (m_cameras.empty()) throw StitchError("Stitcher: no cameras to stitch");
    // Labels of an earlier build must not be drawn from this build's cameras (seamLabels()),
    // even when this build stops at a bad camera.
    m_label = {};
    m_fullLabel = {};
    // Every working image is free for this build; what it does not take goes at the end.
    releaseBuffers();
    for (Buffer& b : m_buffers) b.used = false;
    prepare();
    if (m_exposureCompensation) {
        std::vector<HostImage> analysis;
        std::vector<std::array<float, 3>> axes;
        for (const Camera& c : m_work) {
            analysis.push_back(c.analysis);
            axes.push_back(c.axis);
        }
        const auto exposure = estimateExposure(analysis, axes, m_vignettingModel);
        for (std::size_t i = 0; i < m_work.size(); ++i) {
            m_work[i].gain = exposure[i].gain;
            m_work[i].vignetting = exposure[i].vignetting;
        }
    }
    computeVectorField();
    // Multi-Band with expand needs no coverage: two-channel labels, half the traffic of the
    // passes that read them (the seam weights and the finest band of every camera, the last
    // collapse step).
    const bool coverage = m_blendType == BlendType::Alpha || !m_expand;
    m_label = workImage(m_outputBox, coverage ? 4 : 2, m_work[0].image.device(), true);
    if (m_blendType == BlendType::Alpha) {
        drawSeamLabels(m_label);
        blendAlpha(m_label);
    } else {
        blendMultiBand(m_label);  // draws the labels as it reads the cameras
    }
    trimBuffers();
}

void Stitcher::prepare() {
    m_work.clear();
    m_analysisBox = analysisBox();
    const Bounds whole = Bounds::of(m_outputBox), grid = Bounds::of(m_analysisBox);
    Compute::DevicePtr device;
    for (int index : m_cameras) {
        const auto found = m_images.find(index);
        if (found == m_images.end() || found->second.empty())
            throw StitchError("Stitcher: " + cameraName(index) + " has no projected image");
        const Image& image = found->second;
        if (image.channels() != 4 || image.type() != Pixel::ComponentType::Float)
            throw StitchError("Stitcher: " + cameraName(index) + " is not a 4-channel float image");
        const Box& b = image.box();
        if (b.empty() || b.intersect(m_outputBox) != b)
            throw StitchError(
                "Stitcher: " + cameraName(index) + " covers " + std::to_string(b.width()) + " x " +
                std::to_string(b.height()) + " pixels from (" + std::to_string(b.x0) + ", " +
                std::to_string(b.y0) + "), not inside the panorama's " +
                std::to_string(m_outputBox.width()) + " x " + std::to_string(m_outputBox.height()) +
                " from (" + std::to_string(m_outputBox.x0) + ", " + std::to_string(m_outputBox.y0) +
                ")");
        if (!device) device = image.device();
        if (image.device() != device)
            throw StitchError("Stitcher: " + cameraName(index) +
                              " lies on another device than the first camera");
        Camera c;
        c.index = index;
        c.image = image;
        // Only the analysis pixels over the image are shrunk; the others stay transparent.
        const Box cells = analysisCells(b);
        Image small = workImage(cells, 4, device, false);
        resizeBounds(readable(image, resizeReads(whole, cells, grid), m_outputBox),
                     whole,
                     small,
                     grid,
                     true);
        c.analysis = HostImage(m_analysisBox.width(), m_analysisBox.height(), 4, 0.0f);
        const HostImage part = download(small);
        for (int y = 0; y < part.height; ++y)
            std::copy_n(part.pixels.data() + std::size_t(y) * part.width * 4,
                        std::size_t(part.width) * 4,
                        &c.analysis.at(cells.x0, cells.y0 + y));
        releaseBuffers();
        c.feather = upload(featherDistance(c.analysis, 3, 0.5f), m_analysisBox, device);
        // A camera seen at both sides spans the image's whole rows (only they hold both).
        c.footprint = seenBox(c.analysis);
        c.footprint = wraps(c.footprint, m_outputBox) ? Box{c.footprint.x0,
                                                            std::max(c.footprint.y0, b.y0),
                                                            c.footprint.x1,
                                                            std::min(c.footprint.y1, b.y1)}
                                                      : c.footprint.intersect(b);
        if (const auto axis = m_axes.find(index); axis != m_axes.end()) c.axis = axis->second;
        m_work.push_back(std::move(c));
    }
}

void Stitcher::computeVectorField() {
    m_stats = {};
    if (m_links.empty() || m_vectorFieldBox.height() < 2 || m_work.size() < 2) return;
    const Compute::DevicePtr device = m_work[0].image.device();
    std::vector<HostImage> grid;
    std::vector<std::array<float, 3>> gains;
    const float cellsX = float(m_vectorFieldBox.width()) / float(m_outputBox.width());
    const float cellsY = float(m_vectorFieldBox.height()) / float(m_outputBox.height());
    for (const Camera& c : m_work) {
        // Only the cells over the camera's footprint (and one around it) are shrunk; the rest
        // of its grid image stays transparent. The bounds keep the whole grid's mapping.
        const Box seen = spanned(c.footprint, m_outputBox);
        Box cells{int(std::floor((seen.x0 - m_outputBox.x0) * cellsX)) - 1,
                  int(std::floor((seen.y0 - m_outputBox.y0) * cellsY)) - 1,
                  int(std::ceil((seen.x1 - m_outputBox.x0) * cellsX)) + 1,
                  int(std::ceil((seen.y1 - m_outputBox.y0) * cellsY)) + 1};
        cells = cells.intersect(m_vectorFieldBox);
        HostImage whole(m_vectorFieldBox.width(), m_vectorFieldBox.height(), 4, 0.0f);
        if (!cells.empty()) {
            Image small = allocate(cells, 4, device, false);
            const Bounds from{m_outputBox.x0 + float(cells.x0) / cellsX,
                              m_outputBox.x0 + float(cells.x1) / cellsX,
                              m_outputBox.y0 + float(cells.y0) / cellsY,
                              m_outputBox.y0 + float(cells.y1) / cellsY};
            resizeBounds(
                readable(c.image, resizeReads(from, cells, Bounds::of(cells)), m_outputBox),
                from,
                small,
                Bounds::of(cells),
                true);
            // The flow compares the cameras as they will be blended: gains (inside the field)
            // and falloff (here, per cell), so the rims' vignetting reads as no disagreement.
            removeVignetting(small, m_vectorFieldBox, c.axis, c.vignetting);
            const HostImage part = download(small);
            for (int y = 0; y < part.height; ++y)
                std::copy_n(
                    part.pixels.data() + std::size_t(y) * part.width * 4,
                    std::size_t(part.width) * 4,
                    &whole.at(cells.x0 - m_vectorFieldBox.x0, cells.y0 - m_vectorFieldBox.y0 + y));
        }
        grid.push_back(std::move(whole));
        gains.push_back(c.gain);
    }
    // Links name cameras; the field works on positions in the camera list.
    std::vector<std::pair<int, int>> pairs;
    auto position = [&](int camera) {
        for (std::size_t i = 0; i < m_work.size(); ++i)
            if (m_work[i].index == camera) return int(i);
        return -1;
    };
    for (const auto& [a, b] : m_links) {
        const int pa = position(a), pb = position(b);
        if (pa >= 0 && pb >= 0) pairs.push_back({pa, pb});
    }
    std::vector<HostImage> fields = computeVectorFields(grid, gains, pairs, &m_stats);
    // Cells to panorama pixels.
    const float sx = float(m_outputBox.width()) / float(m_vectorFieldBox.width());
    const float sy = float(m_outputBox.height()) / float(m_vectorFieldBox.height());
    for (std::size_t i = 0; i < m_work.size(); ++i) {
        HostImage& f = fields[i];
        for (std::size_t p = 0; p < f.pixels.size(); p += 2) {
            f.pixels[p] *= sx;
            f.pixels[p + 1] *= sy;
        }
        Camera& c = m_work[i];
        c.field = upload(f, m_vectorFieldBox, device);
        // The camera only shows inside its footprint, moved by at most the field's reach: the
        // aligned image covers that area alone (every pixel of it written; past the right edge
        // where it reaches across the longitude seam), and the camera is transparent beyond it.
        const int reachX = int(std::ceil(m_stats.largestShift * sx)) + 2;
        const int reachY = int(std::ceil(m_stats.largestShift * sy)) + 2;
        Box area = grownAround(c.footprint, reachX, reachY, m_outputBox);
        // From an even origin against the panorama's, as the Multi-Band pyramid pairs pixels:
        // it reduces its level 1 from this image in place.
        area.x0 -= (area.x0 - m_outputBox.x0) & 1;
        area.y0 -= (area.y0 - m_outputBox.y0) & 1;
        Image aligned = allocate(area, 4, device, false);
        const Image source =
            readable(c.image,
                     grown(spanned(area, m_outputBox), reachX + kAlignReach, reachY + kAlignReach),
                     m_outputBox);
        for (const Box& part : parts(area, m_outputBox)) {
            Image out = holding(aligned, part, m_outputBox);
            align(source, c.field, out, 1.0f / sx, 1.0f / sy, part);
        }
        c.image = aligned;
    }
}

void Stitcher::drawSeamLabels(Image& label) const {
    for (const Camera& c : m_work) seamLabel(c, label);
}

void Stitcher::seamLabel(const Camera& c, Image& label) const {
    const auto [sx, sy] = featherScale();
    for (const Box& part : parts(c.footprint, m_outputBox))
        ImageStitcher::seamLabel(holding(c.image, part, m_outputBox),
                                 c.feather,
                                 label,
                                 c.index,
                                 sx,
                                 sy,
                                 kFeatherFloor,
                                 kSeenThreshold,
                                 part);
}

const Image& Stitcher::seamLabels() const {
    if (m_label.empty() || m_label.channels() == 4) return m_label;
    if (m_fullLabel.empty()) {
        m_fullLabel = allocate(m_outputBox, 4, m_label.device(), true);
        drawSeamLabels(m_fullLabel);
    }
    return m_fullLabel;
}

void Stitcher::blendAlpha(Image& label) {
    const Compute::DevicePtr device = m_work[0].image.device();
    Image sum = workImage(m_outputBox, 4, device, true);
    const auto [sx, sy] = featherScale();
    for (const Camera& c : m_work)
        for (const Box& part : parts(c.footprint, m_outputBox)) {
            const Image image = holding(c.image, part, m_outputBox);
            const Image falloff = falloffImage(c, image.box(), PanoramaGrid::of(m_outputBox));
            accumulateAlpha(image,
                            c.feather,
                            sum,
                            c.gain,
                            sx,
                            sy,
                            kFeatherFloor,
                            kSeenThreshold,
                            part,
                            &falloff);
        }
    normalise(sum, label, sum, kWeightThreshold, false, false);
    m_panorama = allocate(m_outputBox, 4, device, false);
    // Alpha blending stays inside the cameras' alpha whatever the expand setting.
    normalise(sum, label, m_panorama, kWeightThreshold, false, true);
}

void Stitcher::blendMultiBand(Image& label) {
    const Compute::DevicePtr device = m_work[0].image.device();
    const bool spherical = m_blendType == BlendType::SphericalMultiBand;
    const GaussianImagePyramidFactory factory = pyramidFactory(m_smallestLevelSize, spherical);
    // A camera that sees around a pole is filtered as a sphere even in the planar blend (see
    // `round` below); these filters are its.
    const GaussianImagePyramidFactory sphere = pyramidFactory(m_smallestLevelSize, true);
    const std::vector<Box> levels = factory.levelBoxes(m_outputBox);
    const int count = int(levels.size());

    const float sigma = factory.gaussian();
    m_panorama = allocate(m_outputBox, 4, device, false);

    // The blended pyramid's accumulators. The finest level needs none: its weights are the
    // seam labels themselves (one camera a pixel), so each camera writes its finest band
    // straight into the panorama where it holds the label, and the collapse adds the coarser
    // levels there. A pyramid of one level blends in its only accumulator.
    ImagePyramid sums(count);
    for (int k = count > 1 ? 1 : 0; k < count; ++k) sums[k] = workImage(levels[k], 4, device, true);
    // The labels and sums stay taken for the whole blend; each camera's own images go back
    // after it, for a later camera of the same shape.
    auto releaseCamera = [this](const std::vector<bool>& before) {
        for (std::size_t i = 0; i < m_buffers.size(); ++i)
            if (i >= before.size() || !before[i]) m_buffers[i].taken = false;
    };
    auto gaussianPyramid = [&](const Image& base, const GaussianImagePyramidFactory& filters) {
        const std::vector<Box> boxes = filters.levelBoxes(base.box(), count);
        ImagePyramid pyramid{base};
        for (std::size_t k = 1; k < boxes.size(); ++k) {
            pyramid.push_back(workImage(boxes[k], base.channels(), device, false));
            filters.reduce(pyramid[k - 1], pyramid[k]);
        }
        return pyramid;
    };

    // Each camera works over its footprint only (workBox); spherical pyramids over the whole
    // panorama.
    auto footprint = [&](const Camera& c) {
        if (spherical || c.footprint.empty()) return spherical ? m_outputBox : Box{};
        return workBox(spanned(c.footprint, m_outputBox), m_outputBox, count);
    };

    // First pass over the cameras: the seam labels, and with them level 1 of each camera's
    // pyramid where it reads the camera's own image as a window over its footprint box (one
    // read of the camera for both). Every camera's level 1 is then held until its blend: a
    // quarter of its box. Spherical work boxes are the whole panorama, so there they are
    // reduced one camera at a time in the blend instead. An image aligned by the vector field
    // covers only where the camera shows, so its pyramid reduces a copy later.
    //
    // A camera whose work box goes around the whole longitude circle and reaches a pole sees
    // around that pole: the planar filters would cut the sphere at the longitude seam and along
    // the pole's row, and where the seams between cameras run into the pole (two lenses back
    // to back) its colour would differ by the direction it is approached from, a pinched star
    // in a view straight up. Such a camera works over the whole panorama with the spherical
    // filters, and the blend is then collapsed with them (the poles and the longitude seam
    // join); the other cameras keep their boxes and planar filters (their weights vanish
    // toward their boxes' edges).
    struct Work {
        Box roi;
        bool window = false;
        bool round = false;  // filtered as a sphere
        Image level1;
    };
    std::vector<Work> work;
    bool anyRound = false;
    const auto [sx, sy] = featherScale();
    for (const Camera& c : m_work) {
        Work w;
        w.roi = footprint(c);
        w.round = spherical ||
                  (!w.roi.empty() && w.roi.x0 == m_outputBox.x0 && w.roi.x1 == m_outputBox.x1 &&
                   (w.roi.y0 == m_outputBox.y0 || w.roi.y1 == m_outputBox.y1));
        if (w.round) w.roi = m_outputBox;
        anyRound = anyRound || w.round;
        const Image image = holding(c.image, w.roi, m_outputBox);
        w.window = !w.roi.empty() && w.roi.intersect(image.box()) == w.roi && count > 1 &&
                   (!w.round || image.box() == m_outputBox);
        if (w.window && !w.round) {
            w.level1 = workImage(factory.levelBoxes(w.roi, 2)[1], 4, device, false);
            const Image falloff =
                falloffImage(c, w.level1.box(), PanoramaGrid::of(m_outputBox).reduced(image.box()));
            // Over the work box the labels of the wrapped footprint's whole rows are its own:
            // the columns between its two sides hold nothing the camera sees.
            seamLabelReduce(image,
                            c.feather,
                            label,
                            w.level1,
                            c.index,
                            sx,
                            sy,
                            kFeatherFloor,
                            kSeenThreshold,
                            spanned(c.footprint, m_outputBox),
                            sigma,
                            false,
                            &falloff);
        } else {
            seamLabel(c, label);
        }
        work.push_back(std::move(w));
    }

    for (std::size_t i = 0; i < m_work.size(); ++i) {
        const Camera& c = m_work[i];
        const Box roi = work[i].roi;
        const bool round = work[i].round;
        const GaussianImagePyramidFactory& filters = round ? sphere : factory;
        if (roi.empty()) continue;  // sees nothing: contributes nothing
        std::vector<bool> before;
        for (const Buffer& b : m_buffers) before.push_back(b.taken);
        // Level 0 is the camera's own image where it holds the work box: the coarser levels
        // cover the box alone and read it as a window. A pyramid of one level fills its only
        // level in place: never the caller's image. A lens's falloff is divided out of level 1
        // (by the first pass, else right after its reduce), so the coarser levels are made
        // from the corrected camera, and out of level 0 in the finest band: no corrected copy
        // of the camera is made. The falloff barely bends over the eight pixels the reduce
        // filter reads, so this stands for reducing the camera divided by it.
        //
        // An image aligned by the vector field covers less than the work box, and is
        // transparent at its sides (the field's reach past the footprint): level 1 is reduced
        // from it in place, each part (two across the longitude seam) as a window cut to the
        // part and the work box, so the filters repeat the window's edge where the work box's
        // copy of the camera would hold the same edge (its own side, the seam) or nothing.
        // Level 1 is clear beyond what the windows reach. The finest band reads the same
        // parts. Where two windows would reach the same pixels of level 1, a copy over the
        // work box is made instead.
        const std::vector<Box> boxes = factory.levelBoxes(roi, count);
        ImagePyramid colour;
        std::vector<std::pair<Image, Box>> windows;  // over panorama columns, level-1 reach
        if (!work[i].window && !c.field.empty() && !round && count > 1)
            for (const Box& part : parts(c.image.box(), m_outputBox)) {
                const Box fine = part.intersect(roi);
                if (fine.empty()) continue;
                // Coarse pixel i reads fine pixels 2i - 3 .. 2i + 4.
                const Box reach = Box{(fine.x0 - 4) >> 1,
                                      (fine.y0 - 4) >> 1,
                                      (fine.x1 + 5) >> 1,
                                      (fine.y1 + 5) >> 1}
                                      .intersect(boxes[1]);
                Image view = window(c.image, part, fine, m_outputBox);
                for (const auto& w : windows)
                    if (!w.second.intersect(reach).empty()) view = Image();
                if (view.empty()) {
                    windows.clear();
                    break;
                }
                windows.emplace_back(view, reach);
            }
        if (work[i].window) {
            colour.push_back(holding(c.image, roi, m_outputBox));
        } else if (windows.empty()) {
            const bool held = roi.intersect(holding(c.image, roi, m_outputBox).box()) == roi;
            Image base = workImage(roi, 4, device, !held);
            for (const Box& part : parts(c.image.box(), m_outputBox))
                base.copyFrom(holding(c.image, part, m_outputBox));
            colour.push_back(base);
        } else {
            colour.push_back({});
            colour.push_back(workImage(boxes[1], 4, device, true));
            for (const auto& [fine, reach] : windows) {
                Image coarse = window(colour[1], reach, reach, m_outputBox);
                filters.reduce(fine, coarse);
            }
        }
        if (!work[i].level1.empty()) colour.push_back(work[i].level1);
        for (int k = 1; k < count; ++k) {
            if (k >= int(colour.size())) {
                colour.push_back(workImage(boxes[k], 4, device, false));
                filters.reduce(colour[k - 1], colour[k]);
            }
            if (k == 1 && work[i].level1.empty())
                removeVignetting(colour[1],
                                 PanoramaGrid::of(m_outputBox)
                                     .reduced(colour[0].empty() ? roi : colour[0].box()),
                                 c.axis,
                                 c.vignetting);
        }
        Image weight = workImage(roi, 1, device, false);
        seamWeight(label, weight, c.index, roi);
        const ImagePyramid weights = gaussianPyramid(weight, filters);
        const std::array<float, 3> mean = meanColour(c.analysis, c.axis, c.vignetting);

        // Coarse to fine: the coarsest level filled, then each finer band against the
        // expanded fill of the level below it, the fill of each level made in the same pass.
        Image& coarsest = colour[count - 1];
        fillLevel(coarsest, coarsest, coarsest, mean, kSeenThreshold, true, coarsest.box());
        const Image falloff0 =
            count > 1 ? Image() : falloffImage(c, colour[0].box(), PanoramaGrid::of(m_outputBox));
        accumulateBand(coarsest,
                       coarsest,
                       weights[count - 1],
                       sums[count - 1],
                       c.gain,
                       true,
                       coarsest.box(),
                       count == 1 ? &falloff0 : nullptr);
        for (int k = count - 2; k >= 1; --k)
            bandFill(colour[k + 1], colour[k], weights[k], sums[k], c.gain, sigma, round);
        if (count > 1) {
            // Over the parts of the camera's image where level 0 is read in place, else over
            // the work box.
            std::vector<std::pair<Image, Box>> finest;
            if (windows.empty())
                finest.emplace_back(colour[0], roi);
            else
                for (const Box& part : parts(c.image.box(), m_outputBox)) {
                    const Box inside = part.intersect(roi);
                    if (!inside.empty())
                        finest.emplace_back(window(c.image, part, inside, m_outputBox), inside);
                }
            for (const auto& [level, box] : finest) {
                const Image falloff = falloffImage(c, level.box(), PanoramaGrid::of(m_outputBox));
                bandZero(colour[1],
                         level,
                         weights[0],
                         m_panorama,
                         c.gain,
                         sigma,
                         round,
                         roi,
                         box,
                         &falloff);
            }
        }
        releaseCamera(before);
    }

    // With expand, the coarsest sum is filled where no camera's weight reached it (far from
    // every camera, e.g. toward an unseen pole): a pull-push over its own pyramid down to one
    // pixel, so those areas take the colours around them instead of black.
    if (m_expand && count > 1) {
        GaussianImagePyramidFactory fill = anyRound ? sphere : factory;
        fill.setSmallestLevelSize(1);
        ImagePyramid levels = fill.buildGaussian(sums[count - 1]);
        const int last = int(levels.size()) - 1;
        const std::array<float, 3> none{0, 0, 0};
        fillLevel(levels[last],
                  levels[last],
                  levels[last],
                  none,
                  kWeightThreshold,
                  true,
                  levels[last].box());
        for (int k = last - 1; k >= 0; --k) {
            Image expanded = allocate(levels[k].box(), 4, device, false);
            fill.expand(levels[k + 1], expanded, expanded, 0.0f, 1.0f);
            fillLevel(
                levels[k], expanded, levels[k], none, kWeightThreshold, false, levels[k].box());
        }
    }

    // Bands from the sums, collapsed coarse to fine.
    normalise(sums[count - 1], sums[count - 1], sums[count - 1], kWeightThreshold, false, false);
    if (count == 1) {
        normalise(sums[0], label, m_panorama, kWeightThreshold, m_expand, true);
        return;
    }
    for (int k = count - 2; k >= 1; --k)
        collapseLevel(sums[k + 1], sums[k], kWeightThreshold, sigma, anyRound);
    collapseFinal(sums[1], label, m_panorama, sigma, anyRound, m_expand);
}

}  // namespace ImageStitcher
}  // namespace Kiln
