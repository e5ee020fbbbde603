#include "base/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
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

int openRegularFile(const std::string& path, FileAccess access, std::string& reason) {
    return openRegularFile(FileAt{AT_FDCWD, path, path}, access, reason);
}

int openRegularFile(const FileAt& file, FileAccess access, std::string& reason) {
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    switch (access) {
        case FileAccess::Read:
            flags |= O_RDONLY;
            break;
        case FileAccess::Append:
            flags |= O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
            break;
        case FileAccess::Rewrite:
            flags |= O_WRONLY | O_CREAT | O_NOFOLLOW;
            break;
    }
    int fd = ::openat(file.folder, file.name.c_str(), flags, 0666);
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        if (access != FileAccess::Read && ::fstatat(file.folder, file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode))
            reason = "It is a symbolic link";
        else if (err == ENXIO)  // a FIFO without a reader, opened for writing without blocking
            reason = "Not a regular file";
        else reason = std::strerror(err);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        reason = "Not a regular file";
        return -1;
    }
    // Another name of the same file may lie anywhere on the file system:
    // writing in place through this one would change that file too.
    if (access != FileAccess::Read && st.st_nlink > 1) {
        ::close(fd);
        reason = "It has more than one link";
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (access == FileAccess::Rewrite && ::ftruncate(fd, 0) != 0) {
        reason = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string resolvedPathOf(int fd) {
    if (fd < 0) return "";
    char buf[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return "";
    return std::string(buf, static_cast<size_t>(n));
}

TFileStream::TFileStream(const std::string& path, FileAccess access) : m_path(path) {
    std::string reason;
    m_fd = openRegularFile(path, access, reason);
    if (m_fd < 0) throw EFOpenError(formatMessage("Cannot open file \"%s\". %s", path.c_str(), reason.c_str()));
}

TFileStream::~TFileStream() {
    if (m_fd >= 0) ::close(m_fd);
}

uint64_t TFileStream::linkCount() const {
    struct stat st {};
    return ::fstat(m_fd, &st) == 0 ? static_cast<uint64_t>(st.st_nlink) : 0;
}

size_t TFileStream::read(void* buffer, size_t count) { return fdRead(m_fd, buffer, count); }
size_t TFileStream::write(const void* buffer, size_t count) { return fdWrite(m_fd, buffer, count); }
int64_t TFileStream::seek(int64_t offset, SeekOrigin origin) { return fdSeek(m_fd, offset, origin); }

// ---------------------------------------------------------------- temporary files

namespace {

// Temporary files of open SafeFileStreams, by folder descriptor and name,
// in fixed slots that a signal handler can walk without locks or
// allocation. A slot's folder stays open while the slot is in use.
constexpr int kTempSlots = 64;
constexpr size_t kTempNameMax = NAME_MAX + 1;
int g_tempFolders[kTempSlots];
char g_tempNames[kTempSlots][kTempNameMax];
std::atomic<int> g_tempState[kTempSlots];  // 0 free, 1 being filled, 2 in use
static_assert(std::atomic<int>::is_always_lock_free);

int claimTempSlot(int folder, const std::string& name) {
    if (name.size() >= kTempNameMax) return -1;
    for (int i = 0; i < kTempSlots; ++i) {
        int expected = 0;
        if (!g_tempState[i].compare_exchange_strong(expected, 1)) continue;
        g_tempFolders[i] = folder;
        std::memcpy(g_tempNames[i], name.c_str(), name.size() + 1);
        g_tempState[i].store(2, std::memory_order_release);
        return i;
    }
    return -1;  // more files open at once than slots: that one is not cleaned up on a signal
}

void releaseTempSlot(int slot) {
    if (slot >= 0) g_tempState[slot].store(0, std::memory_order_release);
}

// The first bytes of a name, cut at a character boundary of UTF-8 text.
std::string shortName(const std::string& name, size_t most) {
    if (name.size() <= most) return name;
    size_t n = most;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
    return name.substr(0, n);
}

// A folder opened for working inside it; one that may be entered but not
// read is opened as a place only.
int openFolder(int parent, const char* path) {
    int fd = ::openat(parent, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = ::openat(parent, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

}  // namespace

void removeTemporaryFiles() {
    for (int i = 0; i < kTempSlots; ++i)
        if (g_tempState[i].load(std::memory_order_acquire) == 2) ::unlinkat(g_tempFolders[i], g_tempNames[i], 0);
}

// ---------------------------------------------------------------- safe files

SafeFileStream::SafeFileStream(const std::string& target, CommitSync sync) : m_target(target), m_sync(sync) {
    std::string dir = ".";
    std::string base = target;
    if (auto slash = target.rfind('/'); slash != std::string::npos) {
        dir = slash == 0 ? "/" : target.substr(0, slash);
        base = target.substr(slash + 1);
    }
    const int folder = openFolder(AT_FDCWD, dir.c_str());
    create(folder, folder < 0 ? errno : 0, base);
}

SafeFileStream::SafeFileStream(const FileAt& target, CommitSync sync) : m_target(target.shown), m_sync(sync) {
    const int folder =
        target.folder == AT_FDCWD ? openFolder(AT_FDCWD, ".") : ::fcntl(target.folder, F_DUPFD_CLOEXEC, 3);
    create(folder, folder < 0 ? errno : 0, target.name);
}

void SafeFileStream::create(int folder, int err, const std::string& name) {
    m_folder = folder;
    m_name = name;
    if (m_folder >= 0) {
        // The final permission bits from the start: the file being replaced
        // lends its own, a link or a missing file gives a new file's, and a
        // target that cannot be examined gives owner-only bits.
        struct stat st {};
        mode_t mode = 0666;
        bool exact = false;
        if (::fstatat(m_folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISREG(st.st_mode)) {
                mode = st.st_mode & 0777;
                exact = true;
            }
        } else if (errno != ENOENT) {
            mode = 0600;
        }
        // Bounded, so that a target name near the file system's limit still
        // has a temporary name beside it.
        const std::string stem = "." + shortName(name, 64);
        std::random_device rd;
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(rd()));
            m_temp = stem + suffix;
            // Registered before it exists, so that an interrupt at any moment
            // finds it.
            m_slot = claimTempSlot(m_folder, m_temp);
            m_fd = ::openat(m_folder, m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            err = errno;
            if (m_fd < 0) {
                releaseTempSlot(m_slot);
                m_slot = -1;
            }
            if (m_fd < 0 && err != EEXIST) break;
        }
        // The umask may have narrowed the replaced file's bits; the file is
        // still empty when it gets them back.
        struct stat made {};
        if (m_fd >= 0 && exact && ::fstat(m_fd, &made) == 0 && (made.st_mode & 0777) != mode) ::fchmod(m_fd, mode);
    }
    if (m_fd < 0) {
        if (m_folder >= 0) ::close(m_folder);
        m_folder = -1;
        throw EFCreateError(formatMessage("Cannot create file \"%s\". %s", m_target.c_str(), std::strerror(err)));
    }
}

SafeFileStream::~SafeFileStream() {
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlinkat(m_folder, m_temp.c_str(), 0);
    }
    releaseTempSlot(m_slot);
    if (m_folder >= 0) ::close(m_folder);
}

size_t SafeFileStream::read(void*, size_t) { return 0; }

void SafeFileStream::fail(int err) {
    throw EWriteError(formatMessage("Cannot write file \"%s\". %s", m_target.c_str(), std::strerror(err)));
}

size_t SafeFileStream::write(const void* buffer, size_t count) {
    errno = 0;
    const size_t n = fdWrite(m_fd, buffer, count);
    if (n != count) fail(errno != 0 ? errno : ENOSPC);
    return n;
}

int64_t SafeFileStream::seek(int64_t offset, SeekOrigin origin) { return fdSeek(m_fd, offset, origin); }

void SafeFileStream::commit() {
    if (m_fd < 0) return;
    const bool deferred = m_sync == CommitSync::Deferred;
    int err = 0;
    if (!deferred && ::fsync(m_fd) != 0) err = errno;
    if (::close(m_fd) != 0 && err == 0) err = errno;
    m_fd = -1;
    if (err == 0 && ::renameat(m_folder, m_temp.c_str(), m_folder, m_name.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlinkat(m_folder, m_temp.c_str(), 0);
        releaseTempSlot(m_slot);
        m_slot = -1;
        fail(err);
    }
    releaseTempSlot(m_slot);
    m_slot = -1;
    // Best effort: some file systems cannot sync a folder, and the new file
    // is already in place.
    if (!deferred) (void)::fsync(m_folder);
}

void syncFolder(int folder, const std::string& shown) {
    if (::syncfs(folder) != 0)
        throw EWriteError(formatMessage("Cannot write \"%s\". %s", shown.c_str(), std::strerror(errno)));
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
    int64_t base = origin == SeekOrigin::Begin     ? 0
                   : origin == SeekOrigin::Current ? static_cast<int64_t>(m_pos)
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
    TFileStream f(path, FileAccess::Read);
    std::vector<uint8_t> out;
    int64_t n = f.size();
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        out.resize(f.read(out.data(), out.size()));
    }
    return out;
}

void writeWholeFile(const std::string& path, const void* data, size_t count) {
    SafeFileStream f(path);
    f.writeBuffer(data, count);
    f.commit();
}

void writeWholeFile(const FileAt& file, const void* data, size_t count) {
    SafeFileStream f(file);
    f.writeBuffer(data, count);
    f.commit();
}

}  // namespace glx
