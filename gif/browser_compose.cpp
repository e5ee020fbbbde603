#include "gif/browser_compose.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/exception.h"
#include "base/limits.h"
#include "gif/gif_extensions.h"
#include "gif/gif_image.h"
#include "gif/gif_input.h"
#include "gif/gif_lzw.h"

namespace glx {

namespace {

// A transparent pixel: what the screen starts as and what disposal clears to.
constexpr uint8_t kClear[4] = {0, 0, 0, 0};

void fillRect(std::vector<uint8_t>& screen, size_t rowBytes, const TRect& r) {
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        uint8_t* p = screen.data() + static_cast<size_t>(y) * rowBytes + static_cast<size_t>(r.Left) * 4;
        std::memset(p, kClear[0], static_cast<size_t>(r.width()) * 4);
    }
}

}  // namespace

GifBrowserComposer::GifBrowserComposer(TGIFImage& image)
    : m_image(image), m_width(image.Width()), m_height(image.Height()) {
    for (int i = 0; i < image.Frames().ItemCount(); ++i)
        if (image.Frames()[i].HasImageDescriptor()) m_frames.push_back(i);
}

TGIFSubImage& GifBrowserComposer::frame(int i) const {
    if (i < 0 || i >= frameCount()) throw EListError(formatMessage("List index out of bounds (%d)", i));
    return m_image.Frames()[m_frames[static_cast<size_t>(i)]];
}

TRect GifBrowserComposer::screenRect(const TGIFSubImage& frame, int32_t width, int32_t height) {
    TRect r{std::clamp(frame.Left(), 0, width), std::clamp(frame.Top(), 0, height),
            std::clamp(frame.Left() + frame.Width(), 0, width), std::clamp(frame.Top() + frame.Height(), 0, height)};
    if (r.width() <= 0 || r.height() <= 0) r.Right = r.Left, r.Bottom = r.Top;
    return r;
}

int GifBrowserComposer::next() {
    TGIFSubImage& shown = frame(m_shown + 1);  // raises past the last frame
    if (m_shown < 0) {
        checkPictureSize(m_image.ReadLimits(), m_width, m_height, 32);
        m_screen.assign(screenRowBytes() * static_cast<size_t>(m_height), 0);
    } else {
        dispose(frame(m_shown));
    }
    ++m_shown;
    const TRect clip = screenRect(shown, m_width, m_height);
    if (shown.DisposalMethod() == 3) {
        // What the frame covers comes back when it is disposed of.
        m_savedRect = clip;
        m_saved.resize(static_cast<size_t>(clip.width()) * static_cast<size_t>(clip.height()) * 4);
        const size_t span = static_cast<size_t>(clip.width()) * 4;
        for (int32_t y = clip.Top; y < clip.Bottom; ++y)
            std::memcpy(m_saved.data() + static_cast<size_t>(y - clip.Top) * span,
                        row(y) + static_cast<size_t>(clip.Left) * 4, span);
    }
    draw(shown, clip);
    return m_shown;
}

void GifBrowserComposer::dispose(const TGIFSubImage& shown) {
    const int method = shown.DisposalMethod();
    if (method == 2) {
        fillRect(m_screen, screenRowBytes(), screenRect(shown, m_width, m_height));
    } else if (method == 3) {
        const size_t span = static_cast<size_t>(m_savedRect.width()) * 4;
        for (int32_t y = m_savedRect.Top; y < m_savedRect.Bottom; ++y)
            std::memcpy(
                m_screen.data() + static_cast<size_t>(y) * screenRowBytes() + static_cast<size_t>(m_savedRect.Left) * 4,
                m_saved.data() + static_cast<size_t>(y - m_savedRect.Top) * span, span);
        m_saved.clear();
        m_saved.shrink_to_fit();
    }
    // 0, 1 and the undefined 4 to 7 leave the frame in place.
}

void GifBrowserComposer::draw(TGIFSubImage& frame, const TRect& clip) {
    if (clip.width() <= 0 || frame.IsEmpty()) return;
    // The colour table as drawing resolves it; indices past it show black.
    std::array<uint8_t, 256 * 4> colors{};
    const std::vector<RGBQuad> table = frame.ColorTable();
    for (size_t i = 0; i < 256; ++i) {
        const RGBQuad q = i < table.size() ? table[i] : RGBQuad{};
        colors[i * 4] = q.red;
        colors[i * 4 + 1] = q.green;
        colors[i * 4 + 2] = q.blue;
        colors[i * 4 + 3] = 255;
    }
    const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
    const int transparent = frame.HasTransparency() && gce ? gce->TransparentIndex() : -1;
    if (transparent >= 0) colors[static_cast<size_t>(transparent) * 4 + 3] = 0;

    // The frame's columns that land on the screen.
    const int32_t x0 = clip.Left - frame.Left(), x1 = clip.Right - frame.Left();
    int32_t rowsLeft = clip.height();
    // Rows the data never reaches, and the rest of a row cut short, leave
    // the screen as it was, as a browser shows a truncated frame.
    GifInput input(frame.ImageData());
    decodeGifRows(
        input, frame.Width(), frame.Height(), frame.IsInterlaced(), [](const std::string&) {},
        [&](int y, const uint8_t* values, int count) {
            const int32_t sy = frame.Top() + y;
            if (sy < clip.Top || sy >= clip.Bottom) return true;
            uint8_t* out = m_screen.data() + static_cast<size_t>(sy) * screenRowBytes();
            const int32_t end = std::min<int32_t>(x1, count);
            for (int32_t x = x0; x < end; ++x) {
                const uint8_t* c = &colors[static_cast<size_t>(values[x]) * 4];
                if (c[3] == 0) continue;
                std::memcpy(out + static_cast<size_t>(frame.Left() + x) * 4, c, 4);
            }
            return --rowsLeft > 0;
        });
}

int32_t gifPlayCount(const TGIFImage& image) {
    for (int i = 0; i < image.Frames().ItemCount(); ++i) {
        const TGIFExtensionList& extensions = image.Frames()[i].ExtensionItems();
        for (int j = 0; j < extensions.ItemCount(); ++j)
            if (const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(&extensions[j]))
                return loop->LoopCount() == 0 ? 0 : loop->LoopCount() + 1;
    }
    return 1;
}

}  // namespace glx
