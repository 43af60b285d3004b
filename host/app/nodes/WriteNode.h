// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "nodes/ImageWriteQueue.h"
#include "px/image/Executable.h"
#include "px/image/Iop.h"

namespace Vireo {

/// The host's image writer, node class "Write". Executing it over frames (PX::Image::execute)
/// writes, for each frame and each view, its input's pixels to one file.
///
/// Knobs: `file` (a pattern, as the Read node's: %V the view name, #### or %04d the frame),
/// `views` (view names separated by blanks; empty writes the output context's view only),
/// `channels` (what to write, separated by blanks: a layer name such as "rgba", "rgb" or
/// "stitch_map", or a full channel name such as "rgba.alpha"; default "rgba").
///
/// Files: the extension picks the writer (exr and tif(f) get 32-bit float, dpx 16-bit, other
/// formats 8-bit); the whole format of the input is written, black outside its box. Rows are
/// flipped back to the file's top-first order, so a Read of the file gives the input again.
/// Missing folders are made.
///
/// Between beginExecuting() and endExecuting() a frame's files are compressed and written on
/// a thread of their own (ImageWriteQueue) while the next frame is built; at most one more
/// image waits, so memory holds at most three frames' pixels. A file's message ("wrote ...")
/// or error is raised at the end of the frame during which it was written, or at the end of the
/// run, which waits for every file: a run that ends, cancelled or not, leaves only whole files
/// and its error names the file that failed. execute() outside a run writes at once.
///
/// Errors (node errors on the Write): the file that cannot be written, an unknown view, a
/// channel the input lacks, and an input that failed (with the input's name and message).
class WriteNode : public PX::Image::Iop, public PX::Image::Executable {
public:
    static const PX::Image::Op::Description kDescription;

    explicit WriteNode(PX::Image::Node* node) : Iop(node), Executable(this) {}
    const char* Class() const override { return kDescription.name; }
    const Description* description() const override { return &kDescription; }
    const char* node_help() const override;
    std::string input_label(int) const override { return "Source"; }

    void knobs(PX::Image::KnobCallback& f) override;
    PX::Image::Executable* executable() override { return this; }
    bool isWrite() const override { return true; }
    /// Writes the current frame for every view of `views`.
    void execute() override;
    void beginExecuting() override;
    /// Waits for the files still being written.
    void endExecuting() override;

    /// Passes the input's pixels on.
    PX::Image::ImagePlane fetchPlane(const PX::Image::Box& box,
                                     const PX::Image::ChannelSet& channels) override;

    /// The file written for `view` at `frame`.
    std::string filename(int view, double frame) const;

protected:
    void _validate(bool for_real) override;

private:
    bool writeView(int view);
    bool resolveChannels(PX::Image::ChannelSet* channels);
    /// False, with the node error, for a compression the knob does not allow for `name`.
    bool checkCompression(const std::string& name);
    /// False, with the node error, for a data type the knob does not allow for `name`.
    bool checkDatatype(const std::string& name);
    /// False, with the node error, for channels other than colour (data such as the stitch
    /// map's positions) written to `name`, a file of integers that would clip them.
    bool checkDataChannels(const PX::Image::ChannelSet& channels, const std::string& name);

    std::string m_file;
    std::string m_views;
    std::string m_channels = "rgba";
    std::string m_compression;
    std::string m_datatype;
    /// Raises the message or the error of each file the queue finished.
    void reportWritten();
    /// The message or the error of a file written; keeps its buffers. False on an error.
    bool finished(PendingImage& image);
    /// An image whose buffers a file written earlier left, else a new one.
    PendingImage spareImage();

    std::unique_ptr<ImageWriteQueue> m_queue;
    std::vector<PendingImage> m_spare;
};

}  // namespace Vireo
