#include "gif/gdip_gif.h"

#include <algorithm>
#include <chrono>

#include "base/stream.h"
#include "gif/gif_image.h"
#include "gif/gif_input.h"
#include "raster/canvas.h"

namespace glx {

namespace {

class SystemTicks : public ITickSource {
public:
    uint32_t TickCount() override {
        using namespace std::chrono;
        return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
};

SystemTicks& systemTicks() {
    static SystemTicks ticks;
    return ticks;
}

// The logical screen size and, per frame with an image, the delay of the
// first graphic control extension since the previous image, read through
// the frame reader's own walk so that the frames counted here are the
// frames the reader gives. Each frame is dropped once its timing is taken.
// Raises GIFException when the header or a frame cannot be read.
void scanTiming(GifInput& in, int& width, int& height, TArrayOfFrameDelay& delays) {
    TGIFImage image;  // the screen a frame without a size takes
    image.ScreenHeader().LoadFromStream(in);
    width = image.Width();
    height = image.Height();
    int pending = -1;
    walkGifFrames(
        in, image, [] {},
        [&](std::unique_ptr<TGIFSubImage> frame) {
            const TGIFGraphicControlExtension* gce = frame->GraphicControlExtension();
            if (gce && pending < 0) pending = gce->Delay();
            if (!frame->HasImageDescriptor()) return;
            delays.push_back(pending < 0 ? 0 : pending);
            pending = -1;
        });
}

void frame3D(Dib& dib, TRect& r, TColor topColor, TColor bottomColor) {
    // Top and left edge in the top colour, right and bottom edge (the
    // corners they share included) in the bottom colour; then one pixel in.
    const int32_t l = r.Left, t = r.Top, rr = r.Right - 1, b = r.Bottom - 1;
    if (rr < l || b < t) return;
    dib.fill(l, t, rr, t + 1, topColor);
    dib.fill(l, t, l + 1, b, topColor);
    dib.fill(rr, t, rr + 1, b + 1, bottomColor);
    dib.fill(l, b, rr + 1, b + 1, bottomColor);
    r = TRect{r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
}

void drawBevel(Dib& dib, TRect& r, TBevelCut cut) {
    const TColor highlight = colorToRGB(static_cast<TColor>(0xFF000014u));  // button highlight
    const TColor shadow = colorToRGB(static_cast<TColor>(0xFF000010u));  // button shadow
    if (cut == TBevelCut::bvLowered) frame3D(dib, r, shadow, highlight);
    if (cut == TBevelCut::bvRaised) frame3D(dib, r, highlight, shadow);
}

}  // namespace

TGdipGIF::TGdipGIF() = default;
TGdipGIF::~TGdipGIF() = default;

uint32_t TGdipGIF::ticks() { return m_ticks ? m_ticks->TickCount() : systemTicks().TickCount(); }

void TGdipGIF::SetTickSource(ITickSource* source) { m_ticks = source; }

void TGdipGIF::LoadFile(const std::string& fileName) {
    TFileStream file(fileName, FileAccess::Read);
    m_loadingPath = fileName;
    try {
        LoadStream(file);
    } catch (...) {
        m_loadingPath.clear();
        throw;
    }
}

void TGdipGIF::release() {
    m_loaded = false;
    m_gifWidth = m_gifHeight = 0;
    m_delays.clear();
    m_path.clear();
    m_image.reset();
    m_frameIndex.clear();
    m_decodeTried = false;
    m_screen = Dib();
    m_saved = Dib();
    m_screenWindow = TRect{};
    m_screenFrame = -1;
    m_currentFrame = 0;
}

void TGdipGIF::LoadStream(TStream& stream) {
    const bool wasActive = m_active;
    const std::string path = std::move(m_loadingPath);
    m_loadingPath.clear();
    SetActive(false);
    release();
    try {
        // The block structure from the stream's start, without pixels.
        stream.setPosition(0);
        GifInput input(stream);
        int width = 0, height = 0;
        TArrayOfFrameDelay delays;
        try {
            scanTiming(input, width, height, delays);
        } catch (const Exception&) {
            // A frame that cannot be read ends the frames; the ones before it count.
            if (width == 0 && height == 0 && delays.empty()) throw;
        }
        if (!delays.empty()) {
            m_loaded = true;
            m_gifWidth = width;
            m_gifHeight = height;
            m_delays = std::move(delays);
            // The frames are needed only to paint. A file is read again
            // then; a stream that cannot be had again is read now (its
            // frames keep their compressed data only).
            if (!path.empty()) {
                m_path = path;
            } else {
                stream.setPosition(0);
                m_image = readImage(stream);
            }
        }
    } catch (const Exception&) {
        // Content that cannot be read leaves the control empty.
        release();
    } catch (const std::bad_alloc&) {
        release();
    }
    applyAutoSize();
    repaint();
    SetActive(wasActive);
}

void TGdipGIF::repaint() {
    // An invisible control is not painted (its look is not asked for).
    if (Visible) Paint();
}

void TGdipGIF::applyAutoSize() {
    if (!AutoSize || GifWidth() <= 0 || GifHeight() <= 0) return;
    int width = m_width, height = m_height;
    if (Align == TAlign::alNone || Align == TAlign::alLeft || Align == TAlign::alRight) width = GifWidth();
    if (Align == TAlign::alNone || Align == TAlign::alTop || Align == TAlign::alBottom) height = GifHeight();
    SetBounds(m_left, m_top, width, height);
}

void TGdipGIF::SetBounds(int left, int top, int width, int height) {
    m_left = left;
    m_top = top;
    m_width = std::max(width, 0);
    m_height = std::max(height, 0);
}

void TGdipGIF::SetActive(bool value) {
    if (value == m_active) return;
    m_active = value;
    m_timerEnabled = false;
    if (value) {
        m_frameShownAt = ticks();
        m_timerEnabled = true;
    }
}

void TGdipGIF::SetBevelInner(TBevelCut value) {
    if (value == m_bevelInner) return;
    m_bevelInner = value;
    repaint();
}

void TGdipGIF::SetBevelOuter(TBevelCut value) {
    if (value == m_bevelOuter) return;
    m_bevelOuter = value;
    repaint();
}

void TGdipGIF::SetCenter(bool value) {
    if (value == m_center) return;
    m_center = value;
    repaint();
}

void TGdipGIF::SetStretch(bool value) {
    if (value == m_stretch) return;
    m_stretch = value;
    repaint();
}

void TGdipGIF::TimerTick() {
    if (!m_timerEnabled || !m_active || !m_loaded || FrameCount() == 0) return;
    // Elapsed time as an unsigned difference survives the tick count wrapping.
    const uint32_t now = ticks();
    const int64_t delayMs = int64_t(std::max<int32_t>(m_delays[static_cast<size_t>(m_currentFrame)], 0)) * 10;
    if (int64_t(now - m_frameShownAt) < delayMs) return;
    m_currentFrame = (m_currentFrame + 1) % FrameCount();
    m_frameShownAt = now;
    repaint();
}

std::unique_ptr<TGIFImage> TGdipGIF::readImage(TStream& stream) const {
    auto image = std::make_unique<TGIFImage>();
    image->SetOptions(Options);
    try {
        image->ReadFrom(stream);
    } catch (const Exception&) {
        // Frames read before the fault are still shown.
    }
    return image;
}

TGIFImage* TGdipGIF::decodedImage() {
    if (!m_decodeTried && m_loaded) {
        m_decodeTried = true;
        if (!m_image && !m_path.empty()) {
            try {
                TFileStream file(m_path, FileAccess::Read);
                m_image = readImage(file);
            } catch (const Exception&) {
                // The file is gone: nothing to show.
            }
        }
        if (m_image)
            for (int i = 0; i < m_image->Frames().ItemCount(); ++i)
                if (m_image->Frames()[i].HasImageDescriptor()) m_frameIndex.push_back(i);
    }
    return m_image.get();
}

bool TGdipGIF::composeFrame(int frame, const TRect& window) {
    TGIFImage* image = decodedImage();
    if (!image || frame >= static_cast<int>(m_frameIndex.size()) || window.width() <= 0 || window.height() <= 0)
        return false;
    const TColor background = colorToRGB(Color);
    if (m_screenFrame < 0 || frame < m_screenFrame || background != m_screenColor || window != m_screenWindow) {
        m_screenColor = background;
        m_screenWindow = window;
        m_screen = Dib(window.width(), window.height(), 24);
        m_screen.fill(0, 0, window.width(), window.height(), background);
        m_saved = Dib();
        m_screenFrame = -1;
    }
    TCanvas canvas(&m_screen);
    // The logical screen placed so that the window's corner is the buffer's origin.
    const TRect screen{-window.Left, -window.Top, GifWidth() - window.Left, GifHeight() - window.Top};
    while (m_screenFrame < frame) {
        if (m_screenFrame >= 0) {
            TGIFSubImage& shown = image->Frames()[m_frameIndex[static_cast<size_t>(m_screenFrame)]];
            if (shown.DisposalMethod() == 2) {
                const TRect b = shown.BoundsRect();
                m_screen.fill(b.Left - window.Left, b.Top - window.Top, b.Right - window.Left, b.Bottom - window.Top,
                              background);
            } else if (shown.DisposalMethod() == 3 && !m_saved.empty()) {
                m_screen = m_saved;
            }
        }
        ++m_screenFrame;
        TGIFSubImage& next = image->Frames()[m_frameIndex[static_cast<size_t>(m_screenFrame)]];
        if (next.DisposalMethod() == 3) m_saved = m_screen;
        try {
            next.PaintTo(canvas, screen, true, false);
        } catch (const Exception&) {
            // A frame that cannot be drawn leaves the screen as it was.
        }
        // Drawn into the screen: its decoded rows are not needed again
        // until the animation comes round.
        next.ReleaseBitmaps();
    }
    return true;
}

void TGdipGIF::paintFrame(TCanvas& canvas) {
    if (m_stretch) {
        // Every part of the logical screen may be sampled.
        if (composeFrame(m_currentFrame, TRect{0, 0, GifWidth(), GifHeight()}))
            canvas.stretchDraw(m_screen, TRect{0, 0, m_width, m_height});
    } else {
        int x = 0, y = 0;
        if (m_center) {
            x = (m_width - GifWidth()) / 2;
            y = (m_height - GifHeight()) / 2;
        }
        // At natural size only the part of the logical screen inside the
        // control is composed.
        const TRect window{std::max(0, -x), std::max(0, -y), std::min(GifWidth(), m_width - x),
                           std::min(GifHeight(), m_height - y)};
        if (composeFrame(m_currentFrame, window))
            canvas.stretchDraw(m_screen, TRect{x + window.Left, y + window.Top, x + window.Right, y + window.Bottom});
    }
}

void TGdipGIF::Paint() {
    ++m_paintCount;
    if (m_width <= 0 || m_height <= 0) {
        m_bitmap = Dib();
        return;
    }
    try {
        m_bitmap = Dib(m_width, m_height, 24);
    } catch (const Exception&) {
        // A control too large for the limits has no picture.
        m_bitmap = Dib();
        return;
    }
    m_bitmap.fill(0, 0, m_width, m_height, colorToRGB(Color));
    TCanvas canvas(&m_bitmap);

    if (m_loaded && GifWidth() > 0 && GifHeight() > 0) {
        try {
            paintFrame(canvas);
        } catch (const Exception&) {
            // A screen too large to compose shows the background only.
            m_screen = Dib();
            m_saved = Dib();
            m_screenFrame = -1;
        }
    }
    TRect client{0, 0, m_width, m_height};
    drawBevel(m_bitmap, client, m_bevelOuter);
    drawBevel(m_bitmap, client, m_bevelInner);
}

}  // namespace glx
