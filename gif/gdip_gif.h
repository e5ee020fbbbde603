// TGdipGIF: the GIF preview control. The workflow uses it as a query
// object: load a GIF, then ask for the frame count, the logical screen size
// and the delay of every frame. It can also show the GIF animated; without a
// window system it paints into an off-screen bitmap of its own size, and its
// 10 ms timer is driven by calling TimerTick (the clock comes through
// ITickSource, so a test can step it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/limits.h"
#include "raster/color.h"
#include "raster/dib.h"
#include "raster/geometry.h"

namespace glx {

class TStream;
class TCanvas;
class TGIFImage;

// Frame delays in hundredths of a second, one per frame.
using TArrayOfFrameDelay = std::vector<int32_t>;

enum class TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// A millisecond tick count.
class ITickSource {
public:
    virtual ~ITickSource() = default;
    virtual uint32_t TickCount() = 0;
};

// The window-background system colour.
constexpr TColor clWindow = static_cast<TColor>(0xFF000005u);

class TGdipGIF {
public:
    TGdipGIF();
    ~TGdipGIF();
    TGdipGIF(const TGdipGIF&) = delete;
    TGdipGIF& operator=(const TGdipGIF&) = delete;

    // Opens the file (an open error propagates) and calls LoadStream.
    void LoadFile(const std::string& fileName);
    // Replaces the loaded GIF with the stream's content (read from its
    // start). Never raises for content it cannot read: the control is then
    // empty. The frames are walked as the GIF reader walks them to learn
    // the frame count, the size and the delays, and are not kept: they are
    // read again when the control paints them (a file given to LoadFile is
    // read again then).
    void LoadStream(TStream& stream);

    // One entry per image descriptor in file order: the delay of the first
    // graphic control extension in front of it, 0 without one.
    int FrameCount() const { return m_loaded ? static_cast<int>(m_delays.size()) : 0; }
    const TArrayOfFrameDelay& Delays() const { return m_delays; }
    int GifWidth() const { return m_loaded ? m_gifWidth : 0; }
    int GifHeight() const { return m_loaded ? m_gifHeight : 0; }
    int CurrentFrame() const { return m_currentFrame; }

    // The look and the animation switch; setting the look repaints, setting Active
    // starts or stops the animation without repainting.
    bool Active() const { return m_active; }
    void SetActive(bool value);
    TBevelCut BevelInner() const { return m_bevelInner; }
    void SetBevelInner(TBevelCut value);
    TBevelCut BevelOuter() const { return m_bevelOuter; }
    void SetBevelOuter(TBevelCut value);
    bool Center() const { return m_center; }
    void SetCenter(bool value);
    bool Stretch() const { return m_stretch; }
    void SetStretch(bool value);
    bool AutoSize = false;
    TAlign Align = TAlign::alNone;
    TColor Color = clWindow;
    bool Visible = true;

    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetBounds(int left, int top, int width, int height);

    // The animation timer: 10 ms, enabled while Active.
    bool TimerEnabled() const { return m_timerEnabled; }
    static constexpr int TimerInterval = 10;
    // One timer tick: advances CurrentFrame once its delay has passed.
    void TimerTick();
    // The clock; the control does not own it. nullptr restores the system clock.
    void SetTickSource(ITickSource* source);

    // Paints background, active frame and bevels into Bitmap(). The active
    // frame is shown as the animation composes it: the frames before it
    // drawn in order, each disposed of as its graphic control asks
    // (restore to background: the control's colour). Loading, the look's
    // setters and the timer paint only a Visible control.
    void Paint();
    // The limits the frames are decoded under when the control paints them.
    ReadOptions Options;
    // The off-screen bitmap of the control's size (24 bits) as last painted.
    const Dib& Bitmap() const { return m_bitmap; }
    int PaintCount() const { return m_paintCount; }

private:
    void release();
    void applyAutoSize();
    void repaint();
    void paintFrame(TCanvas& canvas);
    std::unique_ptr<TGIFImage> readImage(TStream& stream) const;
    TGIFImage* decodedImage();
    // Brings the composed logical screen, as far as window reaches, to frame.
    bool composeFrame(int frame, const TRect& window);
    uint32_t ticks();

    bool m_loaded = false;
    int m_gifWidth = 0, m_gifHeight = 0;
    TArrayOfFrameDelay m_delays;
    std::string m_loadingPath;  // the file LoadFile is loading
    std::string m_path;  // the loaded file, read again to paint
    std::unique_ptr<TGIFImage> m_image;  // the frames for painting, or none
    std::vector<int> m_frameIndex;  // image descriptor i -> frame of m_image
    bool m_decodeTried = false;
    Dib m_screen;  // the composed logical screen inside m_screenWindow
    Dib m_saved;  // what a "restore previous" frame restores
    int m_screenFrame = -1;
    TColor m_screenColor = 0;
    TRect m_screenWindow;
    int m_currentFrame = 0;
    uint32_t m_frameShownAt = 0;

    bool m_active = false, m_timerEnabled = false;
    TBevelCut m_bevelInner = TBevelCut::bvRaised, m_bevelOuter = TBevelCut::bvNone;
    bool m_center = false, m_stretch = false;
    int m_left = 0, m_top = 0, m_width = 105, m_height = 105;
    ITickSource* m_ticks = nullptr;
    Dib m_bitmap;
    int m_paintCount = 0;
};

}  // namespace glx
