#include "base/line_reader.h"

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
    return true;
}

}  // namespace glx
