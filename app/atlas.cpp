#include "app/atlas.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "app/prompts.h"
#include "app/run.h"
#include "base/exception.h"
#include "base/line_reader.h"
#include "base/stream.h"
#include "platform/fs.h"

namespace glx::app {

namespace {

[[noreturn]] void ioError(const char* what, const std::string& path, const std::string& reason) {
    throw EInOutError(formatMessage("Cannot %s \"%s\". %s", what, path.c_str(), reason.c_str()));
}

// Writes text to the end of the file (created when missing) and closes it,
// checking every step. The file is written in place, so it is never
// reached through a symbolic link and must be a regular file.
void appendText(const std::string& path, FileAccess access, const std::string& text) {
    std::string reason;
    const int fd = openRegularFile(path, access, reason);
    if (fd < 0) ioError("open", path, reason);
    size_t done = 0;
    int err = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) ioError("write", path, std::strerror(err));
}

}  // namespace

void setAtlasPath(Run& run) {
    run.xmlPath = platform::getCurrentDir() + "/patterns.xml";
    if (run.xmlPath.compare(0, 2, "//") == 0) run.xmlPath.erase(0, 1);
    run.namesPath = run.xmlPath + ".txt";
    if (!run.options.patternsPath.empty()) run.xmlPath = run.options.patternsPath;
    run.names = NamesFile{};
}

std::string patternName(NamesFile& names, const std::string& namesPath, unsigned index) {
    if (names.reader && names.path == namesPath && index + 1 == names.next) return names.last;
    if (!names.reader || names.path != namesPath || index < names.next) {
        try {
            names = NamesFile{namesPath, std::make_unique<LineReader>(namesPath), 0, false, {}};
            requireInsideFolder(*names.reader);
        } catch (const EStreamError& e) {
            names = NamesFile{};
            throw EInOutError(e.message());  // the text file layer's error
        }
    }
    std::string line;
    while (!names.ended && names.next <= index) {
        if (!names.reader->next(line)) {
            names.ended = true;
            break;
        }
        ++names.next;
        names.last = line;
    }
    return names.ended && names.next <= index ? std::string() : line;
}

void writePattern(Run& run, const TRect& rect) {
    run.phase = 2200;
    if (run.options.patternsNone) {
        ++run.patternCount;
        return;
    }
    const char* const eol = run.options.newlineLf ? "\n" : "\r\n";
    if (!platform::fileExists(run.xmlPath)) {
        run.phase = 2201;
        appendText(run.xmlPath, FileAccess::Rewrite, std::string("<?xml version=\"1.0\"?>") + eol + "<patterns>" + eol);
    }
    run.phase = 2202;
    std::string line;
    if (rect.Left == rect.Right && rect.Top == rect.Bottom) {
        line = "</patterns>";
    } else {
        run.phase = 2203;
        const std::string& namesPath = run.namesPath;
        std::string name = run.options.namesGiven            ? run.placedName
                           : platform::fileExists(namesPath) ? patternName(run.names, namesPath, run.patternCount)
                                                             : std::to_string(run.patternCount);
        line = "<pattern name=\"" + name + "\" x=\"" + std::to_string(rect.Left) + "\" y=\"" +
               std::to_string(rect.Top) + "\" width=\"" + std::to_string(rect.Right - rect.Left) + "\" height=\"" +
               std::to_string(rect.Bottom - rect.Top) + "\" pivot.x=\"0\" pivot.y=\"0\"/>";
    }
    run.phase = 2209;
    appendText(run.xmlPath, FileAccess::Append, line + eol);
    ++run.patternCount;
}

}  // namespace glx::app
