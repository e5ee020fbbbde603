// Byte streams: the abstract TStream, files and memory.
#pragma once

#include <fcntl.h>

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
// Append and Rewrite are for files the tool writes in place ("patterns.xml"):
// they never follow a symbolic link in the last component, refuse a file
// that has other names (hard links, through which the write would reach a
// file elsewhere), create a missing file, and Rewrite empties the file only
// once it is known to be a regular file of its own.
enum class FileAccess { Read, Append, Rewrite };

// A file named inside a folder opened once (its descriptor, or AT_FDCWD),
// with the path messages show for it. Files reached this way stay in that
// folder even when its path is renamed or replaced by a link meanwhile.
struct FileAt {
    int folder = AT_FDCWD;
    std::string name;  // relative to folder; one component for the safe writer
    std::string shown;
};

// Opens path as access says. Returns the descriptor, or -1 with the reason
// in words ("It is a symbolic link", "Not a regular file", "It has more
// than one link" or the system's).
int openRegularFile(const std::string& path, FileAccess access, std::string& reason);
int openRegularFile(const FileAt& file, FileAccess access, std::string& reason);

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
    // How many names (hard links) the open file has.
    uint64_t linkCount() const;

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
// Every step works relative to the target's folder, opened once, so the
// file cannot land elsewhere while it is written. The temporary file has
// its final permission bits before its first byte: those of the regular
// file it replaces (never set-user-ID, set-group-ID or sticky), or a new
// file's (0666 less the umask) when the target is missing or a link.
class SafeFileStream : public TStream {
public:
    // How commit() makes the file durable: synced before the rename, or left
    // to the caller, who syncs many new files at once (syncFolder).
    enum class CommitSync { BeforeRename, Deferred };
    explicit SafeFileStream(const std::string& target, CommitSync sync = CommitSync::BeforeRename);
    // target.name is one path component inside target.folder.
    explicit SafeFileStream(const FileAt& target, CommitSync sync = CommitSync::BeforeRename);
    ~SafeFileStream() override;
    SafeFileStream(const SafeFileStream&) = delete;
    SafeFileStream& operator=(const SafeFileStream&) = delete;

    size_t read(void* buffer, size_t count) override;
    size_t write(const void* buffer, size_t count) override;
    int64_t seek(int64_t offset, SeekOrigin origin) override;
    // Flushes to disk (unless deferred), renames the file over the target
    // and flushes the folder, so that after a power loss the target holds
    // either the old or the whole new content. EWriteError on failure.
    void commit();
    const std::string& target() const { return m_target; }

private:
    // Creates the temporary file in folder (err: why folder is -1).
    void create(int folder, int err, const std::string& name);
    [[noreturn]] void fail(int err);
    int m_folder = -1;  // the target's folder, owned
    int m_fd = -1;
    int m_slot = -1;
    std::string m_target;  // as messages show it
    std::string m_name;  // inside m_folder
    std::string m_temp;  // inside m_folder
    CommitSync m_sync = CommitSync::BeforeRename;
};

// Removes every temporary file of a SafeFileStream that is still open.
// Async-signal-safe: the interrupt handler calls it before the process ends.
void removeTemporaryFiles();

// Makes everything written so far on the file system of folder durable
// (the files' data and the folder entries); EWriteError naming the folder.
void syncFolder(const std::string& folder);
// The same for an open folder; shown names it in the error.
void syncFolder(int folder, const std::string& shown);

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
void writeWholeFile(const FileAt& file, const void* data, size_t count);

}  // namespace glx
