// GIF frame export: every frame as an RGBA PNG in a folder named after the
// GIF, with "delays.txt" listing each frame's delay.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/alpha.h"
#include "app/form.h"
#include "app/modes.h"
#include "app/prompts.h"
#include "app/run.h"
#include "base/exception.h"
#include "base/line_reader.h"
#include "base/stream.h"
#include "base/string_list.h"
#include "base/strutil.h"
#include "gif/gdip_gif.h"
#include "gif/gif_extensions.h"
#include "gif/gif_image.h"
#include "platform/fs.h"
#include "platform/ui.h"
#include "png/png_object.h"

namespace glx::app {

namespace {

constexpr TColor kKeyColor = 0xFE13FE;
constexpr TColor kAltKeyColor = 0x13FEDF;

// The edge filter from "gif_filter.txt": the low byte of its first line
// read as an integer; 0 when the file is missing, empty or not a number.
// Like every settings file beside the picture it is read only as a regular
// file inside the GIF's folder, and only up to its first line end.
uint8_t readEdgeFilter(const std::string& path) {
    if (!platform::fileExists(path)) return 0;
    LineReader reader(path);
    requireInsideFolder(reader);
    std::string line;
    const int32_t value = reader.next(line, kMaxSettingLine) ? strToIntDef(line, 0) : 0;
    return static_cast<uint8_t>(value & 0xFF);
}

// "delays.txt", written line by line while the frames are written; every
// write is checked. It is written in place, so never through a link and
// only as a regular file.
class DelayFile {
public:
    explicit DelayFile(const std::string& path) : m_path(path) {
        std::string reason;
        m_fd = openRegularFile(path, FileAccess::Rewrite, reason);
        if (m_fd < 0) throw EInOutError(formatMessage("Cannot write \"%s\". %s", m_path.c_str(), reason.c_str()));
    }
    ~DelayFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    DelayFile(const DelayFile&) = delete;
    DelayFile& operator=(const DelayFile&) = delete;
    void writeLine(int value) {
        const std::string line = std::to_string(value) + "\r\n";
        size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) fail(n < 0 ? errno : ENOSPC);
            done += static_cast<size_t>(n);
        }
    }
    void close() {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) fail(errno);
    }

private:
    [[noreturn]] void fail(int err) const {
        throw EInOutError(formatMessage("Cannot write \"%s\". %s", m_path.c_str(), std::strerror(err)));
    }
    std::string m_path;
    int m_fd = -1;
};

// The folder the frames go to: the GIF's path less ".gif", made absolute.
// It must be a folder of its own: a name that would be "." or ".." (from
// "...gif" or "..gif") or empty would put the frames into the GIF's own
// folder or its parent, and a symbolic link planted under that name would
// send them elsewhere.
std::string exportFolder(const std::string& gifPath) {
    const std::string folder = gifPath.substr(0, gifPath.size() - 4);
    const std::string name = extractFileName(folder);
    if (name.empty() || name == "." || name == "..")
        throw EInOutError(formatMessage("Cannot export into \"%s\". It is not a folder of the GIF's own",
                                        folder.c_str()));
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        throw EInOutError(formatMessage("Cannot export into \"%s\". It is a symbolic link", folder.c_str()));
    return platform::absolutePath(folder);
}

// The canvas: the logical screen, checked when a frame needs it (a GIF
// without frames exports nothing, whatever size it declares).
std::unique_ptr<TPNGObject> newCanvas(int32_t width, int32_t height) {
    if (width < 1 || height < 1) throw EInvalidGraphic(formatMessage("Invalid picture size %d x %d", width, height));
    return TPNGObject::CreateNew(6, 8, width, height);
}

// A frame file goes through a temporary name like every picture the tool
// writes; the export makes all of them durable at once at its end.
void saveFrame(const TPNGObject& canvas, const std::string& path) {
    SafeFileStream file(path, SafeFileStream::CommitSync::Deferred);
    canvas.WriteTo(file);
    file.commit();
}

}  // namespace

int runGifExport(Tf& form) {
    Run& run = form.run;
    // The preview control gives the frame count, the size and the delays.
    // Like the form's own it is invisible, so it never decodes a frame.
    auto control = std::make_unique<TGdipGIF>();
    control->AutoSize = true;
    control->Visible = false;
    control->LoadFile(run.picPath);

    run.phase = 2;
    auto image = std::make_unique<TGIFImage>();
    image->LoadFile(run.picPath);

    // The output folder lies beside the GIF, relative to the current folder
    // when the GIF was named relatively.
    run.picPath = exportFolder(run.picPath);
    platform::forceDirectories(run.picPath);

    run.phase = 3;
    int count = 0;
    const uint8_t filter = readEdgeFilter(run.picPath + "/../gif_filter.txt");
    DelayFile delays(run.picPath + "/delays.txt");

    run.phase = 9;
    run.pngFragment.reset();
    const TColor key = run.picPath.find("!alt") != std::string::npos ? kAltKeyColor : kKeyColor;
    bool fresh = true;

    const int frames = control->FrameCount();
    for (int i = 0; i < frames; ++i) {
        run.phase = static_cast<uint16_t>((i + 1) * 100);
        if (fresh) {
            run.pngCanvas.reset();  // one canvas at a time
            run.pngCanvas = newCanvas(control->GifWidth(), control->GifHeight());
        }
        int delay = control->Delays()[static_cast<size_t>(i)];
        delays.writeLine(delay == 0 ? 1 : delay);
        ++run.phase;
        const TRect rect = makeRect(0, 0, run.pngCanvas->Width(), run.pngCanvas->Height());
        if (fresh) {
            setAlpha(run.phase, run.pngCanvas, rect, 255);
            fillColor(run.phase, run.pngCanvas, rect, key);
        }
        TGIFSubImage& frame = image->Frames()[i];
        frame.PaintTo(run.pngCanvas->Canvas(), rect, frame.HasTransparency(), false);
        frame.ReleaseBitmaps();
        if (fresh) {
            keyToAlpha(run.phase, run.pngCanvas, rect, key, filter);
        } else {
            // A reused canvas is keyed afresh too, so every frame is the
            // composed picture with only the key colour transparent (pixels
            // a frame paints over an earlier transparent area show). The
            // steps after it keep this path's own run.phase codes.
            const uint16_t drawn = run.phase;
            setAlpha(run.phase, run.pngCanvas, rect, 255);
            keyToAlpha(run.phase, run.pngCanvas, rect, key, filter);
            run.phase = drawn;
        }
        ++run.phase;
        saveFrame(*run.pngCanvas, run.picPath + "/" + std::to_string(i) + ".png");
        ++run.phase;
        const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
        fresh = gce && gce->DisposalMethod() == 2;
        ++count;
        platform::ui().progress(count, frames, std::to_string(i) + ".png");
    }

    delays.close();
    // The frame files are all new: one sync of the folder's file system
    // makes them (and "delays.txt") durable, instead of one per frame.
    syncFolder(run.picPath);
    control.reset();
    image.reset();
    run.pngCanvas.reset();
    if (!run.silent) showMsg(run, std::to_string(count) + " Pictures extracted from gif!", kMbInformation);
    return finish(run);
}

}  // namespace glx::app
