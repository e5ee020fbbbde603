#include "app/sheet_layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "app/glue.h"
#include "base/limits.h"

namespace glx::app {

namespace {

struct Rect {
    int64_t x = 0, y = 0, w = 0, h = 0;
    int64_t right() const { return x + w; }
    int64_t bottom() const { return y + h; }
    bool contains(const Rect& o) const {
        return o.x >= x && o.y >= y && o.right() <= right() && o.bottom() <= bottom();
    }
    bool overlaps(const Rect& o) const { return o.x < right() && x < o.right() && o.y < bottom() && y < o.bottom(); }
};

// Free rectangles of one bin (maximal, overlapping), the MaxRects way:
// a placement splits every free rectangle it touches into the up to four
// maximal parts around it, and parts inside others are dropped.
class MaxRectsBin {
public:
    MaxRectsBin(int64_t width, int64_t height) : m_free{Rect{0, 0, width, height}} {}

    // Bottom-left: the place whose bottom edge is highest, then the
    // leftmost; nothing when no free rectangle holds w x h. (Measured on
    // sprite sets against best short side fit: as tight or tighter, with
    // near-square pages.)
    bool find(int64_t w, int64_t h, Rect& out) const {
        bool found = false;
        for (const Rect& f : m_free) {
            if (f.w < w || f.h < h) continue;
            if (!found || f.y < out.y || (f.y == out.y && f.x < out.x)) {
                found = true;
                out = Rect{f.x, f.y, w, h};
            }
        }
        return found;
    }

    void place(const Rect& used) {
        std::vector<Rect> kept, added;
        kept.reserve(m_free.size());
        for (const Rect& f : m_free) {
            if (!f.overlaps(used)) {
                kept.push_back(f);
                continue;
            }
            if (used.x > f.x) added.push_back(Rect{f.x, f.y, used.x - f.x, f.h});
            if (used.right() < f.right()) added.push_back(Rect{used.right(), f.y, f.right() - used.right(), f.h});
            if (used.y > f.y) added.push_back(Rect{f.x, f.y, f.w, used.y - f.y});
            if (used.bottom() < f.bottom()) added.push_back(Rect{f.x, used.bottom(), f.w, f.bottom() - used.bottom()});
        }
        // Only the new parts can be inside another rectangle or hold an old
        // one (old ones were maximal among themselves).
        std::vector<bool> addedGone(added.size(), false);
        for (size_t i = 0; i < added.size(); ++i) {
            for (size_t j = 0; j < added.size() && !addedGone[i]; ++j)
                if (i != j && !addedGone[j] && added[j].contains(added[i]) && (!added[i].contains(added[j]) || j < i))
                    addedGone[i] = true;
            for (size_t k = 0; k < kept.size() && !addedGone[i]; ++k)
                if (kept[k].contains(added[i])) addedGone[i] = true;
        }
        m_free.clear();
        for (const Rect& k : kept) {
            bool inside = false;
            for (size_t i = 0; i < added.size() && !inside; ++i)
                if (!addedGone[i] && added[i].contains(k)) inside = true;
            if (!inside) m_free.push_back(k);
        }
        for (size_t i = 0; i < added.size(); ++i)
            if (!addedGone[i]) m_free.push_back(added[i]);
    }

private:
    std::vector<Rect> m_free;
};

// A slot: an item with its ring and the padding after it.
struct Slot {
    size_t item;
    int64_t w, h;
};

struct Packed {
    std::vector<std::pair<size_t, Rect>> placed;  // slot index, rectangle
    std::vector<size_t> left;  // slot indices that did not fit
    int64_t right = 0, bottom = 0;  // extent of the placed slots
};

Packed pack(const std::vector<Slot>& slots, const std::vector<size_t>& order, int64_t binW, int64_t binH) {
    MaxRectsBin bin(binW, binH);
    Packed out;
    for (size_t s : order) {
        Rect r;
        if (!bin.find(slots[s].w, slots[s].h, r)) {
            out.left.push_back(s);
            continue;
        }
        bin.place(r);
        out.placed.emplace_back(s, r);
        out.right = std::max(out.right, r.right());
        out.bottom = std::max(out.bottom, r.bottom());
    }
    return out;
}

int64_t powerOfTwoAtLeast(int64_t v) {
    int64_t p = 1;
    while (p < v) p *= 2;
    return p;
}

int64_t largestPowerOfTwoAtMost(int64_t v) {
    int64_t p = 1;
    while (p * 2 <= v) p *= 2;
    return p;
}

// Page sides from the extent of its slots (which end in padding).
int64_t pageSide(int64_t extent, int64_t padding, int64_t border, bool pot) {
    const int64_t side = std::max<int64_t>(1, std::max<int64_t>(extent - padding, 0) + 2 * border);
    return pot ? powerOfTwoAtLeast(side) : side;
}

SheetLayout packSheet(const std::vector<LayoutItem>& items, const LayoutOptions& o) {
    const int64_t pad = o.padding, ring = o.extrude, border = o.border;
    const int64_t maxSide = o.pot ? largestPowerOfTwoAtMost(std::max(1, o.maxSize)) : o.maxSize;
    // The bin holds slots that carry the padding on their right and bottom,
    // so it is that much larger than the page's inside.
    const int64_t limit = maxSide - 2 * border + pad;
    std::vector<Slot> slots;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].sameAs >= 0) continue;
        const Slot s{i, items[i].width + 2 * ring + pad, items[i].height + 2 * ring + pad};
        if (s.w > limit || s.h > limit) throw LayoutTooLarge(i, o.maxSize);
        slots.push_back(s);
    }
    // Tallest first, then widest, then in the given order.
    std::vector<size_t> order(slots.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (slots[a].h != slots[b].h) return slots[a].h > slots[b].h;
        return slots[a].w > slots[b].w;
    });

    SheetLayout layout;
    layout.places.resize(items.size());
    auto pageArea = [&](const Packed& p) {
        return pageSide(p.right, pad, border, o.pot) * pageSide(p.bottom, pad, border, o.pot);
    };
    while (true) {
        Packed best = pack(slots, order, limit, limit);
        if (best.left.empty() && !order.empty()) {
            // Everything left fits on this page: look for the smallest
            // page over a range of bin widths.
            int64_t area = 0, widest = 0;
            for (size_t s : order) {
                area += slots[s].w * slots[s].h;
                widest = std::max(widest, slots[s].w);
            }
            std::vector<int64_t> widths;
            if (o.pot) {
                for (int64_t side = powerOfTwoAtLeast(widest - pad + 2 * border); side <= maxSide; side *= 2)
                    widths.push_back(side - 2 * border + pad);
            } else {
                // Near-square pages: widths around the side of the area.
                const double root = std::sqrt(static_cast<double>(area));
                const int64_t lo = std::max<int64_t>(widest, static_cast<int64_t>(root * 0.8));
                const int64_t hi = std::min<int64_t>(limit, std::max<int64_t>(lo, static_cast<int64_t>(root * 1.25)));
                constexpr int kSteps = 24;
                for (int k = 0; k <= kSteps; ++k) widths.push_back(lo + (hi - lo) * k / kSteps);
                widths.push_back(std::min<int64_t>(limit, std::max<int64_t>(widest, static_cast<int64_t>(root))));
            }
            for (int64_t w : widths) {
                if (w < widest || w > limit) continue;
                Packed p = pack(slots, order, w, limit);
                if (!p.left.empty()) continue;
                const int64_t a = pageArea(p), b = pageArea(best);
                const int64_t longP = std::max(p.right, p.bottom), longB = std::max(best.right, best.bottom);
                if (a < b || (a == b && longP < longB)) best = std::move(p);
            }
        }
        const int32_t page = static_cast<int32_t>(layout.pages.size());
        layout.pages.push_back(LayoutPageSize{static_cast<int32_t>(pageSide(best.right, pad, border, o.pot)),
                                              static_cast<int32_t>(pageSide(best.bottom, pad, border, o.pot))});
        for (const auto& [s, r] : best.placed) {
            const auto x = static_cast<int32_t>(border + r.x + ring), y = static_cast<int32_t>(border + r.y + ring);
            layout.places[slots[s].item] = LayoutPlace{page, x, y, x, y};
        }
        if (best.left.empty()) break;
        // The next page takes what did not fit, in the same order.
        order = best.left;
    }
    return layout;
}

