#include "base/line_reader.h"

#include "base/exception.h"

namespace glx {

LineReader::LineReader(const std::string& path) : m_file(path, FileAccess::Read), m_reader(m_file) {}

bool LineReader::next(std::string& line, size_t maxLength) {
    line.clear();
    if (m_reader.atEnd()) return false;
    while (!m_reader.atEnd() && line.size() < maxLength) {
        const uint8_t c = m_reader.u8();
        if (c == '\n') break;
        if (c == '\r') {
            if (!m_reader.atEnd() && m_reader.u8() != '\n') m_reader.seek(m_reader.position() - 1);
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    ++m_lineNumber;
    return true;
}

bool LineReader::nextWhole(std::string& line, size_t maxLength) {
    const size_t limit = maxLength == SIZE_MAX ? maxLength : maxLength + 1;
    if (!next(line, limit)) return false;
    if (line.size() > maxLength)
        throw EReadError(formatMessage("Cannot read file \"%s\". Line %llu is longer than %zu bytes",
                                       m_file.path().c_str(), static_cast<unsigned long long>(m_lineNumber),
                                       maxLength));
    return true;
}

void LineReader::rewind() {
    m_reader.seek(0);
    m_lineNumber = 0;
}

}  // namespace glx
