// "frames.json" beside "delays.txt": what an engine or a web page needs to
// play the exported frames: how often the animation plays, the logical
// screen, and per frame its file, delay, disposal, rectangle on the screen
// and transparent index.
#pragma once

#include "base/stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace glx {
class TGIFSubImage;
}

namespace glx::app {

class GifMetaFile {
public:
    // plays: 0 for ever, else how many times (the browsers' loop rule).
    GifMetaFile(int32_t plays, int32_t width, int32_t height) : m_plays(plays), m_width(width), m_height(height) {}

    // Frame i, its delay as "delays.txt" has it, and the GIF frame.
    void add(int i, int delay, const TGIFSubImage& frame);
    // The JSON text; lines end with LF when lf is set, else CR LF, as
    // every text file of a run.
    std::string text(bool lf) const;
    // Writes it whole to path through a temporary file (made durable with
    // the export's folder).
    // target: "frames.json" inside the export folder the run opened.
    void write(const FileAt& target, bool lf) const;

private:
    struct Entry {
        int index, delay, disposal;
        int32_t x, y, w, h;
        int transparent;  // -1 for none
    };
    int32_t m_plays, m_width, m_height;
    std::vector<Entry> m_entries;
};

}  // namespace glx::app
