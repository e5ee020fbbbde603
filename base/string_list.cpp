#include "base/string_list.h"

#include "base/exception.h"
#include "base/line_reader.h"
#include "base/stream.h"

namespace glx {

static EListError indexError(int index) { return EListError(formatMessage("List index out of bounds (%d)", index)); }

const std::string& TStringList::operator[](int index) const {
    if (index < 0 || index >= count()) throw indexError(index);
    return m_items[static_cast<size_t>(index)];
}

std::string& TStringList::operator[](int index) {
    if (index < 0 || index >= count()) throw indexError(index);
    return m_items[static_cast<size_t>(index)];
}

void TStringList::insert(int index, std::string line) {
    if (index < 0 || index > count()) throw indexError(index);
    m_items.insert(m_items.begin() + index, std::move(line));
}

void TStringList::remove(int index) {
    if (index < 0 || index >= count()) throw indexError(index);
    m_items.erase(m_items.begin() + index);
}

void TStringList::setText(const std::string& text) {
    m_items.clear();
    size_t start = 0;
    const size_t n = text.size();
    while (start < n) {
        size_t i = text.find_first_of("\r\n", start);
        if (i == std::string::npos) i = n;
        m_items.emplace_back(text, start, i - start);
        if (i < n) i += (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2u : 1u;
        start = i;
    }
}

std::string TStringList::text() const {
    std::string out;
    for (const auto& line : m_items) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void TStringList::loadFromFile(const std::string& path) {
    LineReader reader(path);
    m_items.clear();
    std::string line;
    while (reader.next(line)) m_items.push_back(line);
}

void TStringList::saveToFile(const std::string& path) const {
    std::string t = text();
    writeWholeFile(path, t.data(), t.size());
}

void TStringList::loadFromStream(TStream& stream) {
    std::string t(static_cast<size_t>(stream.remaining()), '\0');
    if (!t.empty()) stream.readBuffer(t.data(), t.size());
    setText(t);
}

}  // namespace glx
