#include "app/canvas_growth.h"

#include <algorithm>

#include "base/limits.h"

namespace glx::app {

int32_t CanvasGrowth::widen(int64_t right) {
    const int32_t old = m_logical.width;
    if (right > old) m_logical.width = static_cast<int32_t>(right);
    return old;
}

int32_t CanvasGrowth::deepen(int64_t bottom) {
    const int32_t old = m_logical.height;
    if (bottom > old) m_logical.height = static_cast<int32_t>(bottom);
    return old;
}

CanvasSize CanvasGrowth::amortised(CanvasSize buffer) const {
    if (m_expected.width >= m_logical.width && m_expected.height >= m_logical.height) {
        const int64_t w = std::max(m_expected.width, buffer.width), h = std::max(m_expected.height, buffer.height);
        if (uint64_t(w) * uint64_t(h) <= Limits{}.pixels)
            return CanvasSize{static_cast<int32_t>(w), static_cast<int32_t>(h)};
    }
    int64_t w = buffer.width, h = buffer.height;
    const bool taller = h < m_logical.height;
    if (w < m_logical.width) w = std::max<int64_t>(m_logical.width, w + w / 2);
    else if (taller) w = m_logical.width;  // no width slack in every new row
    if (taller) h = std::max<int64_t>(m_logical.height, h + h / 2);
    if (uint64_t(w) * uint64_t(h) > Limits{}.pixels) return m_logical;
    return CanvasSize{static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

}  // namespace glx::app
