#include "png/pixel_rows.h"

#include <cstring>
#include <utility>

#include "base/exception.h"
#include "base/limits.h"
#include "png/chunk_ihdr.h"
#include "png/png_format.h"

namespace glx {

namespace {

using GammaLut = std::array<uint8_t, 256>;

inline uint32_t getPacked(const uint8_t* row, uint32_t k, uint32_t bits) {
    uint32_t bit = k * bits;
    return (row[bit >> 3] >> (8 - bits - (bit & 7))) & ((1u << bits) - 1);
}

inline void setPacked(uint8_t* row, uint32_t x, uint32_t bits, uint32_t value) {
    uint32_t bit = x * bits;
    uint32_t shift = 8 - bits - (bit & 7);
    uint8_t mask = static_cast<uint8_t>(((1u << bits) - 1) << shift);
    row[bit >> 3] = static_cast<uint8_t>((row[bit >> 3] & ~mask) | ((value << shift) & mask));
}

// The identity table: no gamma to apply, so rows can be moved without
// looking every sample up.
bool isIdentity(const GammaLut& table) {
    static const GammaLut identity = [] {
        GammaLut t{};
        for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        return t;
    }();
    return std::memcmp(table.data(), identity.data(), identity.size()) == 0;
}

// ------------------------------------------------------------ byte layouts

// Where one byte of a PNG pixel lives in memory: byte `index` of the
// pixel in the colour plane or the low-byte plane, the alpha plane, or
// nowhere (the low byte of a 16-bit alpha sample).
enum class Plane : uint8_t { None, Color, Low, Alpha };
struct Slot {
    Plane plane = Plane::None;
    uint8_t index = 0;
};
constexpr Slot C(uint8_t i) { return {Plane::Color, i}; }
constexpr Slot L(uint8_t i) { return {Plane::Low, i}; }
constexpr Slot kA{Plane::Alpha, 0};
constexpr Slot kNone{};

// The pixel layout of a colour type and depth of 8 or 16 bits: bytes of a
// PNG pixel, bytes of a pixel in the colour (and low-byte) plane, whether
// colour samples go through the gamma tables, and each PNG byte's slot.
// Reading fills the slots; writing takes them back, writing 0 for the low
// bytes (16-bit samples are written with a zero low byte).
struct Layout {
    uint8_t pngBytes;
    uint8_t memoryBytes;
    bool gamma;
    Slot slots[8];
};

// Colour samples are held blue-green-red; the file has them red first.
constexpr Layout kGrey8{1, 1, false, {C(0)}};
constexpr Layout kGrey16{2, 1, false, {C(0), L(0)}};
constexpr Layout kGreyAlpha8{2, 1, false, {C(0), kA}};
constexpr Layout kGreyAlpha16{4, 1, false, {C(0), L(0), kA, kNone}};
constexpr Layout kRgb8{3, 3, true, {C(2), C(1), C(0)}};
constexpr Layout kRgb16{6, 3, true, {C(2), L(2), C(1), L(1), C(0), L(0)}};
constexpr Layout kRgba8{4, 3, true, {C(2), C(1), C(0), kA}};
constexpr Layout kRgba16{8, 3, true, {C(2), L(2), C(1), L(1), C(0), L(0), kA, kNone}};

// The planes of one memory row.
template <class Byte>
struct Planes {
    Byte* color;
    Byte* low;
    Byte* alpha;
};

// A layout whose PNG bytes are the colour plane's bytes in order: rows of
// it move as whole blocks when no table applies.
constexpr bool isPlainCopy(const Layout& t) {
    if (t.pngBytes != t.memoryBytes) return false;
    for (uint8_t i = 0; i < t.pngBytes; ++i)
        if (t.slots[i].plane != Plane::Color || t.slots[i].index != i) return false;
    return true;
}

constexpr bool hasPlane(const Layout& t, Plane plane) {
    for (uint8_t i = 0; i < t.pngBytes; ++i)
        if (t.slots[i].plane == plane) return true;
    return false;
}

// The planes' pixel at column x0, moved on pixel by pixel (dx columns, or
// one when Step1); planes the layout does not use are never touched.
template <Layout T, bool Step1, class Byte>
struct Cursor {
    static constexpr bool kLow = hasPlane(T, Plane::Low);
    static constexpr bool kAlpha = hasPlane(T, Plane::Alpha);
    Byte* color;
    Byte* low;
    Byte* alpha;
    size_t step;

