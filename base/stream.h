// Byte streams: the abstract TStream, files and memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace glx {

enum class SeekOrigin { Begin, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual size_t read(void* buffer, size_t count) = 0;
    // Writes count bytes; returns how many were written.
    virtual size_t write(const void* buffer, size_t count) = 0;
    virtual int64_t seek(int64_t offset, SeekOrigin origin) = 0;
    int64_t position() { return seek(0, SeekOrigin::Current); }
    void setPosition(int64_t pos) { seek(pos, SeekOrigin::Begin); }
    virtual int64_t size();
    int64_t remaining() { return size() - position(); }

    // Exactly count bytes or EReadError "Stream read error".
    void readBuffer(void* buffer, size_t count);
    // Exactly count bytes or EWriteError "Stream write error".
    void writeBuffer(const void* buffer, size_t count);
    // Copies count bytes from source (all of it from its start when count is 0).
    int64_t copyFrom(TStream& source, int64_t count);
};

// How a file beside the picture is opened. Every mode opens without
// blocking (a FIFO never hangs the run) and accepts only a regular file.
// Append and Rewrite are for files the tool writes in place ("patterns.xml",
// "delays.txt"): they never follow a symbolic link in the last component,
// create a missing file, and Rewrite empties the file only once it is known
// to be a regular file.
enum class FileAccess { Read, Append, Rewrite };

// Opens path as access says. Returns the descriptor, or -1 with the reason
// in words ("It is a symbolic link", "Not a regular file" or the system's).
int openRegularFile(const std::string& path, FileAccess access, std::string& reason);

// The path a descriptor really leads to, links resolved ("" when unknown).
std::string resolvedPathOf(int fd);

// A file opened for reading, appending or rewriting (see FileAccess).
class TFileStream : public TStream {
public:
    // EFOpenError "Cannot open file ..." naming the file and the reason.
    TFileStream(const std::string& path, FileAccess access);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    size_t read(void* buffer, size_t count) override;
    size_t write(const void* buffer, size_t count) override;
    int64_t seek(int64_t offset, SeekOrigin origin) override;
    const std::string& path() const { return m_path; }
    // Where the open file really is (links resolved).
    std::string resolvedPath() const { return resolvedPathOf(m_fd); }

protected:
    int m_fd = -1;
    std::string m_path;
};

// Writes to a temporary file beside the target and renames it over the
// target on commit(), so the target is either replaced whole or left as it
// was. Destroyed without commit(), it removes the temporary file, and so
// does an interrupting signal (removeTemporaryFiles). The temporary name
// stays short whatever the target's name, and a write that fails (a full
// disk) raises EWriteError naming the target and the system's reason.
class SafeFileStream : public TStream {
public:
    // How commit() makes the file durable: synced before the rename, or left
    // to the caller, who syncs many new files at once (syncFolder).
    enum class CommitSync { BeforeRename, Deferred };
    explicit SafeFileStream(const std::string& target, CommitSync sync = CommitSync::BeforeRename);
    ~SafeFileStream() override;
    SafeFileStream(const SafeFileStream&) = delete;
    SafeFileStream& operator=(const SafeFileStream&) = delete;

    size_t read(void* buffer, size_t count) override;
    size_t write(const void* buffer, size_t count) override;
    int64_t seek(int64_t offset, SeekOrigin origin) override;
    // Flushes to disk (unless deferred), gives the file the permission bits
    // of a file it replaces (never set-user-ID, set-group-ID or sticky),
    // renames it over the target and flushes the folder, so that after a
    // power loss the target holds either the old or the whole new content.
    // EWriteError on failure.
    void commit();
    const std::string& target() const { return m_target; }
    const std::string& temporaryPath() const { return m_temp; }

private:
    [[noreturn]] void fail(int err);
    int m_fd = -1;
    int m_slot = -1;
    std::string m_target;
    std::string m_temp;
    CommitSync m_sync = CommitSync::BeforeRename;
};

// Removes every temporary file of a SafeFileStream that is still open.
// Async-signal-safe: the interrupt handler calls it before the process ends.
void removeTemporaryFiles();

// Makes everything written so far on the file system of folder durable
// (the files' data and the folder entries); EWriteError naming the folder.
void syncFolder(const std::string& folder);

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : m_data(std::move(bytes)) {}
    TMemoryStream(const void* data, size_t count);

    size_t read(void* buffer, size_t count) override;
    size_t write(const void* buffer, size_t count) override;
    int64_t seek(int64_t offset, SeekOrigin origin) override;
    int64_t size() override { return static_cast<int64_t>(m_data.size()); }

    void clear() {
        m_data.clear();
        m_pos = 0;
    }
    void loadFromFile(const std::string& path);
    void saveToFile(const std::string& path);  // through SafeFileStream
    void loadFromStream(TStream& source);  // whole source from its start
    const std::vector<uint8_t>& bytes() const { return m_data; }
    std::vector<uint8_t>& bytes() { return m_data; }

private:
    std::vector<uint8_t> m_data;
    size_t m_pos = 0;
};

// Reads a whole file into memory; EFOpenError when it cannot be opened.
std::vector<uint8_t> readWholeFile(const std::string& path);
// Writes a whole file safely (temporary file, then rename).
void writeWholeFile(const std::string& path, const void* data, size_t count);

}  // namespace glx
