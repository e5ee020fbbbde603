// Reading a text file line by line: without blocking, only from a regular
// file, and only as far as the caller asks, so a settings file padded to
// gigabytes costs no more than its first line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/stream.h"
#include "base/stream_reader.h"

namespace glx {

class LineReader {
public:
    // EFOpenError naming the file when it cannot be opened or is not a
    // regular file.
    explicit LineReader(const std::string& path);
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line without its end (CR LF, LF or a lone CR end a line; a
    // last line without an end counts); false at the end of the file. A
    // line longer than maxLength comes back in pieces of maxLength bytes,
    // so a caller that needs only the start of a line reads no further.
    bool next(std::string& line, size_t maxLength = SIZE_MAX);
    // The next line whole, as next() gives it; a line longer than maxLength
    // raises EReadError naming the file and the line, after reading no
    // more than maxLength + 1 of its bytes.
    bool nextWhole(std::string& line, size_t maxLength);
    // Back to the first line.
    void rewind();

    // Where the open file really is, links resolved.
    std::string resolvedPath() const { return m_file.resolvedPath(); }
    // How many names (hard links) the file has.
    uint64_t linkCount() const { return m_file.linkCount(); }
    const std::string& path() const { return m_file.path(); }

private:
    TFileStream m_file;
    StreamReader m_reader;
    uint64_t m_lineNumber = 0;  // of the line given last, from 1
};

}  // namespace glx
