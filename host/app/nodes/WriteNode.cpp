// SPDX-License-Identifier: Apache-2.0
#include "nodes/WriteNode.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

#include <OpenImageIO/imageio.h>

#include "AtomicFile.h"
#include "FilePattern.h"
#include "nodes/ImageIoError.h"
#include "nodes/ImageWriteQueue.h"
#include "px/image/KnobCallback.h"
#include "px/image/Node.h"

namespace Vireo {

using namespace PX::Image;

namespace {

Op* makeWrite(Node* node) { return new WriteNode(node); }

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::string lowerExtension(const std::string& name) {
    std::string ext = std::filesystem::path(name).extension().string();
    std::transform(
        ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

OIIO::TypeDesc fileType(const std::string& name) {
    const std::string ext = lowerExtension(name);
    if (ext == ".exr" || ext == ".tif" || ext == ".tiff") return OIIO::TypeDesc::FLOAT;
    if (ext == ".dpx") return OIIO::TypeDesc::UINT16;
    return OIIO::TypeDesc::UINT8;
}

// File channel names: R, G, B, A for the rgba layer, the full name for any other channel.
std::string fileChannelName(Channel c) {
    switch (c) {
        case Chan_Red:
            return "R";
        case Chan_Green:
            return "G";
        case Chan_Blue:
            return "B";
        case Chan_Alpha:
            return "A";
        default:
            return getName(c);
    }
}

}  // namespace

const Op::Description WriteNode::kDescription("Write", makeWrite, "vireo");

const char* WriteNode::node_help() const {
    return "Writes its input to an image file per frame and view; the extension picks the "
           "format.";
}

void WriteNode::knobs(KnobCallback& f) {
    String_knob(f, &m_file, "file", "File")
        ->tooltip("Image sequence: %V is the view name, #### or %04d the frame.");
    String_knob(f, &m_views, "views", "Views")
        ->tooltip("Views to write, separated by blanks; empty writes the current view.");
    String_knob(f, &m_channels, "channels", "Channels")
        ->tooltip("Layers or channels to write, separated by blanks.");
    String_knob(f, &m_compression, "compression", "Compression")
        ->tooltip(
            "EXR files only, lossless: zip (the default), zip:1 .. zip:9 (zip at that "
            "level: 1 writes fastest), zips, piz, rle or none. Empty: the default.");
    String_knob(f, &m_datatype, "datatype", "Data Type")
        ->tooltip(
            "EXR files only: float (32-bit, the default) or half (16-bit float: half the size "
            "and written faster, enough for colour). Layers that are not colour, such as the "
            "stitch map's positions in pixels, stay 32-bit float. Empty: the default.");
}

std::string WriteNode::filename(int view, double frame) const {
    return expandFilePattern(m_file, Views::name(view), frame);
}

ImagePlane WriteNode::fetchPlane(const Box& box, const ChannelSet& channels) {
    return fetchInput(0, box, channels);
}

void WriteNode::_validate(bool) {
    // The Write stands where an interactive host has its viewer: the node it shows gets its
    // pre-validation first (it may reload its rig and take the convergence from it).
    if (Op* shown = Op::input(0)) {
        if (shown->doPreValidate() != kPreValidateGoOn) {
            error("input '%s' is not ready to render", shown->node()->name().c_str());
            return;
        }
    }
    Iop* in = validateInput(0);
    if (!in) {
        error("nothing is connected to the input");
        return;
    }
    if (!in->valid()) {
        error("input '%s' failed: %s", in->node()->name().c_str(), in->errorMessage().c_str());
        return;
    }
    copy_info(0);
}

bool WriteNode::checkCompression(const std::string& name) {
    if (m_compression.empty()) return true;
    static const char* const kLossless[] = {"zip", "zips", "piz", "rle", "none"};
    bool known =
        std::find(std::begin(kLossless), std::end(kLossless), m_compression) != std::end(kLossless);
    if (m_compression.size() == 5 && m_compression.compare(0, 4, "zip:") == 0)
        known = m_compression[4] >= '1' && m_compression[4] <= '9';
    if (!known) {
        error("knob 'compression': unknown '%s' (zip, zip:1 .. zip:9, zips, piz, rle or none)",
              m_compression.c_str());
        return false;
    }
    if (lowerExtension(name) != ".exr") {
        error("knob 'compression': '%s' is not an EXR file", name.c_str());
        return false;
    }
    return true;
}

bool WriteNode::checkDatatype(const std::string& name) {
    if (m_datatype.empty() || m_datatype == "float") return true;
    if (m_datatype != "half") {
        error("knob 'datatype': unknown '%s' (float or half)", m_datatype.c_str());
        return false;
    }
    if (lowerExtension(name) != ".exr") {
        error("knob 'datatype': '%s' is not an EXR file", name.c_str());
        return false;
    }
    return true;
}

bool WriteNode::checkDataChannels(const ChannelSet& channels, const std::string& name) {
    // Layers other than colour carry data: the stitch map holds input positions in pixels.
    // An integer file keeps values from 0 to 1 only, so every position would come out 0 or 1.
    const OIIO::TypeDesc type = fileType(name);
    const ChannelSet data = channels - Mask_RGBA;
    if (type == OIIO::TypeDesc::FLOAT || data.empty()) return true;
    error(
        "knob 'channels': %s are not colour: '%s' keeps %d-bit values from 0 to 1 and would "
        "clip them; write them to an EXR or TIFF file (32-bit float)",
        data.text().c_str(),
        name.c_str(),
        int(type.size() * 8));
    return false;
}

bool WriteNode::resolveChannels(ChannelSet* channels) {
    const ChannelSet available = info().channels();
    for (const std::string& w : words(m_channels)) {
        ChannelSet add;
        if (w == "rgb") {
            add = Mask_RGB;
        } else if (w.find('.') != std::string::npos) {
            add = getChannel(w);
        } else {
            for (Channel c : available)
                if (getLayerName(c) == w) add += c;
            if (add.empty()) add = w == "rgba" ? Mask_RGBA : ChannelSet();
        }
        if (add.empty() || !available.contains(add)) {
            error("knob 'channels': the input has no '%s' (it has %s)",
                  w.c_str(),
                  available.text().c_str());
            return false;
        }
        channels->insert(add);
    }
    if (channels->empty()) {
        error("knob 'channels' names no channel");
        return false;
    }
    return true;
}

void WriteNode::execute() {
    std::vector<int> views;
    for (const std::string& name : words(m_views)) {
        const int v = Views::find(name);
        if (v < 0) {
            error("knob 'views': no view '%s' in the project", name.c_str());
            return;
        }
        views.push_back(v);
    }
    if (views.empty()) views.push_back(outputContext().view());

    const OutputContext saved = outputContext();
    for (int view : views) {
        OutputContext c = saved;
        c.setView(view);
        setOutputContext(c);
        const bool ok = writeView(view);
        if (!ok || aborted()) break;
    }
    setOutputContext(saved);
    // Files written meanwhile in the background: their messages, and their errors (after
    // this frame's validation, which would clear them).
    if (m_queue) reportWritten();
}

bool WriteNode::writeView(int view) {
    const double frame = outputContext().frame();
    const std::string name = filename(view, frame);
    if (m_file.empty()) {
        error("knob 'file' is empty");
        return false;
    }
    validate(true);
    if (!valid()) return false;
    ChannelSet channels;
    if (!resolveChannels(&channels)) return false;
    if (!checkCompression(name)) return false;
    if (!checkDatatype(name)) return false;
    if (!checkDataChannels(channels, name)) return false;

    const Box& box = info().box();
    const ImagePlane plane = fetchInput(0, box, channels);
    if (!plane.hasBuffer()) {
        Iop* in = input(0);
        error("cannot write '%s': input '%s' gave no image for frame %d view '%s': %s",
              name.c_str(),
              in ? in->node()->name().c_str() : "",
              wholeFrame(frame),
              Views::name(view).c_str(),
              in ? in->errorMessage().c_str() : "");
        return false;
    }

    // The format's whole area, rows top first as files keep them, in a buffer of an image
    // written earlier (the writer takes contiguous rows as they are). Zeros where the plane
    // is not.
    PendingImage image = spareImage();
    image.name = name;
    const Format& format = info().format();
    const Box area = format.isEmpty() ? box : Box(0, 0, format.width(), format.height());
    const int nch = int(channels.size());
    const Box inside = area.intersect(box).intersect(plane.bounds());
    std::vector<float>& pixels = image.pixels;
    pixels.resize(size_t(area.w()) * size_t(area.h()) * size_t(nch));
    if (inside != area) std::fill(pixels.begin(), pixels.end(), 0.0f);
    // Each channel's offset in the plane, found once; a packed plane of exactly these
    // channels gives a row in one copy.
    std::vector<std::ptrdiff_t> offsets;
    for (Channel c : channels) offsets.push_back(plane.chanNo(c) * plane.chanStride());
    const std::ptrdiff_t colStride = plane.colStride();
    bool sameLayout = colStride == nch;
    for (int k = 0; k < nch; ++k) sameLayout = sameLayout && offsets[size_t(k)] == k;
    for (int y = inside.y(); y < inside.t() && inside.x() < inside.r(); ++y) {
        float* dst = pixels.data() +
                     (size_t(area.t() - 1 - y) * size_t(area.w()) + size_t(inside.x() - area.x())) *
                         size_t(nch);
        const float* src = plane.readable() + (y - plane.bounds().y()) * plane.rowStride() +
                           (inside.x() - plane.bounds().x()) * colStride;
        if (sameLayout) {
            std::copy_n(src, std::ptrdiff_t(inside.w()) * nch, dst);
            continue;
        }
        for (int x = inside.x(); x < inside.r(); ++x, src += colStride, dst += nch)
            for (int k = 0; k < nch; ++k) dst[k] = src[offsets[size_t(k)]];
    }

    // Half keeps about three decimal digits: enough for colour, not for data such as positions
    // in pixels (2047.6 would read back as 2048), which stays 32-bit float in the same file.
    const bool half = m_datatype == "half";
    const bool data = !(channels - Mask_RGBA).empty();
    image.header =
        OIIO::ImageSpec(area.w(), area.h(), nch, half ? OIIO::TypeDesc::HALF : fileType(name));
    OIIO::ImageSpec& header = image.header;
    header.channelnames.clear();
    for (Channel c : channels) {
        if (c == Chan_Alpha) header.alpha_channel = int(header.channelnames.size());
        header.channelnames.push_back(fileChannelName(c));
        if (half && data)
            header.channelformats.push_back(Mask_RGBA.contains(c) ? OIIO::TypeDesc::HALF
                                                                  : OIIO::TypeDesc::FLOAT);
    }
    header.attribute("oiio:UnassociatedAlpha", 1);  // values as they are, as the Read reads them
    if (!m_compression.empty()) header.attribute("compression", m_compression);
    if (!format.isEmpty() && format.pixel_aspect() != 1.0)
        header.attribute("PixelAspectRatio", float(format.pixel_aspect()));

    const std::filesystem::path folder = std::filesystem::path(name).parent_path();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    image.writer = OIIO::ImageOutput::create(name);
    if (!image.writer) {
        error("cannot write '%s': %s", name.c_str(), trimmedIoError(OIIO::geterror()).c_str());
        return false;
    }
    // Written aside and renamed over the file when whole: an interrupted or failed write
    // leaves the previous image in place.
    try {
        image.file = std::make_unique<AtomicFile>(name);
    } catch (const std::runtime_error& e) {
        error("cannot write image: %s", e.what());
        return false;
    }
    if (m_queue) {
        m_queue->push(std::move(image));
        return true;
    }
    ImageWriteQueue::write(image);
    return finished(image);
}

void WriteNode::beginExecuting() {
    // One image waits while another is written and the next frame is built.
    m_queue = std::make_unique<ImageWriteQueue>(1);
}

void WriteNode::endExecuting() {
    if (!m_queue) return;
    m_queue->waitIdle();
    reportWritten();
    m_queue.reset();
}

void WriteNode::reportWritten() {
    for (PendingImage& image : m_queue->takeFinished()) finished(image);
}

bool WriteNode::finished(PendingImage& image) {
    const bool ok = image.error.empty();
    if (ok)
        progressMessage("wrote " + image.name);
    else
        error("%s", image.error.c_str());
    if (m_spare.empty()) m_spare.push_back(std::move(image));
    return ok;
}

PendingImage WriteNode::spareImage() {
    if (m_spare.empty()) return {};
    PendingImage image = std::move(m_spare.back());
    m_spare.pop_back();
    return image;
}

}  // namespace Vireo