    Cursor(Planes<Byte> m, uint32_t x0, uint32_t dx)
        : color(m.color + size_t(x0) * T.memoryBytes),
          low(kLow ? m.low + size_t(x0) * T.memoryBytes : nullptr),
          alpha(kAlpha ? m.alpha + x0 : nullptr),
          step(Step1 ? 1 : dx) {}

    void next() {
        color += step * T.memoryBytes;
        if constexpr (kLow) low += step * T.memoryBytes;
        if constexpr (kAlpha) alpha += step;
    }
};

// One PNG row <-> memory row y, pixel k at column x0 + k x dx. The layout,
// whether a gamma table applies and whether dx is 1 are compile-time, so
// each instance is one tight loop over the row.
template <Layout T, bool Gamma, bool Step1>
void storeBytes(Planes<uint8_t> m, const uint8_t* s, uint32_t x0, uint32_t dx, uint32_t n, const GammaLut& g) {
    if constexpr (isPlainCopy(T) && !Gamma && Step1) {
        std::memcpy(m.color + size_t(x0) * T.memoryBytes, s, size_t(n) * T.pngBytes);
        return;
    }
    Cursor<T, Step1, uint8_t> at(m, x0, dx);
    auto put = [&]<size_t I>() {
        constexpr Slot slot = T.slots[I];
        const uint8_t v = s[I];
        if constexpr (slot.plane == Plane::Color) at.color[slot.index] = Gamma ? g[v] : v;
        if constexpr (slot.plane == Plane::Low) at.low[slot.index] = Gamma ? g[v] : v;
        if constexpr (slot.plane == Plane::Alpha) *at.alpha = v;
    };
    for (uint32_t k = 0; k < n; ++k, s += T.pngBytes, at.next()) [&]<size_t... I>(std::index_sequence<I...>) {
            (put.template operator()<I>(), ...);
        }
    (std::make_index_sequence<T.pngBytes>());
}

template <Layout T, bool Gamma, bool Step1>
void loadBytes(Planes<const uint8_t> m, uint8_t* r, uint32_t x0, uint32_t dx, uint32_t n, const GammaLut& g) {
    if constexpr (isPlainCopy(T) && !Gamma && Step1) {
        std::memcpy(r, m.color + size_t(x0) * T.memoryBytes, size_t(n) * T.pngBytes);
        return;
    }
    Cursor<T, Step1, const uint8_t> at(m, x0, dx);
    auto take = [&]<size_t I>() -> uint8_t {
        constexpr Slot slot = T.slots[I];
        if constexpr (slot.plane == Plane::Color) {
            const uint8_t v = at.color[slot.index];
            return Gamma ? g[v] : v;
        } else if constexpr (slot.plane == Plane::Alpha) {
            return *at.alpha;
        } else {
            return 0;  // low bytes are written as 0
        }
    };
    for (uint32_t k = 0; k < n; ++k, r += T.pngBytes, at.next()) [&]<size_t... I>(std::index_sequence<I...>) {
            ((r[I] = take.template operator()<I>()), ...);
        }
    (std::make_index_sequence<T.pngBytes>());
}

// Grey and palette samples below 8 bits: packed in both rows, most
// significant bits first. 2-bit samples are held as 4-bit indices; grey
// samples widen by 5 onto the 16-step grey ramp (0, 85, 170, 255 stay
// exact), palette indices stay as they are.
void storePacked(const TChunkIHDR& h, uint8_t* d, const uint8_t* s, uint32_t x0, uint32_t dx, uint32_t n) {
    const uint32_t depth = h.BitDepth;
    if (depth == kDepth2) {
        const uint32_t scale = h.ColorType == kColorGrey ? 5 : 1;
        for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) setPacked(d, x, 4, getPacked(s, k, 2) * scale);
    } else if (dx == 1 && x0 == 0) {
        std::memcpy(d, s, static_cast<size_t>(rowBytes(n, depth)));
    } else {
        for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) setPacked(d, x, depth, getPacked(s, k, depth));
    }
}

void loadPacked(uint32_t depth, uint8_t* r, const uint8_t* s, uint32_t x0, uint32_t dx, uint32_t n) {
    if (dx == 1 && x0 == 0) {
        std::memcpy(r, s, static_cast<size_t>(rowBytes(n, depth)));
        return;
    }
    std::memset(r, 0, static_cast<size_t>(rowBytes(n, depth)));
    for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) setPacked(r, k, depth, getPacked(s, x, depth));
}

// ------------------------------------------------------------ the table

using StoreFn = void (*)(Planes<uint8_t>, const uint8_t*, uint32_t, uint32_t, uint32_t, const GammaLut&);
using LoadFn = void (*)(Planes<const uint8_t>, uint8_t*, uint32_t, uint32_t, uint32_t, const GammaLut&);

