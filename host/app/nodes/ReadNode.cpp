// SPDX-License-Identifier: Apache-2.0
#include "nodes/ReadNode.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "FilePattern.h"
#include "RigSidecar.h"
#include "nodes/ImageIoError.h"
#include "nodes/ReadAhead.h"
#include "nodes/RigFileKnob.h"
#include "px/image/KnobCallback.h"
#include "px/image/Limits.h"
#include "px/image/Node.h"

namespace Vireo {

using namespace PX::Image;

namespace {

Op* makeRead(Node* node) { return new ReadNode(node); }

// Opens the image of `frame`; null, with the node error raised, when it cannot be read.
std::unique_ptr<OIIO::ImageInput> openImage(Op& op, const std::string& name, int frame) {
    auto in = ReadAhead::open(name);
    if (!in)
        op.error("cannot read image '%s' for frame %d: %s",
                 name.c_str(),
                 frame,
                 trimmedIoError(OIIO::geterror()).c_str());
    return in;
}

// The data window in our coordinates. Rows flip: the top row of the display window is our
// row full_height - 1.
Box dataBox(const OIIO::ImageSpec& header) {
    const int top = header.full_y + header.full_height;
    return Box(header.x - header.full_x,
               top - (header.y + header.height),
               header.x - header.full_x + header.width,
               top - header.y);
}

// The source channel of each of r, g, b, a; -1 for an alpha the file lacks.
struct ChannelMap {
    int source[4];
};

ChannelMap mapChannels(const OIIO::ImageSpec& header) {
    const int n = header.nchannels;
    if (n <= 2) return {{0, 0, 0, n == 2 ? 1 : -1}};  // grey, grey and alpha
    int alpha = header.alpha_channel;
    if (alpha < 0 && n >= 4) alpha = 3;
    return {{0, 1, 2, alpha}};
}

}  // namespace

const Op::Description ReadNode::kDescription("Read", makeRead, "vireo");

ReadNode::ReadNode(Node* node) : PlanarIop(node), m_readAhead(std::make_unique<ReadAhead>()) {}

ReadNode::~ReadNode() = default;

const char* ReadNode::node_help() const {
    return "Reads an image sequence per view (EXR, PNG, JPEG, TIFF, DPX), with an optional rig "
           "sidecar attached as metadata.";
}

void ReadNode::knobs(KnobCallback& f) {
    String_knob(f, &m_file, "file", "File")
        ->tooltip("Image sequence: %V is the view name, #### or %04d the frame.");
    m_rigKnob = f.make<RigFileKnob>("rig", "Rig", &m_rig);
    m_rigKnob->tooltip("Rig sidecar (JSON) attached to the stream as metadata.");
    Int_knob(f, &m_first, "first", "First frame")->setRange(-Limits::kMaxFrame, Limits::kMaxFrame);
    Int_knob(f, &m_last, "last", "Last frame")->setRange(-Limits::kMaxFrame, Limits::kMaxFrame);
}

std::string ReadNode::filename() const {
    return expandFilePattern(m_file, Views::name(outputContext().view()), outputContext().frame());
}

void ReadNode::append(Hash& hash) {
    const std::string name = filename();
    hash.append(name);
    std::error_code ec;
    const auto time = std::filesystem::last_write_time(name, ec);
    hash.append(ec ? 0LL : static_cast<long long>(time.time_since_epoch().count()));
}

void ReadNode::_validate(bool) {
    const int frame = wholeFrame(outputContext().frame());
    if (m_file.empty()) {
        error("no file name given for frame %d", frame);
        return;
    }
    // The rig first: with a broken rig the views are not the rig's, and the images of the
    // views there are would only add errors about files nobody asked for.
    const std::string rig = m_rigKnob->text();
    if (!rig.empty()) {
        try {
            const RigSidecar sidecar = RigSidecar::read(rig);
            // Without %V every view reads one file: right for cameras that each take their
            // crop window of it, wrong for cameras that each need a file of their own.
            const int whole = sidecar.wholeFileCameraCount();
            if (whole > 1 && m_file.find("%V") == std::string::npos)
                warning(
                    "the file pattern '%s' has no %%V: %d cameras of the rig read the same "
                    "file, each as its own image (only cameras with a crop window share a "
                    "file)",
                    m_file.c_str(),
                    whole);
        } catch (const RigSidecar::Error& e) {
            error("%s", e.what());
            return;
        }
    }
    auto in = openImage(*this, filename(), frame);
    if (!in) return;
    const OIIO::ImageSpec& header = in->spec();
    Format format(header.full_width,
                  header.full_height,
                  double(header.get_float_attribute("PixelAspectRatio", 1.0f)));
    info_().format(format);
    info_().full_size_format(format);
    info_().set(dataBox(header));
    info_().channels(Mask_RGBA);
    info_().first_frame(m_first);
    info_().last_frame(m_last);
}

void ReadNode::renderPlane(ImagePlane& plane) {
    const int frame = wholeFrame(outputContext().frame());
    const int view = outputContext().view();
    const std::string name = filename();
    // The file as read ahead while the last frame was built, else from the disk now.
    ReadAhead::Image ahead;
    const bool wasReadAhead = m_readAhead->take(view, name, &ahead);
    std::unique_ptr<OIIO::ImageInput> in;
    if (!wasReadAhead) {
        in = openImage(*this, name, frame);
        if (!in) return;
    }
    const OIIO::ImageSpec header = wasReadAhead ? ahead.header : in->spec();
    const int top = header.full_y + header.full_height;
    if (dataBox(header) != info().box()) {
        error("image '%s' for frame %d changed size while it was read", name.c_str(), frame);
        return;
    }
    const ChannelMap map = mapChannels(header);
    const Channel rgba[4] = {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha};
    int planeChannel[4];
    for (int k = 0; k < 4; ++k) planeChannel[k] = plane.chanNo(rgba[k]);
    const Box& box = plane.bounds();
    const std::ptrdiff_t colStride = plane.colStride(), chanStride = plane.chanStride();
    const bool sameLayout = header.nchannels == 4 && colStride == 4 && chanStride == 1 &&
                            std::equal(planeChannel, planeChannel + 4, map.source) &&
                            planeChannel[0] == 0 && planeChannel[1] == 1 && planeChannel[2] == 2 &&
                            planeChannel[3] == 3;
    auto failed = [&] {
        error("cannot read image '%s' for frame %d: %s",
              name.c_str(),
              frame,
              trimmedIoError(in->geterror()).c_str());
    };
    // A packed RGBA plane over exactly the file's pixels (the common request: a whole camera
    // frame) takes them straight from the reader, its rows filled from the top down; an RGB
    // file leaves every fourth value, which becomes alpha 1.
    const bool packedRGBA = colStride == 4 && chanStride == 1 && planeChannel[0] == 0 &&
                            planeChannel[1] == 1 && planeChannel[2] == 2 && planeChannel[3] == 3;
    const bool rgbFile = header.nchannels == 3 && map.source[3] < 0;
    if (!wasReadAhead && packedRGBA && (sameLayout || rgbFile) && box == dataBox(header)) {
        const int fileChannels = sameLayout ? 4 : 3;
        if (!in->read_image(0,
                            0,
                            0,
                            fileChannels,
                            OIIO::TypeDesc::FLOAT,
                            plane.writableAt(box.x(), box.t() - 1, 0),
                            OIIO::stride_t(4 * sizeof(float)),
                            -OIIO::stride_t(plane.rowStride() * std::ptrdiff_t(sizeof(float))))) {
            failed();
            return;
        }
        if (rgbFile)
            for (int y = box.y(); y < box.t(); ++y) {
                float* alpha = plane.writableAt(box.x(), y, 3);
                for (int x = 0; x < box.w(); ++x) alpha[4 * x] = 1.0f;
            }
        readNextFrameAhead(view, frame);
        return;
    }
    std::vector<float> pixels = std::move(ahead.pixels);
    if (!wasReadAhead) {
        pixels.resize(size_t(header.width) * size_t(header.height) * size_t(header.nchannels));
        if (!in->read_image(0, 0, 0, header.nchannels, OIIO::TypeDesc::FLOAT, pixels.data())) {
            failed();
            return;
        }
    }
    // Row by row: the columns the file holds come from it, the rest are zeros. A packed RGBA
    // plane of an RGBA file takes each row in one copy.
    const int fileX0 = std::max(box.x(), header.x - header.full_x);
    const int fileX1 = std::min(box.r(), header.x - header.full_x + header.width);
    for (int y = box.y(); y < box.t(); ++y) {
        const int fileRow = top - 1 - y - header.y;  // row index inside the data window
        float* row = plane.writableAt(box.x(), y, 0);
        const bool rowInside = fileRow >= 0 && fileRow < header.height && fileX0 < fileX1;
        if (!rowInside) {
            for (int k = 0; k < 4; ++k)
                if (planeChannel[k] >= 0)
                    for (int x = 0; x < box.w(); ++x)
                        row[planeChannel[k] * chanStride + x * colStride] = 0.0f;
            continue;
        }
        const float* src = pixels.data() + (size_t(fileRow) * size_t(header.width) +
                                            size_t(fileX0 + header.full_x - header.x)) *
                                               size_t(header.nchannels);
        for (int k = 0; k < 4; ++k) {
            const int z = planeChannel[k];
            if (z < 0) continue;
            float* o = row + z * chanStride;
            for (int x = box.x(); x < fileX0; ++x) o[(x - box.x()) * colStride] = 0.0f;
            for (int x = fileX1; x < box.r(); ++x) o[(x - box.x()) * colStride] = 0.0f;
        }
        if (sameLayout) {
            std::copy_n(src, std::ptrdiff_t(fileX1 - fileX0) * 4, row + (fileX0 - box.x()) * 4);
            continue;
        }
        for (int k = 0; k < 4; ++k) {
            const int z = planeChannel[k];
            if (z < 0) continue;
            float* o = row + z * chanStride + (fileX0 - box.x()) * colStride;
            const int from = map.source[k];
            for (int i = 0; i < fileX1 - fileX0; ++i, o += colStride)
                *o = from < 0 ? 1.0f : src[std::ptrdiff_t(i) * header.nchannels + from];
        }
    }
    m_readAhead->recycle(std::move(pixels));
    readNextFrameAhead(view, frame);
}

void ReadNode::readNextFrameAhead(int view, int frame) {
    // Only frames read in order (a render, playback) have their next one read ahead: a frame
    // looked at alone costs nothing more.
    bool inOrder = false;
    {
        std::lock_guard<std::mutex> lock(m_lastFrameMutex);
        auto last = m_lastFrame.find(view);
        inOrder = last != m_lastFrame.end() && last->second == frame - 1;
        m_lastFrame[view] = frame;
    }
    if (inOrder && frame < m_last)
        m_readAhead->request(view, expandFilePattern(m_file, Views::name(view), frame + 1));
}

MetaData::Bundle ReadNode::_fetchMetaData(const std::string&) {
    const std::string rig = m_rigKnob->text();
    if (rig.empty()) return {};
    try {
        return RigSidecar::read(rig).bundle();
    } catch (const RigSidecar::Error& e) {
        error("%s", e.what());
        return {};
    }
}

}  // namespace Vireo
