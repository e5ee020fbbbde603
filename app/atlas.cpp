#include "app/atlas.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/state.h"
#include "base/exception.h"
#include "platform/fs.h"

namespace glx::app {

namespace {

[[noreturn]] void ioError(const char* what, const std::string& path, int err) {
    throw EInOutError(formatMessage("Cannot %s \"%s\". %s", what, path.c_str(), std::strerror(err)));
}

// Writes text to the end of the file (or a new file) and closes it,
// checking every step.
void appendText(const std::string& path, const char* mode, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (!file) ioError("open", path, errno);
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    int err = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) ioError("write", path, err);
}

}  // namespace

void setAtlasPath() {
    xmlPath = platform::directoryExists(picPath) ? picPath + "/patterns.xml" : "patterns.xml";
}

std::string patternName(const std::string& namesPath, unsigned index) {
    std::FILE* file = std::fopen(namesPath.c_str(), "rb");
    if (!file) ioError("read", namesPath, errno);
    std::string line;
    unsigned current = 0;
    bool found = false;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        if (c == '\n') {
            if (current == index) {
                found = true;
                break;
            }
            ++current;
            line.clear();
            continue;
        }
        line.push_back(static_cast<char>(c));
    }
    bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) ioError("read", namesPath, EIO);
    if (!found && current != index) return "";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

void writePattern(const TRect& rect) {
    phase = 2200;
    if (!platform::fileExists(xmlPath)) {
        phase = 2201;
        appendText(xmlPath, "wb", "<?xml version=\"1.0\"?>\r\n<patterns>\r\n");
    }
    phase = 2202;
    std::string line;
    if (rect.Left == rect.Right && rect.Top == rect.Bottom) {
        line = "</patterns>";
    } else {
        phase = 2203;
        const std::string namesPath = xmlPath + ".txt";
        std::string name = platform::fileExists(namesPath) ? patternName(namesPath, patternCount)
                                                            : std::to_string(patternCount);
        line = "<pattern name=\"" + name + "\" x=\"" + std::to_string(rect.Left) + "\" y=\"" +
               std::to_string(rect.Top) + "\" width=\"" + std::to_string(rect.Right - rect.Left) +
               "\" height=\"" + std::to_string(rect.Bottom - rect.Top) + "\" pivot.x=\"0\" pivot.y=\"0\"/>";
    }
    phase = 2209;
    appendText(xmlPath, "ab", line + "\r\n");
    ++patternCount;
}

}  // namespace glx::app
