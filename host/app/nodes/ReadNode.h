// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "px/image/Iop.h"
#include "px/image/StringKnob.h"

namespace Vireo {

class ReadAhead;

/// The host's image reader, node class "Read": one image sequence per view.
///
/// Knobs: `file` (a pattern, see expandFilePattern: %V becomes the name of the output
/// context's view, #### or %04d its frame), `rig` (a rig sidecar file, see RigSidecar),
/// `first` and `last` (the frame range the node reports in its info).
///
/// Pixels: rgba floats as the file holds them (no colour conversion, and colour that a format
/// keeps apart from alpha, as PNG does, is not multiplied by it); one or two channels are
/// grey (and alpha), alpha is 1 when the file has none. Coordinates: our images are y up (row 0
/// is the bottom) while image files store the top row first, so rows are flipped on reading:
/// file row r of a display window of height H becomes row H - 1 - r. The format is the file's
/// display window (with its pixel aspect), the box its data window.
///
/// Errors (node errors): an unreadable image names the file and the frame; a rig file that
/// cannot be read or parsed names the file (and the JSON parser's line and column).
///
/// Frames read in order (frame f of a view after f - 1, as a render or playback reads them)
/// have the next frame's file, up to `last`, read ahead on a thread of its own (ReadAhead) while
/// this one is used; it is used only if the file has not changed since.
///
/// Metadata: the rig file flattened (RigSidecar); empty without a rig. The key asked for is
/// not used: the whole bundle is returned.
class ReadNode : public PX::Image::PlanarIop {
public:
    static const PX::Image::Op::Description kDescription;

    explicit ReadNode(PX::Image::Node* node);
    ~ReadNode() override;
    const char* Class() const override { return kDescription.name; }
    const Description* description() const override { return &kDescription; }
    const char* node_help() const override;
    int minimum_inputs() const override { return 0; }
    int maximum_inputs() const override { return 0; }

    void knobs(PX::Image::KnobCallback& f) override;
    /// The file name and the file's modification time: a new frame or view is a new image.
    void append(PX::Image::Hash& hash) override;
    void renderPlane(PX::Image::ImagePlane& plane) override;
    PX::Image::MetaData::Bundle _fetchMetaData(const std::string& key) override;

    /// The file read for the output context's view and frame.
    std::string filename() const;

protected:
    void _validate(bool for_real) override;

private:
    std::string m_file;
    std::string m_rig;
    // Metadata is fetched on the main thread without the knobs being stored first, so the
    // rig path is read from the knob itself.
    PX::Image::StringKnob* m_rigKnob = nullptr;
    int m_first = 1;
    int m_last = 1;

    /// Asks for frame + 1 of `view` when `frame` came after frame - 1.
    void readNextFrameAhead(int view, int frame);
    std::unique_ptr<ReadAhead> m_readAhead;
    /// The last frame read of each view.
    std::map<int, int> m_lastFrame;
    std::mutex m_lastFrameMutex;
};

}  // namespace Vireo
