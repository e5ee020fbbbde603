// GIF frame export: every frame as an RGBA PNG in a folder named after the
// GIF, with "delays.txt" listing each frame's delay.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>

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
#include "png/deflate_pool.h"
#include "png/png_format.h"
#include "png/png_object.h"
#include "png/png_write_queue.h"

namespace glx::app {

namespace {

constexpr TColor kKeyColor = 0xFE13FE;
constexpr TColor kAltKeyColor = 0x13FEDF;

// The edge filter from "gif_filter.txt": the low byte of its first line
// read as an integer; 0 when the file is missing, empty or not a number.
// Like every settings file beside the picture it is read only as a regular
// file inside the GIF's folder, and only up to its first line end.
uint8_t readEdgeFilter(const std::string& path, size_t maxLength) {
    if (!platform::fileExists(path)) return 0;
    LineReader reader(path);
    requireInsideFolder(reader);
    std::string line;
    const int32_t value = reader.next(line, maxLength) ? strToIntDef(line, 0) : 0;
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
        m_size += static_cast<off_t>(line.size());
    }
    off_t size() const { return m_size; }
    // Takes back the lines written after the first size bytes.
    void truncate(off_t size) {
        if (size < m_size && ::ftruncate(m_fd, size) == 0 && ::lseek(m_fd, size, SEEK_SET) == size) m_size = size;
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
    off_t m_size = 0;
};

// The frame files of an export. Each frame is encoded and written on the
// writer's pool while later frames are drawn, and the files take their
// names in frame order. What a failure leaves is what writing frame after
// frame leaves: the frames before it, "delays.txt" up to its line, and the
// phase of the step that failed; the frames drawn after it are dropped.
class FrameFiles {
public:
    FrameFiles(Run& run, DelayFile& delays, int frames) : m_run(run), m_delays(delays), m_frames(frames) {}

    int written() const { return m_written; }

    // Saves the canvas as frame i (the run's phase is the save step's).
    void save(const TPNGObject& canvas, int i) {
        const std::string path = m_run.picPath + "/" + std::to_string(i) + ".png";
        if (availableCores() < 2 || 2 * pictureBytes(canvas) > kMaxPendingBytes) {
            // One core, or a canvas too large to copy: in place, in order.
            commitAll();
            SafeFileStream file(path, SafeFileStream::CommitSync::Deferred);
            canvas.WriteTo(file);
            file.commit();
            done(i);
            return;
        }
        auto copy = std::make_unique<TPNGObject>();
        copy->CopyFrom(&canvas);
        m_queue.submit(std::move(copy), path);
        m_pending.push_back(Pending{i, m_run.phase, m_delays.size()});
        while (m_queue.pending() > 2 * availableCores() || m_queue.pendingBytes() > kMaxPendingBytes) commitOldest();
    }

    // Every frame saved so far gets its file.
    void commitAll() {
        while (!m_pending.empty()) commitOldest();
    }

    // A step of a later frame failed: the frames before it are written
    // first; one of them failing is the failure to report.
    [[noreturn]] void failedAfter(std::exception_ptr error) {
        const uint16_t phase = m_run.phase;
        commitAll();
        m_run.phase = phase;
        std::rethrow_exception(error);
    }

private:
    // Pictures waiting to be written may hold this much pixel memory.
    static constexpr uint64_t kMaxPendingBytes = uint64_t(64) << 20;

    struct Pending {
        int index;
        uint16_t savePhase;
        off_t delaysSize;  // "delays.txt" up to the frame's own line
    };

    void commitOldest() {
        const Pending p = m_pending.front();
        try {
            m_queue.commitOldest();
        } catch (...) {
            m_pending.clear();
            m_queue.abandon();
            m_run.phase = p.savePhase;
            m_delays.truncate(p.delaysSize);
            throw;
        }
        m_pending.pop_front();
        done(p.index);
    }

    void done(int i) {
        ++m_written;
        platform::ui().progress(m_written, m_frames, std::to_string(i) + ".png");
    }

    Run& m_run;
    DelayFile& m_delays;
    int m_frames;
    int m_written = 0;
    PngWriteQueue m_queue;
    std::deque<Pending> m_pending;
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
        throw EInOutError(
            formatMessage("Cannot export into \"%s\". It is not a folder of the GIF's own", folder.c_str()));
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        throw EInOutError(formatMessage("Cannot export into \"%s\". It is a symbolic link", folder.c_str()));
    return platform::absolutePath(folder);
}

// The canvas: the logical screen, checked when a frame needs it (a GIF
// without frames exports nothing, whatever size it declares).
std::unique_ptr<TPNGObject> newCanvas(int32_t width, int32_t height) {
    if (width < 1 || height < 1) throw EInvalidGraphic(formatMessage("Invalid picture size %d x %d", width, height));
    return TPNGObject::CreateNew(kColorRgba, kDepth8, width, height);
}

}  // namespace

int runGifExport(Tf& form) {
    Run& run = form.run;
    // The preview control gives the frame count, the size and the delays.
    // Like the form's own it is invisible, so it never decodes a frame.
    auto control = std::make_unique<TGdipGIF>();
    control->AutoSize = true;
    control->Visible = false;
    control->Options = run.read;
    control->LoadFile(run.picPath);

    run.phase = 2;
    auto image = std::make_unique<TGIFImage>();
    image->SetOptions(run.read);
    image->LoadFile(run.picPath);

    // The output folder lies beside the GIF, relative to the current folder
    // when the GIF was named relatively.
    run.picPath = exportFolder(run.picPath);
    platform::forceDirectories(run.picPath);

    run.phase = 3;
    const uint8_t filter = readEdgeFilter(run.picPath + "/../gif_filter.txt", run.read.limits.lineLength);
    DelayFile delays(run.picPath + "/delays.txt");

    run.phase = 9;
    run.pngFragment.reset();
    const TColor key = run.picPath.find("!alt") != std::string::npos ? kAltKeyColor : kKeyColor;
    bool fresh = true;

    const int frames = control->FrameCount();
    // Frame files go through a temporary name like every picture the tool
    // writes; the export makes all of them durable at once at its end.
    FrameFiles files(run, delays, frames);
    for (int i = 0; i < frames; ++i) {
        try {
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
                // steps after it keep this path's own phase codes.
                const uint16_t drawn = run.phase;
                setAlpha(run.phase, run.pngCanvas, rect, 255);
                keyToAlpha(run.phase, run.pngCanvas, rect, key, filter);
                run.phase = drawn;
            }
            ++run.phase;
            files.save(*run.pngCanvas, i);
            ++run.phase;
            const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
            fresh = gce && gce->DisposalMethod() == 2;
        } catch (...) {
            files.failedAfter(std::current_exception());
        }
    }
    files.commitAll();
    const int count = files.written();

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
