// GIF files for the tests: LZW encoding with the choices a decoder must
// cope with (code widths up to 12 bits, clear codes when the table is full
// or deferred, any sub-block size, literal codes only), a builder that lays
// out blocks byte by byte, and whole animations from frames of indices.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace glxtest {

struct LzwOptions {
    int minCodeSize = 8;
    bool deferredClear = false;  // keep coding with a full table instead of clearing
    int subBlockSize = 255;  // data sub-block length (the last may be shorter)
    bool endCode = true;
};

// The codes of an LZW stream (clear first, end code last) and their widths.
inline std::vector<std::pair<int, int>> lzwCodes(const std::vector<uint8_t>& values, const LzwOptions& opt) {
    const int clear = 1 << opt.minCodeSize, end = clear + 1;
    std::vector<std::pair<int, int>> codes;
    std::map<std::pair<int, int>, int> dict;
    int nextCode = clear + 2;
    bool full = false;
    auto width = [&]() {
        int w = opt.minCodeSize + 1;
        while (w < 12 && nextCode - 1 >= (1 << w)) ++w;
        return w;
    };
    auto reset = [&]() {
        dict.clear();
        nextCode = clear + 2;
        full = false;
    };
    codes.push_back({clear, opt.minCodeSize + 1});
    int prefix = -1;
    for (uint8_t v : values) {
        if (prefix < 0) {
            prefix = v;
            continue;
        }
        auto it = dict.find({prefix, v});
        if (it != dict.end()) {
            prefix = it->second;
            continue;
        }
        codes.push_back({prefix, width()});
        if (!full) {
            dict[{prefix, v}] = nextCode++;
            if (nextCode == 4096) {
                if (opt.deferredClear) {
                    full = true;
                } else {
                    codes.push_back({clear, width()});
                    reset();
                }
            }
        }
        prefix = v;
    }
    if (prefix >= 0) codes.push_back({prefix, width()});
    if (opt.endCode) {
        // After the last code the decoder adds one more entry.
        if (prefix >= 0 && !full && nextCode < 4096) ++nextCode;
        codes.push_back({end, width()});
    }
    return codes;
}

