// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "AtomicFile.h"
#include "SerialExecutor.h"

namespace Vireo {

/// An image ready to go to its file: rows top first, the header's channels interleaved as
/// floats, the image library's writer made for the file and the temporary file that replaces
/// it when whole. After writing, `error` is empty or the node error that names the file.
/// `pixels` and `encoded` keep their memory for the next image (fresh pages for each 32 MiB
/// frame cost their faults and zeros).
struct PendingImage {
    std::string name;
    OIIO::ImageSpec header;
    std::unique_ptr<OIIO::ImageOutput> writer;
    std::unique_ptr<AtomicFile> file;
    std::vector<float> pixels;
    /// The encoded file, for a format that can be written to memory.
    std::vector<unsigned char> encoded;
    std::string error;
};

/// Image files written one after the other, in the order given, on a thread of their own, so
/// that the caller builds the next frame while this one is compressed and written. At most
/// `maxWaiting` images wait besides the one being written: push() blocks until there is room,
/// which bounds the memory to that many frames. Finished images come back to the caller's
/// thread through takeFinished() (their messages are raised there, and their buffers reused).
/// Destroying the queue writes what it holds first: an image handed over is always written
/// whole or not at all.
class ImageWriteQueue {
public:
    explicit ImageWriteQueue(size_t maxWaiting)
        : m_writer(maxWaiting, SerialExecutor::AtShutdown::Finish) {}

    void push(PendingImage image);
    /// The images written since the last call, in the order they were pushed; the writer and
    /// the temporary file are gone.
    std::vector<PendingImage> takeFinished();
    /// Returns when every image pushed is written.
    void waitIdle() { m_writer.wait(); }

    /// Encodes and writes `image` here and now, setting its `error`.
    static void write(PendingImage& image);

private:
    std::mutex m_mutex;
    std::vector<PendingImage> m_finished;
    /// Last, so that its thread has finished with the members above before they go.
    SerialExecutor m_writer;
};

}  // namespace Vireo
