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

// A file opened for reading (other writers denied as far as Linux allows:
// the file is only read) or created/truncated for writing.
class TFileStream : public TStream {
public:
    enum Mode { OpenRead, Create, OpenReadWrite };
    TFileStream(const std::string& path, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    size_t read(void* buffer, size_t count) override;
    size_t write(const void* buffer, size_t count) override;
    int64_t seek(int64_t offset, SeekOrigin origin) override;
    const std::string& path() const { return m_path; }

protected:
    int m_fd = -1;
    std::string m_path;
};

// Writes to a temporary file beside the target and renames it over the
// target on commit(), so the target is either replaced whole or left as it
// was. Destroyed without commit(), it removes the temporary file.
class TSafeFileStream : public TStream {
public:
    // How commit() makes the file durable: synced before the rename, or left
    // to the caller, who syncs many new files at once (syncFolder).
    enum class CommitSync { BeforeRename, Deferred };
    explicit TSafeFileStream(const std::string& target, CommitSync sync = CommitSync::BeforeRename);
    ~TSafeFileStream() override;
    TSafeFileStream(const TSafeFileStream&) = delete;
    TSafeFileStream& operator=(const TSafeFileStream&) = delete;

    size_t read(void* buffer, size_t count) override;
    size_t write(const void* buffer, size_t count) override;
    int64_t seek(int64_t offset, SeekOrigin origin) override;
    // Flushes to disk and renames over the target; raises EWriteError on failure.
    void commit();
    const std::string& target() const { return m_target; }

private:
    int m_fd = -1;
    std::string m_target;
    std::string m_temp;
    bool m_failed = false;
    CommitSync m_sync = CommitSync::BeforeRename;
};

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

    void clear() { m_data.clear(); m_pos = 0; }
    void loadFromFile(const std::string& path);
    void saveToFile(const std::string& path);  // through TSafeFileStream
    void loadFromStream(TStream& source);      // whole source from its start
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