// Packs codes least significant bit first into sub-blocks; returns the
// minimum code size byte, the sub-blocks and the terminator.
inline std::vector<uint8_t> packCodes(const std::vector<std::pair<int, int>>& codes, int minCodeSize, int subBlockSize,
                                      bool terminator = true) {
    std::vector<uint8_t> data;
    uint32_t acc = 0;
    int bits = 0;
    for (auto [code, w] : codes) {
        acc |= uint32_t(code) << bits;
        bits += w;
        while (bits >= 8) {
            data.push_back(uint8_t(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) data.push_back(uint8_t(acc & 0xFF));
    std::vector<uint8_t> out{uint8_t(minCodeSize)};
    for (size_t i = 0; i < data.size(); i += size_t(subBlockSize)) {
        size_t n = std::min(data.size() - i, size_t(subBlockSize));
        out.push_back(uint8_t(n));
        out.insert(out.end(), data.begin() + long(i), data.begin() + long(i + n));
    }
    if (terminator) out.push_back(0);
    return out;
}

inline std::vector<uint8_t> lzwEncode(const std::vector<uint8_t>& values, const LzwOptions& opt = {}) {
    return packCodes(lzwCodes(values, opt), opt.minCodeSize, opt.subBlockSize);
}

// Rows in the order an interlaced frame stores them.
inline std::vector<uint8_t> interlaceOrder(const std::vector<uint8_t>& pixels, int width, int height) {
    std::vector<uint8_t> out;
    const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
    for (int p = 0; p < 4; ++p)
        for (int y = starts[p]; y < height; y += steps[p])
            out.insert(out.end(), pixels.begin() + long(y) * width, pixels.begin() + long(y + 1) * width);
    return out;
}

struct FrameSpec {
    int left = 0, top = 0, width = 1, height = 1;
    bool interlaced = false;
    int localColorBits = 0;  // 0: no local table; n: 2 << (n - 1) entries
    std::vector<uint8_t> pixels;  // row-major, top row first
    LzwOptions lzw;
};

class GifBuilder {
public:
    std::vector<uint8_t> bytes;

    GifBuilder& raw(std::initializer_list<int> values) {
        for (int v : values) bytes.push_back(uint8_t(v));
        return *this;
    }
    GifBuilder& raw(const std::vector<uint8_t>& values) {
        bytes.insert(bytes.end(), values.begin(), values.end());
        return *this;
    }
    GifBuilder& u16(int v) { return raw({v & 0xFF, (v >> 8) & 0xFF}); }

    // Colour i of a table: a simple distinct ramp.
    static void colorTable(std::vector<uint8_t>& out, int entries, int seed = 0) {
        for (int i = 0; i < entries; ++i) {
            out.push_back(uint8_t(i * 37 + seed));
            out.push_back(uint8_t(i * 11 + 100 + seed));
            out.push_back(uint8_t(255 - i * 5 - seed));
        }
    }

    // "GIF89a", logical screen, optional global table of 2 << (bits - 1) entries.
    GifBuilder& header(int width, int height, int globalColorBits = 0, int background = 0, const char* sig = "GIF89a") {
        for (int i = 0; i < 6; ++i) bytes.push_back(uint8_t(sig[i]));
        u16(width);
        u16(height);
        int flags = globalColorBits > 0 ? (0x80 | 0x70 | (globalColorBits - 1)) : 0;
        raw({flags, background, 0});
        if (globalColorBits > 0) colorTable(bytes, 2 << (globalColorBits - 1));
        return *this;
    }
    GifBuilder& gce(int delay, int disposal = 0, bool transparent = false, int transparentIndex = 0) {
        raw({0x21, 0xF9, 4, (disposal << 2) | (transparent ? 1 : 0)});
        u16(delay);
        return raw({transparentIndex, 0});
    }
    GifBuilder& comment(const std::string& text) {
        raw({0x21, 0xFE, int(text.size())});
        bytes.insert(bytes.end(), text.begin(), text.end());
        return raw({0});
    }
    GifBuilder& loop(int count, const char* ident = "NETSCAPE2.0") {
        raw({0x21, 0xFF, 11});
        for (int i = 0; i < 11; ++i) bytes.push_back(uint8_t(ident[i]));
        raw({3, 1});
        u16(count);
        return raw({0});
    }
    GifBuilder& descriptor(int left, int top, int width, int height, int flags) {
        raw({0x2C});
        u16(left);
        u16(top);
        u16(width);
        u16(height);
        return raw({flags});
    }
    GifBuilder& image(const FrameSpec& f) {
        int flags = (f.interlaced ? 0x40 : 0) | (f.localColorBits > 0 ? 0x80 | (f.localColorBits - 1) : 0);
        descriptor(f.left, f.top, f.width, f.height, flags);
        if (f.localColorBits > 0) colorTable(bytes, 2 << (f.localColorBits - 1), 7);
        std::vector<uint8_t> order = f.interlaced ? interlaceOrder(f.pixels, f.width, f.height) : f.pixels;
        return raw(lzwEncode(order, f.lzw));
    }
    // A width x height frame of one colour index, sequential.
    GifBuilder& solid(int width, int height, uint8_t index, int left = 0, int top = 0, int minCodeSize = 2) {
        FrameSpec f;
        f.left = left;
        f.top = top;
        f.width = width;
        f.height = height;
        f.pixels.assign(size_t(width) * size_t(height), index);
        f.lzw.minCodeSize = minCodeSize;
        return image(f);
    }
    GifBuilder& trailer() { return raw({0x3B}); }
};

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> indices;  // width * height, top row first
    int delay = 0;
    int disposal = 0;
    int transparent = -1;  // index, or -1 for none
    bool withControl = true;
};

inline std::string lzwLiteral(const std::vector<uint8_t>& indices) {
    const int minCodeSize = 8, clear = 256, end = 257, width = 9;
    std::vector<int> codes{clear};
    int sinceClear = 0;
    for (uint8_t v : indices) {
        if (sinceClear == 254) {
            codes.push_back(clear);
            sinceClear = 0;
        }
        codes.push_back(v);
        ++sinceClear;
    }
    codes.push_back(end);
    std::string bytes;
    uint32_t acc = 0;
    int bits = 0;
    for (int c : codes) {
        acc |= static_cast<uint32_t>(c) << bits;
        bits += width;
        while (bits >= 8) {
            bytes += static_cast<char>(acc & 0xFF);
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) bytes += static_cast<char>(acc & 0xFF);
    std::string out(1, static_cast<char>(minCodeSize));
    for (size_t i = 0; i < bytes.size(); i += 255) {
        std::string block = bytes.substr(i, 255);
        out += static_cast<char>(block.size());
        out += block;
    }
    out += '\0';
    return out;
}

// palette: 256 RGB triples (missing entries black).
inline std::string makeGif(int screenW, int screenH, const std::vector<uint8_t>& palette,
                           const std::vector<GifFrame>& frames) {
    auto u16 = [](int v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; };
    std::string s = "GIF89a" + u16(screenW) + u16(screenH);
    s += static_cast<char>(0xF7);  // global table of 256 entries
    s += '\0';
    s += '\0';
    std::string table(768, '\0');
    for (size_t i = 0; i < palette.size() && i < 768; ++i) table[i] = static_cast<char>(palette[i]);
    s += table;
    for (const auto& f : frames) {
        if (f.withControl) {
            s += "\x21\xF9\x04";
            s += static_cast<char>((f.disposal << 2) | (f.transparent >= 0 ? 1 : 0));
            s += u16(f.delay);
            s += static_cast<char>(f.transparent >= 0 ? f.transparent : 0);
            s += '\0';
        }
        s += ',' + u16(f.left) + u16(f.top) + u16(f.width) + u16(f.height);
        s += '\0';
        s += lzwLiteral(f.indices);
    }
    s += ';';
    return s;
}

}  // namespace glxtest
