// SPDX-License-Identifier: Apache-2.0
#include "nodes/ImageWriteQueue.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <OpenImageIO/filesystem.h>

#include "nodes/ImageIoError.h"

namespace Vireo {

void ImageWriteQueue::push(PendingImage image) {
    m_writer.post([this, image = std::move(image)]() mutable {
        write(image);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished.push_back(std::move(image));
    });
}

std::vector<PendingImage> ImageWriteQueue::takeFinished() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<PendingImage> out;
    out.swap(m_finished);
    return out;
}

void ImageWriteQueue::write(PendingImage& image) {
    image.error.clear();
    image.encoded.clear();
    // A format that can be written to memory is, so that every byte goes through a write whose
    // failure is seen (some writers miss a short write); the file is then written in one go.
    OIIO::Filesystem::IOVecOutput memory(image.encoded);
    OIIO::ImageOutput& out = *image.writer;
    try {
        const bool inMemory = out.supports("ioproxy") && out.set_ioproxy(&memory);
        errno = 0;
        if (!out.open(inMemory ? image.name : image.file->temporary(), image.header) ||
            !out.write_image(OIIO::TypeDesc::FLOAT, image.pixels.data()) || !out.close()) {
            const int why = errno;
            std::string reason = trimmedIoError(out.geterror());
            if (why != 0 && reason.find(std::strerror(why)) == std::string::npos)
                reason += std::string(reason.empty() ? "" : ": ") + std::strerror(why);
            image.error = "cannot write '" + image.name + "': " + reason;
        } else {
            if (inMemory) image.file->write(image.encoded.data(), image.encoded.size());
            image.file->commit();
        }
    } catch (const std::exception& e) {
        image.error = std::string("cannot write image: ") + e.what();
    }
    // The writer goes while the memory it may write to is still there; the temporary file of
    // a write that failed goes with its AtomicFile.
    image.writer.reset();
    image.file.reset();
}

}  // namespace Vireo
