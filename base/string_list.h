// A list of text lines, as the settings, paste script, help text and folder
// listing use it.
#pragma once

#include <string>
#include <vector>

namespace glx {

class TStream;

class TStringList {
public:
    int count() const { return static_cast<int>(m_items.size()); }
    // Index errors raise EListError "List index out of bounds (%d)".
    const std::string& operator[](int index) const;
    std::string& operator[](int index);
    void add(std::string line) { m_items.push_back(std::move(line)); }
    void insert(int index, std::string line);
    void remove(int index);
    void clear() { m_items.clear(); }
    const std::vector<std::string>& items() const { return m_items; }

    // Splits text into lines at CR LF, LF or CR; a last line without a break
    // counts, an empty text gives no lines.
    void setText(const std::string& text);
    // Every line followed by CR LF.
    std::string text() const;
    void loadFromFile(const std::string& path);
    // Written safely: the old file is replaced only by a complete new one.
    void saveToFile(const std::string& path) const;
    void loadFromStream(TStream& stream);

private:
    std::vector<std::string> m_items;
};

}  // namespace glx
