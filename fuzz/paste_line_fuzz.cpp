// The paste script's position lines, where they place a fragment, and the
// settings file's colour text. The first bytes choose the grid and the
// fragment's size, the rest is the line, so that mutations reach the cell
// and corner arithmetic with sizes up to 65535 and extreme coordinates.
#include <cstring>
#include <string>

#include "app/paste.h"
#include "app/prompts.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t head[8] = {};
    const size_t taken = size < sizeof head ? size : sizeof head;
    std::memcpy(head, data, taken);
    std::string text(reinterpret_cast<const char*>(data + taken), size - taken);
    glxfuzz::guarded([&] {
        uint16_t phase = 0;
        const glx::app::PastePosition pos = glx::app::parsePositionLine(phase, text);
        glx::app::TGridCursor grid;
        // Signed counts, as a layout argument can give them.
        grid.perRow = static_cast<int16_t>(head[0] | (head[1] << 8));
        grid.perColumn = static_cast<int16_t>(head[2] | (head[3] << 8));
        const int32_t w = 1 + (head[4] | (head[5] << 8)) % 65535;
        const int32_t h = 1 + (head[6] | (head[7] << 8)) % 65535;
        glx::app::cellOf(grid, pos.cell);
        int32_t px = 0, py = 0;
        glx::app::fragmentCorner(grid, pos, w, h, px, py);
        (void)glx::app::placedRect(px, py, w, h);
    });
    glxfuzz::guarded([&] {
        uint16_t phase = 0;
        (void)glx::app::parseColor(phase, text);
    });
    return 0;
}
