// Animated PNG writing: the frames of an animation, each a whole RGBA
// picture, written as one PNG whose first frame is its default image
// (acTL, then fcTL with IDAT, then fcTL with fdAT per later frame).
//
// Each frame after the first stores only the rectangle in which it differs
// from the frame before. Every frame leaves the output as it is (dispose
// NONE), so the output before a frame is the frame before it, whole; the
// rectangle replaces its pixels (blend SOURCE), or, when every changed
// pixel is opaque, is drawn over them with its unchanged pixels left fully
// transparent (blend OVER), which compresses better. Either way the
// output equals the frame exactly.
#pragma once

#include <cstdint>
#include <vector>

#include "png/row_filters.h"
#include "raster/geometry.h"

namespace glx {

class TStream;

class ApngWriter {
public:
    // frames: the number of frames that will be added (at least 1);
    // plays: 0 for an animation that repeats for ever.
    ApngWriter(TStream& stream, int32_t width, int32_t height, uint32_t frames, uint32_t plays);
    ~ApngWriter();
    ApngWriter(const ApngWriter&) = delete;
    ApngWriter& operator=(const ApngWriter&) = delete;

    // The next frame: rgba(y) gives row y, width pixels of red, green,
    // blue, alpha. delayNum / delayDen seconds until the next frame.
    template <class Rows>
    void addFrame(const Rows& rgba, uint16_t delayNum, uint16_t delayDen) {
        beginFrame();
        for (int32_t y = 0; y < m_height; ++y) takeRow(y, rgba(y));
        endFrame(delayNum, delayDen);
    }
    // Writes IEND; EInvalidOperation unless every announced frame came.
    void finish();

    // Encoder settings, as for a still picture.
    RowFilterSet RowFilters = rowFilterBit(rfSub);
    uint8_t DeflateLevel = 7;

    // The rectangle the last frame stored, and whether it was drawn over.
    const TRect& lastRect() const { return m_lastRect; }
    bool lastBlendOver() const { return m_lastOver; }

private:
    void beginFrame();
    void takeRow(int32_t y, const uint8_t* rgba);
    void endFrame(uint16_t delayNum, uint16_t delayDen);
    void writeFrameControl(const TRect& r, uint16_t delayNum, uint16_t delayDen, bool over);
    void writeImageData(const TRect& r, bool over);
    void chunk(const char (&type)[5], const std::vector<uint8_t>& data);

    TStream& m_stream;
    int32_t m_width, m_height;
    uint32_t m_frames, m_added = 0;
    uint32_t m_sequence = 0;
    std::vector<uint8_t> m_shown;  // the output so far (the frame before)
    std::vector<uint8_t> m_next;  // the frame being added
    TRect m_lastRect{};
    bool m_lastOver = false;
};

}  // namespace glx
