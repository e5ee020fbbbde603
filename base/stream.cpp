#include "base/stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "base/exception.h"

namespace glx {

int64_t TStream::size() {
    int64_t pos = seek(0, SeekOrigin::Current);
    int64_t end = seek(0, SeekOrigin::End);
    seek(pos, SeekOrigin::Begin);
    return end;
}

void TStream::readBuffer(void* buffer, size_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        size_t n = read(out + done, count - done);
        if (n == 0) throw EReadError("Stream read error");
        done += n;
    }
}

void TStream::writeBuffer(const void* buffer, size_t count) {
    if (count == 0) return;
    if (write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::copyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.setPosition(0);
        count = source.size();
    }
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
    int64_t left = count;
    while (left > 0) {
        size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buf.size())));
        source.readBuffer(buf.data(), n);
        writeBuffer(buf.data(), n);
        left -= static_cast<int64_t>(n);
    }
    return count;
}

// ---------------------------------------------------------------- files

static size_t fdRead(int fd, void* buffer, size_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

static size_t fdWrite(int fd, const void* buffer, size_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, in + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

static int64_t fdSeek(int fd, int64_t offset, SeekOrigin origin) {
    int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(fd, offset, whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

TFileStream::TFileStream(const std::string& path, Mode mode) : m_path(path) {
    if (mode == Create) {
        m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (m_fd < 0)
            throw EFCreateError(formatMessage("Cannot create file \"%s\". %s", path.c_str(), std::strerror(errno)));
        return;
    }
    int flags = (mode == OpenRead ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NONBLOCK;
    m_fd = ::open(path.c_str(), flags);
    if (m_fd < 0)
        throw EFOpenError(formatMessage("Cannot open file \"%s\". %s", path.c_str(), std::strerror(errno)));
    // Only regular files are read: a FIFO or device would block or never end.
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        throw EFOpenError(formatMessage("Cannot open file \"%s\". Not a regular file", path.c_str()));
    }
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
}

TFileStream::~TFileStream() {
    if (m_fd >= 0) ::close(m_fd);
}

size_t TFileStream::read(void* buffer, size_t count) { return fdRead(m_fd, buffer, count); }
size_t TFileStream::write(const void* buffer, size_t count) { return fdWrite(m_fd, buffer, count); }
int64_t TFileStream::seek(int64_t offset, SeekOrigin origin) { return fdSeek(m_fd, offset, origin); }

// ---------------------------------------------------------------- safe files

TSafeFileStream::TSafeFileStream(const std::string& target, CommitSync sync) : m_target(target), m_sync(sync) {
    std::string dir = ".";
    std::string base = target;
    if (auto slash = target.rfind('/'); slash != std::string::npos) {
        dir = slash == 0 ? "/" : target.substr(0, slash);
        base = target.substr(slash + 1);
    }
    std::random_device rd;
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(rd()));
        m_temp = (dir == "/" ? std::string("/") : dir + "/") + "." + base + suffix;
        m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0)
        throw EFCreateError(formatMessage("Cannot create file \"%s\". %s", target.c_str(), std::strerror(errno)));
}

TSafeFileStream::~TSafeFileStream() {
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_temp.c_str());
    }
}

size_t TSafeFileStream::read(void*, size_t) { return 0; }

size_t TSafeFileStream::write(const void* buffer, size_t count) {
    size_t n = fdWrite(m_fd, buffer, count);
    if (n != count) m_failed = true;
    return n;
}

int64_t TSafeFileStream::seek(int64_t offset, SeekOrigin origin) { return fdSeek(m_fd, offset, origin); }

void TSafeFileStream::commit() {
    if (m_fd < 0) return;
    // Keep the permissions of a file being replaced.
    struct stat st {};
    if (::stat(m_target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(m_fd, st.st_mode & 07777);
    bool ok = !m_failed && (m_sync == CommitSync::Deferred || ::fsync(m_fd) == 0);
    ok = (::close(m_fd) == 0) && ok;
    m_fd = -1;
    if (!ok || ::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        int err = errno;
        ::unlink(m_temp.c_str());
        throw EWriteError(formatMessage("Cannot write file \"%s\". %s", m_target.c_str(),
                                        ok ? std::strerror(err) : "Stream write error"));
    }
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::syncfs(fd) == 0;
    const int err = errno;
    if (fd >= 0) ::close(fd);
    if (!ok) throw EWriteError(formatMessage("Cannot write \"%s\". %s", folder.c_str(), std::strerror(err)));
}

// ---------------------------------------------------------------- memory

TMemoryStream::TMemoryStream(const void* data, size_t count)
    : m_data(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count) {}

size_t TMemoryStream::read(void* buffer, size_t count) {
    if (m_pos >= m_data.size()) return 0;
    size_t n = std::min(count, m_data.size() - m_pos);
    std::memcpy(buffer, m_data.data() + m_pos, n);
    m_pos += n;
    return n;
}

size_t TMemoryStream::write(const void* buffer, size_t count) {
    if (count == 0) return 0;
    if (m_pos + count > m_data.size()) m_data.resize(m_pos + count);
    std::memcpy(m_data.data() + m_pos, buffer, count);
    m_pos += count;
    return count;
}

int64_t TMemoryStream::seek(int64_t offset, SeekOrigin origin) {
    int64_t base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? static_cast<int64_t>(m_pos)
                                                                                   : static_cast<int64_t>(m_data.size());
    int64_t p = base + offset;
    if (p < 0) p = 0;
    m_pos = static_cast<size_t>(p);
    return p;
}

void TMemoryStream::loadFromFile(const std::string& path) {
    m_data = readWholeFile(path);
    m_pos = 0;
}

void TMemoryStream::saveToFile(const std::string& path) { writeWholeFile(path, m_data.data(), m_data.size()); }

void TMemoryStream::loadFromStream(TStream& source) {
    source.setPosition(0);
    int64_t n = source.size();
    m_data.resize(static_cast<size_t>(n));
    if (n > 0) source.readBuffer(m_data.data(), static_cast<size_t>(n));
    m_pos = 0;
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
    TFileStream f(path, TFileStream::OpenRead);
    std::vector<uint8_t> out;
    int64_t n = f.size();
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        out.resize(f.read(out.data(), out.size()));
    }
    return out;
}

void writeWholeFile(const std::string& path, const void* data, size_t count) {
    TSafeFileStream f(path);
    f.writeBuffer(data, count);
    f.commit();
}

}  // namespace glx
