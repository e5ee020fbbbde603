// A minimal GIF writer for end-to-end tests: literal codes only, with a
// clear code often enough that the code width never grows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace glxtest {

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
