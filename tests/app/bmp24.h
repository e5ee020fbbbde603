// A tiny independent 24-bit BMP writer and reader for end-to-end tests.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace glxtest {

struct Rgb {
    uint8_t r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct Picture24 {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // top row first
    Rgb at(int x, int y) const { return pixels.at(static_cast<size_t>(y) * width + x); }
};

inline void put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}
inline void put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::string makeBmp(int w, int h, Rgb (*color)(int x, int y, void*), void* ctx = nullptr) {
    const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
    std::string s = "BM";
    put32(s, 54 + stride * h);
    put32(s, 0);
    put32(s, 54);
    put32(s, 40);
    put32(s, w);
    put32(s, h);
    put16(s, 1);
    put16(s, 24);
    put32(s, 0);
    put32(s, stride * h);
    put32(s, 0);
    put32(s, 0);
    put32(s, 0);
    put32(s, 0);
    for (int y = h - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < w; ++x) {
            Rgb c = color(x, y, ctx);
            row += static_cast<char>(c.b);
            row += static_cast<char>(c.g);
            row += static_cast<char>(c.r);
        }
        row.resize(stride, '\0');
        s += row;
    }
    return s;
}

inline std::string solidBmp(int w, int h, Rgb c) {
    return makeBmp(w, h, [](int, int, void* p) { return *static_cast<Rgb*>(p); }, &c);
}

inline uint32_t get32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s.at(at))) | uint32_t(uint8_t(s.at(at + 1))) << 8 | uint32_t(uint8_t(s.at(at + 2))) << 16 |
           uint32_t(uint8_t(s.at(at + 3))) << 24;
}

// Reads an uncompressed 24-bit BMP with a 40-byte (or larger) header.
inline Picture24 readBmp24(const std::string& s) {
    if (s.size() < 54 || s[0] != 'B' || s[1] != 'M') throw std::runtime_error("not a BMP");
    Picture24 p;
    const uint32_t offset = get32(s, 10);
    p.width = static_cast<int32_t>(get32(s, 18));
    int32_t h = static_cast<int32_t>(get32(s, 22));
    const bool topDown = h < 0;
    p.height = topDown ? -h : h;
    const uint16_t bpp = static_cast<uint16_t>(uint8_t(s.at(28)) | uint8_t(s.at(29)) << 8);
    if (bpp != 24) throw std::runtime_error("not 24-bit: " + std::to_string(bpp));
    const uint32_t stride = (static_cast<uint32_t>(p.width) * 3 + 3) & ~3u;
    p.pixels.resize(static_cast<size_t>(p.width) * p.height);
    for (int y = 0; y < p.height; ++y) {
        size_t row = offset + static_cast<size_t>(topDown ? y : p.height - 1 - y) * stride;
        for (int x = 0; x < p.width; ++x) {
            size_t at = row + 3 * static_cast<size_t>(x);
            p.pixels[static_cast<size_t>(y) * p.width + x] = Rgb{uint8_t(s.at(at + 2)), uint8_t(s.at(at + 1)), uint8_t(s.at(at))};
        }
    }
    return p;
}

}  // namespace glxtest
