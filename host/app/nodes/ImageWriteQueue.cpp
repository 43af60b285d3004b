// SPDX-License-Identifier: Apache-2.0
#include "nodes/ImageWriteQueue.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <OpenImageIO/filesystem.h>

#include "nodes/ImageIoError.h"

namespace Vireo {

ImageWriteQueue::ImageWriteQueue(size_t maxWaiting)
    : m_maxWaiting(maxWaiting > 0 ? maxWaiting : 1), m_thread([this] { run(); }) {}

ImageWriteQueue::~ImageWriteQueue() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ImageWriteQueue::push(PendingImage image) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.size() < m_maxWaiting; });
    m_waiting.push_back(std::move(image));
    lock.unlock();
    m_changed.notify_all();
}

std::vector<PendingImage> ImageWriteQueue::takeFinished() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<PendingImage> out;
    out.swap(m_finished);
    return out;
}

void ImageWriteQueue::waitIdle() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.empty() && !m_busy; });
}

void ImageWriteQueue::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_waiting.empty(); });
        if (m_waiting.empty()) return;  // stopping, with everything written
        PendingImage image = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_busy = true;
        lock.unlock();
        m_changed.notify_all();  // room for the next push
        write(image);
        lock.lock();
        m_finished.push_back(std::move(image));
        m_busy = false;
        m_changed.notify_all();
    }
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
