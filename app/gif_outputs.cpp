#include "app/gif_outputs.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/gif_meta.h"
#include "app/gif_sheet.h"
#include "app/prompts.h"
#include "app/run.h"
#include "base/stream.h"
#include "base/strutil.h"
#include "gif/browser_compose.h"
#include "gif/gif_image.h"
#include "png/apng_writer.h"
#include "png/png_object.h"

namespace glx::app {

// The animated PNG, written frame by frame to its temporary file and put
// in place when the last frame is in.
class ApngExport {
public:
    ApngExport(const std::string& path, int32_t width, int32_t height, int frames, int32_t plays)
        : m_file(path),
          m_writer(m_file, width, height, static_cast<uint32_t>(frames), static_cast<uint32_t>(plays)),
          m_row(static_cast<size_t>(width) * 4) {
        // Frames of a GIF hold few colours in runs: deflate finds their
        // repeats best unfiltered (a third smaller than with Sub on the
        // bench animations, and smaller than ffmpeg's APNG).
        m_writer.RowFilters = rowFilterBit(rfNone);
    }

    void add(const TPNGObject& picture, int delay) {
        const size_t width = m_row.size() / 4;
        m_writer.addFrame(
            [&](int32_t y) {
                const uint8_t* bgr = picture.PixelRow(y);
                const uint8_t* alpha = picture.AlphaRow(y);
                for (size_t x = 0; x < width; ++x) {
                    m_row[x * 4] = bgr[x * 3 + 2];
                    m_row[x * 4 + 1] = bgr[x * 3 + 1];
                    m_row[x * 4 + 2] = bgr[x * 3];
                    m_row[x * 4 + 3] = alpha[x];
                }
                return m_row.data();
            },
            static_cast<uint16_t>(std::clamp(delay, 0, 65535)), 100);
    }

    void finish() {
        m_writer.finish();
        m_file.commit();
    }

private:
    SafeFileStream m_file;
    ApngWriter m_writer;
    std::vector<uint8_t> m_row;
};

void copyComposedScreen(const GifBrowserComposer& composer, TPNGObject& canvas) {
    const auto width = static_cast<size_t>(composer.width());
    for (int32_t y = 0; y < composer.height(); ++y) {
        const uint8_t* rgba = composer.row(y);
        uint8_t* bgr = canvas.PixelRow(y);
        uint8_t* alpha = canvas.AlphaRow(y);
        for (size_t x = 0; x < width; ++x) {
            bgr[x * 3] = rgba[x * 4 + 2];
            bgr[x * 3 + 1] = rgba[x * 4 + 1];
            bgr[x * 3 + 2] = rgba[x * 4];
            alpha[x] = rgba[x * 4 + 3];
        }
    }
}

GifOutputs::GifOutputs(Run& run, const std::string& folder, const TGIFImage& image, int32_t width, int32_t height,
                       int frames)
    : m_run(run), m_folder(folder), m_frames(frames) {
    const Options& o = run.options;
    const int32_t plays = gifPlayCount(image);
    if (o.gifMeta) m_meta = std::make_unique<GifMetaFile>(plays, width, height);
    // Without frames there is nothing to glue or animate; an empty screen
    // fails at its first frame as the export's canvas does.
    if (frames < 1 || width < 1 || height < 1) return;
    if (o.sheet) {
        // The layout and the output the command line gave after the GIF.
        const std::string path = run.outPath.empty() ? folder + "-sheet.png" : run.outPath;
        m_sheet = std::make_unique<GifSheet>(path, folder, extractFileName(folder), frames, width, height, plays,
                                             o.layout, GridShape{run.cursor.perRow, run.cursor.perColumn});
    }
    if (o.apng) {
        // The output named on the command line is the sheet's when there is one.
        const std::string path = o.sheet || run.outPath.empty() ? folder + ".apng" : run.outPath;
        m_apng = std::make_unique<ApngExport>(path, width, height, frames, plays);
    }
}

GifOutputs::~GifOutputs() = default;

void GifOutputs::add(int i, const TPNGObject& picture, int delay, const TGIFSubImage& frame) {
    if (m_meta) m_meta->add(i, delay, frame);
    if (m_sheet) m_sheet->add(i, picture, delay);
    if (m_apng) m_apng->add(picture, delay);
}

void GifOutputs::finish(int count) {
    (void)count;
    if (m_meta)
        m_meta->write(FileAt{m_run.folder.fd(), "frames.json", m_folder + "/frames.json"}, m_run.options.newlineLf);
    if (m_sheet) m_sheet->write(m_run.options);
    if (m_apng) m_apng->finish();
    if (m_frames == 0 && (m_run.options.sheet || m_run.options.apng) && !m_run.silent)
        showMsg(m_run, "The GIF has no frames: no sheet and no animated PNG written.", kMbInformation);
}

}  // namespace glx::app
