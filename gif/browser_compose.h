// The frames of a GIF animation as web browsers show them: the logical
// screen starts fully transparent, a frame's transparent index is real
// alpha (the screen shows through), "restore to background" clears the
// frame's own rectangle to transparent, "restore previous" puts back what
// the frame covered, and every frame is clipped to the screen. Only frames
// with an image descriptor count (extension-only runs are no frames).
//
// Memory: the screen (4 bytes a pixel), one decoded row, and the pixels
// under a "restore previous" frame while it is shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/geometry.h"

namespace glx {

class TGIFImage;
class TGIFSubImage;

class GifBrowserComposer {
public:
    // The screen takes the image's logical screen size; its memory is
    // checked against the limits when the first frame is composed.
    explicit GifBrowserComposer(TGIFImage& image);

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    // Frames with an image descriptor, in file order.
    int frameCount() const { return static_cast<int>(m_frames.size()); }
    // Frame i of those (EListError "List index out of bounds (%d)" outside).
    TGIFSubImage& frame(int i) const;

    // Composes the next frame (the first call gives frame 0): the disposal
    // of the frame shown before, then the frame drawn over the screen.
    // A colour table that cannot be had raises GIFException. Returns the
    // index of the frame now shown.
    int next();
    // The frame's rectangle on the screen, clipped (possibly empty).
    static TRect screenRect(const TGIFSubImage& frame, int32_t width, int32_t height);

    // Row y of the screen: width pixels of red, green, blue, alpha.
    const uint8_t* row(int32_t y) const { return m_screen.data() + static_cast<size_t>(y) * screenRowBytes(); }

private:
    size_t screenRowBytes() const { return static_cast<size_t>(m_width) * 4; }
    void dispose(const TGIFSubImage& shown);
    void draw(TGIFSubImage& frame, const TRect& clip);

    TGIFImage& m_image;
    int32_t m_width = 0, m_height = 0;
    std::vector<int> m_frames;  // frame index -> item of the image's frame list
    int m_shown = -1;
    std::vector<uint8_t> m_screen;
    // What a "restore previous" frame covered, and where.
    std::vector<uint8_t> m_saved;
    TRect m_savedRect{};
};

// How many times a browser plays the animation, from the first looping
// application extension ("NETSCAPE2.0", "ANIMEXTS1.0"): none plays once
// (1), a loop count of 0 plays for ever (0), a count N plays N + 1 times.
int32_t gifPlayCount(const TGIFImage& image);

}  // namespace glx
