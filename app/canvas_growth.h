// How a gluing canvas grows. The canvas a run shows has the logical size:
// the size that growing one picture at a time gives, never shrinking, as
// checkwh and checkwhp define it. The memory behind it grows ahead in
// amortised steps, half as much again on a side that must grow, so that
// gluing n pictures copies the canvas O(log n) times; rows added drop the
// width slack, which every new row would otherwise carry (later rows rarely
// widen the canvas). Area outside the logical size is never drawn on and is
// cropped before saving, so the saved picture is the one step-by-step
// growth gives. When the final size is known ahead (from the pictures'
// headers), the first growth takes the buffer straight to it, so the canvas
// is allocated once and never copied; a wrong guess costs only memory or
// the usual growth, never a pixel.
#pragma once

#include <cstdint>

#include "base/exception.h"

namespace glx::app {

struct CanvasSize {
    int32_t width = 0, height = 0;
    friend bool operator==(const CanvasSize&, const CanvasSize&) = default;
};

class CanvasGrowth {
public:
    CanvasGrowth() = default;
    CanvasGrowth(int32_t width, int32_t height) : m_logical{width, height} {}

    const CanvasSize& logical() const { return m_logical; }
    // The logical size grows to hold an edge at right (or bottom) and
    // returns the width (height) it had; it never shrinks.
    int32_t widen(int64_t right);
    int32_t deepen(int64_t bottom);

    // The size the logical size is expected to reach; the buffer grows
    // to it at once while it holds the logical size.
    void expect(CanvasSize size) { m_expected = size; }

    // The buffer size after growing a buffer that no longer holds the
    // logical size: the expected size when it holds the logical size,
    // otherwise half as much again; the logical size itself when that
    // would pass the pixel limit.
    CanvasSize amortised(CanvasSize buffer) const;

    // Grows the buffer through resize(CanvasSize) when it does not hold the
    // logical size: to the amortised size, or, when the limits or memory
    // refuse that, to the logical size exactly, so that such errors name
    // the sizes growing one step at a time would name.
    template <class Resize>
    void fitBuffer(CanvasSize buffer, Resize&& resize) const {
        if (buffer.width >= m_logical.width && buffer.height >= m_logical.height) return;
        const CanvasSize target = amortised(buffer);
        if (!(target == m_logical)) {
            try {
                resize(target);
                return;
            } catch (const EOutOfMemory&) {
            } catch (const ELimitExceeded&) {
            }
        }
        resize(m_logical);
    }

private:
    CanvasSize m_logical;
    CanvasSize m_expected;
};

}  // namespace glx::app
