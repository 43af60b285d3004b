// SPDX-License-Identifier: Apache-2.0
#include "nodes/ReadAhead.h"

#include <sys/stat.h>

#include <stdexcept>
#include <utility>

namespace Vireo {

namespace {

// Spare pixel buffers kept: the one a Read gives back goes to the next file to decode.
constexpr size_t kMaxSpare = 1;

}  // namespace

std::uint64_t ReadAhead::fileStamp(const std::string& name) {
    struct stat s;
    if (::stat(name.c_str(), &s) != 0) return 0;
    // Unsigned: the mix wraps around by design.
    const std::uint64_t nanoseconds =
        std::uint64_t(s.st_mtim.tv_sec) * 1000000000u + std::uint64_t(s.st_mtim.tv_nsec);
    return nanoseconds * 31u + std::uint64_t(s.st_size) * 1000003u + std::uint64_t(s.st_ino);
}

std::unique_ptr<OIIO::ImageInput> ReadAhead::open(const std::string& name) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    return OIIO::ImageInput::open(name, &config);
}

void ReadAhead::request(int slot, const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Entry& entry = m_entries[slot];
    if (entry.name == name) return;  // asked for already
    entry = Entry();
    entry.name = name;
    entry.id = m_nextId++;
    // Never blocks (the reader's queue is unbounded), so it may be posted under the lock.
    entry.ticket = m_reader.post([this, slot, id = entry.id] { read(slot, id); });
}

bool ReadAhead::take(int slot, const std::string& name, Image* image) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto it = m_entries.find(slot);
    if (it == m_entries.end() || it->second.name != name) return false;
    const std::uint64_t id = it->second.id;
    const SerialExecutor::Ticket ticket = it->second.ticket;
    lock.unlock();
    m_reader.waitFor(ticket);
    lock.lock();
    it = m_entries.find(slot);
    if (it == m_entries.end() || it->second.id != id || !it->second.ready) return false;
    Entry entry = std::move(it->second);
    m_entries.erase(it);
    lock.unlock();
    if (fileStamp(name) != entry.stamp) {
        recycle(std::move(entry.image.pixels));
        return false;
    }
    *image = std::move(entry.image);
    return true;
}

void ReadAhead::recycle(std::vector<float> pixels) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_spare.size() < kMaxSpare && pixels.capacity() > 0) m_spare.push_back(std::move(pixels));
}

void ReadAhead::read(int slot, std::uint64_t id) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto it = m_entries.find(slot);
    if (it == m_entries.end() || it->second.id != id) return;  // asked for another file since
    const std::string name = it->second.name;
    Image image;
    if (!m_spare.empty()) {
        image.pixels = std::move(m_spare.back());
        m_spare.pop_back();
    }
    lock.unlock();

    // The stamp before the read: a file replaced while it is read no longer matches.
    const std::uint64_t stamp = fileStamp(name);
    bool ok = false;
    try {
        if (auto in = open(name)) {
            image.header = in->spec();
            image.pixels.resize(size_t(image.header.width) * size_t(image.header.height) *
                                size_t(image.header.nchannels));
            ok = stamp != 0 &&
                 in->read_image(
                     0, 0, 0, image.header.nchannels, OIIO::TypeDesc::FLOAT, image.pixels.data());
            if (!ok) in->geterror();  // the caller's own read reports it
        } else {
            OIIO::geterror();
        }
    } catch (const std::exception&) {
        ok = false;  // out of memory for a huge file: the caller's own read reports it
    }

    lock.lock();
    it = m_entries.find(slot);
    if (it != m_entries.end() && it->second.id == id) {
        if (ok) {
            it->second.image = std::move(image);
            it->second.stamp = stamp;
            it->second.ready = true;
        } else {
            m_entries.erase(it);
        }
    }
    if (!image.pixels.empty() && m_spare.size() < kMaxSpare)  // not handed to the entry
        m_spare.push_back(std::move(image.pixels));
}

}  // namespace Vireo