// Both directions of one layout; [gamma][dx == 1].
struct Converter {
    StoreFn store[2][2];
    LoadFn load[2][2];
};

template <Layout T>
constexpr Converter converterOf() {
    return {{{storeBytes<T, false, false>, storeBytes<T, false, true>},
             {storeBytes<T, true, false>, storeBytes<T, true, true>}},
            {{loadBytes<T, false, false>, loadBytes<T, false, true>},
             {loadBytes<T, true, false>, loadBytes<T, true, true>}}};
}

struct Entry {
    uint8_t colorType, depth;
    Layout layout;
    Converter convert;
};

template <Layout T>
constexpr Entry entry(uint8_t colorType, uint8_t depth) {
    return {colorType, depth, T, converterOf<T>()};
}

// Every colour type and depth of 8 bits or more (palette images have no
// 16-bit form); smaller grey and palette samples are packed.
constexpr Entry kEntries[] = {
    entry<kGrey8>(kColorGrey, kDepth8),
    entry<kGrey16>(kColorGrey, kDepth16),
    entry<kGrey8>(kColorPalette, kDepth8),
    entry<kGreyAlpha8>(kColorGreyAlpha, kDepth8),
    entry<kGreyAlpha16>(kColorGreyAlpha, kDepth16),
    entry<kRgb8>(kColorRgb, kDepth8),
    entry<kRgb16>(kColorRgb, kDepth16),
    entry<kRgba8>(kColorRgba, kDepth8),
    entry<kRgba16>(kColorRgba, kDepth16),
};

const Entry* entryFor(uint8_t colorType, uint32_t depth) {
    for (const Entry& e : kEntries)
        if (e.colorType == colorType && e.depth == depth) return &e;
    return nullptr;
}

}  // namespace

PngRowGeometry pngRowGeometry(uint8_t colorType, uint8_t bitDepth, uint32_t width) {
    const uint32_t channels = colorType == kColorRgb         ? 3
                              : colorType == kColorGreyAlpha ? 2
                              : colorType == kColorRgba      ? 4
                                                             : 1;
    const uint32_t bits = channels * bitDepth;
    uint32_t distance = bits / 8;
    if (distance < 1) distance = 1;
    return {static_cast<uint32_t>(rowBytes(width, bits)), distance};
}

uint64_t pngImageDataBytes(uint8_t colorType, uint8_t bitDepth, uint32_t width, uint32_t height, bool interlaced) {
    if (!interlaced) return uint64_t(height) * (uint64_t(pngRowGeometry(colorType, bitDepth, width).rowBytes) + 1);
    uint64_t total = 0;
    for (const Adam7Pass& pass : kAdam7) {
        const uint32_t bytes = pngRowGeometry(colorType, bitDepth, passWidth(width, pass)).rowBytes;
        if (bytes == 0 || pass.row0 >= height) continue;
        total += uint64_t((height - pass.row0 + pass.rowStep - 1) / pass.rowStep) * (uint64_t(bytes) + 1);
    }
    return total;
}

void storePngRow(TChunkIHDR& h, const uint8_t* png, int32_t y, uint32_t x0, uint32_t dx, uint32_t count,
                 const GammaLut& dg) {
    if (h.BitDepth < kDepth8) return storePacked(h, h.PixelRow(y), png, x0, dx, count);
    const Entry* e = entryFor(h.ColorType, h.BitDepth);
    if (!e) throw EInternalError("no row layout for the colour type and depth");
    const bool gamma = e->layout.gamma && !isIdentity(dg);
    e->convert.store[gamma][dx == 1]({h.PixelRow(y), h.LowByteRow(y), h.AlphaRow(y)}, png, x0, dx, count, dg);
}

void loadPngRow(const TChunkIHDR& h, uint8_t* png, int32_t y, uint32_t x0, uint32_t dx, uint32_t count,
                const GammaLut& eg) {
    const uint32_t depth = h.WrittenBitDepth();
    if (depth < kDepth8) return loadPacked(depth, png, h.PixelRow(y), x0, dx, count);
    const Entry* e = entryFor(h.ColorType, depth);
    if (!e) throw EInternalError("no row layout for the colour type and depth");
    const bool gamma = e->layout.gamma && !isIdentity(eg);
    e->convert.load[gamma][dx == 1]({h.PixelRow(y), h.LowByteRow(y), h.AlphaRow(y)}, png, x0, dx, count, eg);
}

}  // namespace glx
