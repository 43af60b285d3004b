// SPDX-License-Identifier: Apache-2.0
#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace Vireo {

namespace fs = std::filesystem;

namespace {

std::runtime_error failure(const std::string& path, const std::string& what, int error) {
    return std::runtime_error(path + ": " + what + ": " + std::strerror(error));
}

// Closes `fd` on every path out.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const { return m_fd; }
    // close() can report a write the kernel deferred; 0 or the error.
    int close() {
        const int r = ::close(m_fd);
        m_fd = -1;
        return r == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

// The file a save replaces: the file a symbolic link points to (a script kept as
// "shot.vireo -> versions/shot_v12.vireo" is saved into shot_v12.vireo; replacing the link
// would leave the version behind and the link a copy), else the target itself, as would a
// dangling link be.
fs::path replacedFile(const std::string& target) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(target, error))) return target;
    const fs::path real = fs::canonical(target, error);
    return error ? fs::path(target) : real;
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

AtomicFile::AtomicFile(std::string target)
    : m_target(std::move(target)), m_replaced(replacedFile(m_target).string()) {
    const fs::path path(m_replaced);
    const fs::path folder = path.parent_path();
    std::string name = path.filename().string();
    if (name.empty()) throw std::runtime_error(m_target + ": not a file name");
    const std::string extension = path.extension().string();
    const std::string pattern =
        (folder.empty() ? fs::path() : folder).string() + (folder.empty() ? "" : "/") + "." +
        name.substr(0, name.size() - extension.size()) + ".XXXXXX" + extension;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    Descriptor fd(::mkstemps(buffer.data(), int(extension.size())));
    if (fd.get() < 0) throw failure(m_target, "cannot write", errno);
    m_temporary = buffer.data();
    struct stat existing;
    const mode_t mode =
        ::stat(m_target.c_str(), &existing) == 0 ? existing.st_mode & 07777 : newFileMode();
    ::fchmod(fd.get(), mode);
}

AtomicFile::~AtomicFile() {
    if (!m_committed) ::unlink(m_temporary.c_str());
}

void AtomicFile::write(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    Descriptor fd(::open(m_temporary.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (fd.get() < 0) throw failure(m_target, "cannot write", errno);
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd.get(), bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw failure(m_target, "writing failed", errno);
        done += size_t(n);
    }
    if (const int error = fd.close()) throw failure(m_target, "writing failed", error);
}

void AtomicFile::commit() {
    {
        Descriptor fd(::open(m_temporary.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0 || ::fsync(fd.get()) != 0)
            throw failure(m_target, "writing failed", errno);
    }
    if (::rename(m_temporary.c_str(), m_replaced.c_str()) != 0)
        throw failure(m_target, "cannot replace", errno);
    m_committed = true;
    // The rename itself reaches the disk with the folder.
    const fs::path folder = fs::path(m_replaced).parent_path();
    Descriptor dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

void writeFileAtomically(const std::string& path, const std::string& content) {
    AtomicFile file(path);
    file.write(content);
    file.commit();
}

}  // namespace Vireo
