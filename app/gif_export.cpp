// GIF frame export: every frame as an RGBA PNG in a folder named after the
// GIF, with "delays.txt" listing each frame's delay.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <future>
#include <vector>

#include "app/alpha.h"
#include "app/form.h"
#include "app/gif_outputs.h"
#include "app/modes.h"
#include "app/prompts.h"
#include "app/report.h"
#include "app/run.h"
#include "base/exception.h"
#include "base/line_reader.h"
#include "base/stream.h"
#include "base/string_list.h"
#include "base/strutil.h"
#include "gif/browser_compose.h"
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

// "delays.txt": the frames' delays, one line each, collected while the
// frames are written and written through a temporary file once they all
// are, so a failed or interrupted export leaves the earlier list whole.
class DelayFile {
public:
    explicit DelayFile(FileAt file) : m_file(std::move(file)) {
        // A name planted in the folder is refused before any frame, as for
        // every file the tool writes there.
        struct stat st {};
        if (::fstatat(m_file.folder, m_file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
        if (S_ISLNK(st.st_mode)) fail("It is a symbolic link");
        if (!S_ISREG(st.st_mode)) fail("Not a regular file");
    }
    void writeLine(int value, bool lf) { m_text += std::to_string(value) + (lf ? "\n" : "\r\n"); }
    // Starts the file; it takes its name in commit().
    void write() {
        m_stream = std::make_unique<SafeFileStream>(m_file, SafeFileStream::CommitSync::Deferred);
        m_stream->writeBuffer(m_text.data(), m_text.size());
    }
    void commit() { m_stream->commit(); }

private:
    [[noreturn]] void fail(const char* reason) const {
        throw EInOutError(formatMessage("Cannot write \"%s\". %s", m_file.shown.c_str(), reason));
    }
    FileAt m_file;
    std::string m_text;
    std::unique_ptr<SafeFileStream> m_stream;
};

// The frame files of an export. Each frame is encoded and written on the
// writer's pool while later frames are drawn, and the files take their
// names in frame order. What a failure leaves is what writing frame after
// frame leaves: the frames before it and the phase of the step that
// failed; the frames drawn after it are dropped.
class FrameFiles {
public:
    FrameFiles(Run& run, int frames) : m_run(run), m_frames(frames) {}

    int written() const { return m_written; }

    // Saves the canvas as frame i (the run's phase is the save step's).
    void save(const TPNGObject& canvas, int i) {
        const std::string name = std::to_string(i) + ".png";
        const FileAt file{m_run.folder.fd(), name, m_run.picPath + "/" + name};
        if (availableCores() < 2 || 2 * pictureBytes(canvas) > kMaxPendingBytes) {
            // One core, or a canvas too large to copy: in place, in order.
            commitAll();
            SafeFileStream stream(file, SafeFileStream::CommitSync::Deferred);
            canvas.WriteTo(stream);
            stream.commit();
            done(i);
            return;
        }
        auto copy = std::make_unique<TPNGObject>();
        copy->CopyFrom(&canvas);
        m_queue.submit(std::move(copy), file);
        m_pending.push_back(Pending{i, m_run.phase});
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
    };

    void commitOldest() {
        const Pending p = m_pending.front();
        try {
            m_queue.commitOldest();
        } catch (...) {
            m_pending.clear();
            m_queue.abandon();
            m_run.phase = p.savePhase;
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
    int m_frames;
    int m_written = 0;
    PngWriteQueue m_queue;
    std::deque<Pending> m_pending;
};

// The folder the frames go to: the GIF's path less ".gif", shown absolute.
// It must be a folder of its own: a name that would be "." or ".." (from
// "...gif" or "..gif") or empty would put the frames into the GIF's own
// folder or its parent, and a symbolic link planted under that name would
// send them elsewhere. It is created when missing and opened once, inside
// the GIF's folder opened once too, so every file of the export lands in
// it even when a path on the way is swapped for a link meanwhile. A folder
// that cannot be opened otherwise is reported when the export starts
// writing (the run's folder stays closed).
std::string exportFolder(Run& run, const std::string& gifPath) {
    const std::string folder = gifPath.substr(0, gifPath.size() - 4);
    const std::string name = extractFileName(folder);
    if (name.empty() || name == "." || name == "..")
        throw EInOutError(
            formatMessage("Cannot export into \"%s\". It is not a folder of the GIF's own", folder.c_str()));
    auto symbolicLink = [&folder] {
        return EInOutError(formatMessage("Cannot export into \"%s\". It is a symbolic link", folder.c_str()));
    };
    const platform::Folder parent(AT_FDCWD, extractFilePath(folder));
    struct stat st {};
    if (::fstatat(parent.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        throw symbolicLink();
    ::mkdirat(parent.fd(), name.c_str(), 0777);
    run.folder = platform::Folder(parent.fd(), name, true);
    if (run.folder.error() == ELOOP) throw symbolicLink();
    return platform::absolutePath(folder);
}

// The canvas: the logical screen, checked when a frame needs it (a GIF
// without frames exports nothing, whatever size it declares).
std::unique_ptr<TPNGObject> newCanvas(int32_t width, int32_t height) {
    if (width < 1 || height < 1) throw EInvalidGraphic(formatMessage("Invalid picture size %d x %d", width, height));
    return TPNGObject::CreateNew(kColorRgba, kDepth8, width, height);
}

// The frames of a GIF that have an image, which the control counts, in
// file order, and whether an unknown block ended them early.
struct FramesRead {
    std::vector<TGIFSubImage*> pictures;
    bool unknownBlock = false;
};

// Reads the GIF's frames. Touches nothing of the run but what it reads, so
// it may run beside the control's own walk of the file.
FramesRead readFrames(const Run& run, TGIFImage& image) {
    FramesRead read;
    image.WarningHandler = [&](const void*, int, const std::string& message) {
        if (message == "Unknown GIF block type") read.unknownBlock = true;
    };
    image.SetOptions(run.read);
    image.LoadFile(run.picPath);
    image.WarningHandler = nullptr;
    for (int k = 0; k < image.Frames().ItemCount(); ++k)
        if (image.Frames()[k].HasImageDescriptor()) read.pictures.push_back(&image.Frames()[k]);
    return read;
}

struct KeyedDrawing {
    TColor key;
    uint8_t filter;
    bool fresh;  // the canvas is new: filled with the key colour first
};

// Draws a frame over the canvas the earlier ones left and turns the key
// colour into transparency.
void drawKeyedFrame(Run& run, TGIFSubImage& frame, const TRect& rect, const KeyedDrawing& d) {
    if (d.fresh) {
        setAlpha(run.phase, run.pngCanvas, rect, 255);
        fillColor(run.phase, run.pngCanvas, rect, d.key);
    }
    frame.PaintTo(run.pngCanvas->Canvas(), rect, frame.HasTransparency(), false);
    frame.ReleaseBitmaps();
    if (d.fresh) {
        keyToAlpha(run.phase, run.pngCanvas, rect, d.key, d.filter);
        return;
    }
    // A reused canvas is keyed afresh too, so every frame is the composed
    // picture with only the key colour transparent (pixels a frame paints
    // over an earlier transparent area show). The steps after it keep this
    // path's own phase codes.
    const uint16_t drawn = run.phase;
    setAlpha(run.phase, run.pngCanvas, rect, 255);
    keyToAlpha(run.phase, run.pngCanvas, rect, d.key, d.filter);
    run.phase = drawn;
}

// The frame files are all new: one sync of the folder's file system makes
// them (and the new "delays.txt") durable, instead of one per frame;
// "delays.txt" then takes its name, so a power loss leaves the old list or
// the whole new one.
void commitDelays(Run& run, DelayFile& delays) {
    delays.write();
    syncFolder(run.folder.fd(), run.picPath);
    delays.commit();
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
    // Both walk the whole file, decoding every frame to find where it ends:
    // the control's walk runs on a second thread beside the frame reader's.
    // Its failure still comes first, in the phase it had, and the reader's
    // failure or note only after it.
    auto timing = std::async(std::launch::async, [&control, path = run.picPath] { control->LoadFile(path); });
    auto image = std::make_unique<TGIFImage>();
    FramesRead read;
    std::exception_ptr readError;
    try {
        read = readFrames(run, *image);
    } catch (...) {
        readError = std::current_exception();
    }
    timing.get();

    run.phase = 2;
    if (readError) std::rethrow_exception(readError);
    const std::vector<TGIFSubImage*>& pictures = read.pictures;
    if (read.unknownBlock)
        reportNote("\"" + run.picPath + "\" holds an unknown block after frame " + std::to_string(pictures.size()) +
                   ", the rest of the file is not read");

    // The output folder lies beside the GIF, relative to the current folder
    // when the GIF was named relatively.
    run.picPath = exportFolder(run, run.picPath);

    run.phase = 3;
    const uint8_t filter = readEdgeFilter(run.picPath + "/../gif_filter.txt", run.read.limits.lineLength);
    const std::string delaysPath = run.picPath + "/delays.txt";
    if (!run.folder.valid())
        throw EInOutError(
            formatMessage("Cannot write \"%s\". %s", delaysPath.c_str(), std::strerror(run.folder.error())));
    DelayFile delays(FileAt{run.folder.fd(), "delays.txt", delaysPath});

    run.phase = 9;
    run.pngFragment.reset();
    const TColor key = run.picPath.find("!alt") != std::string::npos ? kAltKeyColor : kKeyColor;
    bool fresh = true;

    const int frames = control->FrameCount();
    // Frame files go through a temporary name like every picture the tool
    // writes; the export makes all of them durable at once at its end.
    FrameFiles files(run, frames);
    GifOutputs outputs(run, run.picPath, *image, control->GifWidth(), control->GifHeight(), frames);
    std::unique_ptr<GifBrowserComposer> browser;
    if (run.options.compose == Compose::Browser) browser = std::make_unique<GifBrowserComposer>(*image);
    for (int i = 0; i < frames; ++i) {
        try {
            run.phase = static_cast<uint16_t>((i + 1) * 100);
            if (fresh) {
                run.pngCanvas.reset();  // one canvas at a time
                run.pngCanvas = newCanvas(control->GifWidth(), control->GifHeight());
            }
            int delay = control->Delays()[static_cast<size_t>(i)];
            delays.writeLine(delay == 0 ? 1 : delay, run.options.newlineLf);
            ++run.phase;
            const TRect rect = makeRect(0, 0, run.pngCanvas->Width(), run.pngCanvas->Height());
            if (!browser && static_cast<size_t>(i) >= pictures.size())
                throw EListError(formatMessage("List index out of bounds (%d)", i));
            TGIFSubImage& frame = browser ? browser->frame(i) : *pictures[static_cast<size_t>(i)];
            if (browser) {
                // The browser's composition keeps its own screen; the canvas
                // only carries each frame to its file.
                browser->next();
                copyComposedScreen(*browser, *run.pngCanvas);
            } else {
                drawKeyedFrame(run, frame, rect, KeyedDrawing{key, filter, fresh});
            }
            ++run.phase;
            files.save(*run.pngCanvas, i);
            outputs.add(i, *run.pngCanvas, delay == 0 ? 1 : delay, frame);
            ++run.phase;
            const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
            fresh = !browser && gce && gce->DisposalMethod() == 2;
        } catch (...) {
            files.failedAfter(std::current_exception());
        }
    }
    files.commitAll();
    const int count = files.written();
    outputs.finish(count);

    commitDelays(run, delays);
    control.reset();
    image.reset();
    run.pngCanvas.reset();
    if (!run.silent) showMsg(run, std::to_string(count) + " Pictures extracted from gif!", kMbInformation);
    return finish(run);
}

}  // namespace glx::app
