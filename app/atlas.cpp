#include "app/atlas.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "app/prompts.h"
#include "app/run.h"
#include "base/exception.h"
#include "base/line_reader.h"
#include "base/stream.h"
#include "base/strutil.h"
#include "platform/fs.h"

namespace glx::app {

namespace {

constexpr const char* kAtlasName = "patterns.xml";

// The atlas inside the listed folder, reached through the folder's
// descriptor so that it stays there whatever happens to the folder's path;
// or where --patterns puts it, by that path.
FileAt atlasFile(const Run& run) {
    if (!run.options.patternsPath.empty()) return FileAt{AT_FDCWD, run.xmlPath, run.xmlPath};
    return FileAt{run.folder.fd(), kAtlasName, run.xmlPath};
}

std::string atlasHeader(const Run& run) {
    const char* const eol = run.options.newlineLf ? "\n" : "\r\n";
    return std::string("<?xml version=\"1.0\"?>") + eol + "<patterns>" + eol;
}

[[noreturn]] void ioError(const char* what, const std::string& path, const std::string& reason) {
    throw EInOutError(formatMessage("Cannot %s \"%s\". %s", what, path.c_str(), reason.c_str()));
}

// Writes all of text; 0 or the reason it could not.
int writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Whether the block could be appended at the end of the run: an existing
// file must open for appending, a missing one must be creatable. Nothing
// is created here.
void checkWritable(Run& run) {
    const std::string& path = run.xmlPath;
    const FileAt file = atlasFile(run);
    struct stat st {};
    if (::fstatat(file.folder, file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
        run.phase = 2201;
        const std::string folder = file.folder == AT_FDCWD ? extractFilePath(file.name) : std::string();
        if (::faccessat(file.folder, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, 0) != 0)
            ioError("open", path, std::strerror(errno));
        return;
    }
    run.phase = 2202;
    std::string reason;
    const int fd = openRegularFile(file, FileAccess::Append, reason);
    if (fd < 0) ioError("open", path, reason);
    ::close(fd);
}

}  // namespace

void setAtlasPath(Run& run) {
    const std::string cwd = platform::getCurrentDir();
    run.xmlPath = (cwd.empty() ? std::string(".") : cwd) + "/" + kAtlasName;
    if (run.xmlPath.compare(0, 2, "//") == 0) run.xmlPath.erase(0, 1);
    run.namesPath = run.xmlPath + ".txt";
    if (!run.options.patternsPath.empty()) run.xmlPath = run.options.patternsPath;
    run.names = NamesFile{};
    run.atlasBlock.clear();
}

std::string patternName(NamesFile& names, const std::string& namesPath, unsigned index, size_t maxLine) {
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
    try {
        while (!names.ended && names.next <= index) {
            if (!names.reader->nextWhole(line, maxLine)) {
                names.ended = true;
                break;
            }
            ++names.next;
            names.last = line;
        }
    } catch (const EStreamError& e) {
        names = NamesFile{};
        throw EInOutError(e.message());
    }
    return names.ended && names.next <= index ? std::string() : line;
}

std::string xmlAttribute(const std::string& name, const std::string& namesPath, unsigned index) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20)
                    throw EInOutError(formatMessage("Cannot read file \"%s\". Line %u holds a control character",
                                                    namesPath.c_str(), index + 1));
                out += c;
        }
    }
    return out;
}

void writePattern(Run& run, const TRect& rect) {
    run.phase = 2200;
    if (run.options.patternsNone) {
        ++run.patternCount;
        return;
    }
    const char* const eol = run.options.newlineLf ? "\n" : "\r\n";
    if (run.patternCount == 0) checkWritable(run);
    run.phase = 2202;
    if (rect.Left == rect.Right && rect.Top == rect.Bottom) {
        run.atlasBlock += std::string("</patterns>") + eol;
    } else {
        run.phase = 2203;
        const std::string& namesPath = run.namesPath;
        const std::string name =
            run.options.namesGiven ? xmlAttribute(run.placedName, namesPath, run.patternCount)
            : platform::fileExists(namesPath)
                ? xmlAttribute(patternName(run.names, namesPath, run.patternCount, run.read.limits.lineLength),
                               namesPath, run.patternCount)
                : std::to_string(run.patternCount);
        run.atlasBlock += "<pattern name=\"" + name + "\" x=\"" + std::to_string(rect.Left) + "\" y=\"" +
                          std::to_string(rect.Top) + "\" width=\"" + std::to_string(rect.Right - rect.Left) +
                          "\" height=\"" + std::to_string(rect.Bottom - rect.Top) + "\" pivot.x=\"0\" pivot.y=\"0\"/>" +
                          eol;
    }
    run.phase = 2209;
    ++run.patternCount;
}

void commitAtlas(Run& run) {
    run.phase = 2209;
    if (run.options.patternsNone) return;
    appendAtlasBlock(atlasFile(run), run.atlasBlock, atlasHeader(run));
    run.atlasBlock.clear();
}

void appendAtlasBlock(const FileAt& file, const std::string& text, const std::string& header) {
    const std::string& path = file.shown;
    std::string reason;
    const int fd = openRegularFile(file, FileAccess::Append, reason);
    if (fd < 0) ioError("open", path, reason);
    int err = 0;
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) {
            err = errno;
            break;
        }
    struct stat st {};
    if (err == 0 && ::fstat(fd, &st) != 0) err = errno;
    if (err == 0) {
        err = writeAll(fd, st.st_size == 0 ? header + text : text);
        // Still under the lock: what was written of the block goes again.
        if (err != 0 && ::ftruncate(fd, st.st_size) != 0) {
            // The write's own error is the one to report.
        }
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) ioError("write", path, std::strerror(err));
}

}  // namespace glx::app
