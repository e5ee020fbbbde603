// What the GIF export writes besides the frame files when the options ask
// for it: the browser's composition of the frames, "frames.json", one sheet
// of all frames with its data file, and an animated PNG. Each composed
// frame is handed over once, as the frame files get it; nothing keeps more
// than the frame before it and the sheet.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace glx {
class TGIFImage;
class TGIFSubImage;
class TPNGObject;
class GifBrowserComposer;
}  // namespace glx

namespace glx::app {

struct Run;
class GifMetaFile;
class GifSheet;
class ApngExport;

// Copies the screen the browser's composition shows now into canvas (a
// colour-type-6 picture of the screen's size).
void copyComposedScreen(const GifBrowserComposer& composer, TPNGObject& canvas);

class GifOutputs {
public:
    // folder: the export folder (absolute, the GIF's path without ".gif");
    // frames: the frame count the export goes by.
    GifOutputs(Run& run, const std::string& folder, const TGIFImage& image, int32_t width, int32_t height, int frames);
    ~GifOutputs();
    GifOutputs(const GifOutputs&) = delete;
    GifOutputs& operator=(const GifOutputs&) = delete;

    // Frame i as composed, with its delay as "delays.txt" has it and the
    // GIF frame it was drawn from.
    void add(int i, const TPNGObject& picture, int delay, const TGIFSubImage& frame);
    // After the last frame file: writes what was collected; count is the
    // number of frames exported.
    void finish(int count);

private:
    Run& m_run;
    std::string m_folder;
    int m_frames;
    std::unique_ptr<GifMetaFile> m_meta;
    std::unique_ptr<GifSheet> m_sheet;
    std::unique_ptr<ApngExport> m_apng;
};

}  // namespace glx::app