SheetLayout gridSheet(const std::vector<LayoutItem>& items, GridShape shape, const LayoutOptions& o) {
    const int32_t pad = o.padding, ring = o.extrude, border = o.border;
    SheetLayout layout;
    layout.places.resize(items.size());
    int32_t cellW = 0, cellH = 0;
    const bool cells = o.cell == CellMode::Max;
    if (cells) {
        for (const LayoutItem& item : items) {
            if (item.sameAs >= 0) continue;
            cellW = std::max(cellW, item.width);
            cellH = std::max(cellH, item.height);
        }
        layout.cells = LayoutCells{cellW, cellH, border + ring, pad + 2 * ring};
    }
    TGridCursor c;
    c.perRow = shape.perRow;
    c.perColumn = shape.perColumn;
    int64_t right = 0, bottom = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const LayoutItem& item = items[i];
        if (item.sameAs >= 0) continue;
        const int32_t w = cells ? cellW : item.width, h = cells ? cellH : item.height;
        int32_t dx = 0, dy = 0;
        if (cells && o.align != CellAlign::TopLeft) {
            dx = (cellW - item.width) / 2;
            dy = o.align == CellAlign::Center ? (cellH - item.height) / 2 : cellH - item.height;
        }
        const int64_t slotW = int64_t(w) + 2 * ring, slotH = int64_t(h) + 2 * ring;
        const auto cellX = static_cast<int32_t>(border + c.x + ring), cellY = static_cast<int32_t>(border + c.y + ring);
        layout.places[i] = LayoutPlace{0, cellX + dx, cellY + dy, cellX, cellY};
        right = std::max(right, c.x + slotW);
        bottom = std::max(bottom, c.y + slotH);
        checkCanvasExtent(Limits{}, right + 2 * border + pad, bottom + 2 * border + pad);
        advanceCursor(c, static_cast<int32_t>(slotW + pad), static_cast<int32_t>(slotH + pad));
    }
    auto side = [&](int64_t extent) {
        const int64_t s = std::max<int64_t>(1, extent + 2 * border);
        return o.pot ? powerOfTwoAtLeast(s) : s;
    };
    const int64_t width = side(right), height = side(bottom);
    checkCanvasExtent(Limits{}, width, height);
    layout.pages.push_back(LayoutPageSize{static_cast<int32_t>(width), static_cast<int32_t>(height)});
    return layout;
}

}  // namespace

SheetLayout layoutSheet(const std::vector<LayoutItem>& items, GridShape grid, const LayoutOptions& options) {
    SheetLayout layout =
        options.pack == PackMode::MaxRects ? packSheet(items, options) : gridSheet(items, grid, options);
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].sameAs >= 0) layout.places[i] = layout.places[static_cast<size_t>(items[i].sameAs)];
    return layout;
}

}  // namespace glx::app
