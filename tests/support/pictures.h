// Builders of pictures for the tests, one set for every test program:
// PNG chunks and streams, 24-bit BMP files (and a reader for them), and
// noise that no compressor shrinks. GIF files are built with gif_builder.h;
// libpng writes and reads reference PNGs in app/png_oracle.h.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace glxtest {

inline void be32(std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void le16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}
inline void le32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::string pngChunk(const std::string& type, const std::string& payload) {
    std::string s;
    be32(s, static_cast<uint32_t>(payload.size()));
    std::string body = type + payload;
    s += body;
    be32(s,
         static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
    return s;
}

inline std::string pngSignature() { return std::string("\x89PNG\r\n\x1a\n", 8); }

inline std::string ihdr(uint32_t w, uint32_t h, uint8_t depth = 8, uint8_t colorType = 2) {
    std::string p;
    be32(p, w);
    be32(p, h);
    p += static_cast<char>(depth);
    p += static_cast<char>(colorType);
    p += std::string(3, '\0');
    return pngChunk("IHDR", p);
}

// Streams `count` zero bytes through deflate without holding them.
inline std::string deflateZeros(uint64_t count, int level = 9) {
    z_stream z{};
    deflateInit(&z, level);
    std::vector<unsigned char> zeros(1 << 16, 0), out(1 << 16);
    std::string result;
    uint64_t left = count;
    int flush = Z_NO_FLUSH;
    do {
        uInt n = static_cast<uInt>(left < zeros.size() ? left : zeros.size());
        left -= n;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = zeros.data();
        z.avail_in = n;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            result.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    return result;
}

// An RGB PNG of w x h whose image data is the given zlib stream.
inline std::string pngWithIdat(uint32_t w, uint32_t h, const std::string& zlibData, const std::string& extra = "") {
    return pngSignature() + ihdr(w, h) + extra + pngChunk("IDAT", zlibData) + pngChunk("IEND", "");
}

struct Rgb {
    uint8_t r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct Picture24 {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;  // top row first
    Rgb at(int x, int y) const { return pixels.at(static_cast<size_t>(y * width + x)); }
};

// The 54-byte headers of a BMP of w x h (bottom-up unless h < 0) at bits
// per pixel and compression, with the file and image sizes as given (a test
// may make them lie).
inline std::string bmpHeader(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t fileSize,
                             uint32_t imageSize) {
    std::string s = "BM";
    le32(s, fileSize);
    le32(s, 0);
    le32(s, 54);
    le32(s, 40);
    le32(s, static_cast<uint32_t>(w));
    le32(s, static_cast<uint32_t>(h));
    le16(s, 1);
    le16(s, bits);
    le32(s, compression);
    le32(s, imageSize);
    for (int i = 0; i < 4; ++i) le32(s, 0);
    return s;
}

inline std::string bmpHeader24(int32_t w, int32_t h, uint32_t fileSize, uint32_t imageSize) {
    return bmpHeader(w, h, 24, 0, fileSize, imageSize);
}

inline uint32_t bmpStride24(int w) { return (static_cast<uint32_t>(w) * 3 + 3) & ~3u; }

inline std::string makeBmp(int w, int h, Rgb (*color)(int x, int y, void*), void* ctx = nullptr) {
    const uint32_t stride = bmpStride24(w);
    std::string s = bmpHeader24(w, h, 54 + stride * static_cast<uint32_t>(h), stride * static_cast<uint32_t>(h));
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
    return makeBmp(
        w, h, [](int, int, void* p) { return *static_cast<Rgb*>(p); }, &c);
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
    p.pixels.resize(static_cast<size_t>(p.width * p.height));
    for (int y = 0; y < p.height; ++y) {
        size_t row = offset + static_cast<size_t>(topDown ? y : p.height - 1 - y) * stride;
        for (int x = 0; x < p.width; ++x) {
            size_t at = row + 3 * static_cast<size_t>(x);
            p.pixels[static_cast<size_t>(y * p.width + x)] =
                Rgb{uint8_t(s.at(at + 2)), uint8_t(s.at(at + 1)), uint8_t(s.at(at))};
        }
    }
    return p;
}

// Pseudo-random bytes that no compressor shrinks (the high bits of a
// linear congruential generator; its low bits are too regular).
inline uint8_t noise(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(state >> 24);
}

// A 24-bit BMP of w x h noise.
inline std::string noiseBmp(int w, int h, uint32_t seed) {
    const uint32_t stride = bmpStride24(w);
    std::string s = bmpHeader24(w, h, 54 + stride * static_cast<uint32_t>(h), 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) s += static_cast<char>(noise(seed));
        }
        s += std::string(stride - static_cast<uint32_t>(w) * 3, '\0');
    }
    return s;
}

// An RGBA PNG of w x h noise (filter 0 rows).
inline std::string noisePng(uint32_t w, uint32_t h, uint32_t seed) {
    std::string raw;
    for (uint32_t y = 0; y < h; ++y) {
        raw += '\0';
        for (uint32_t x = 0; x < w * 4; ++x) raw += static_cast<char>(noise(seed));
    }
    uLongf size = compressBound(raw.size());
    std::string z(size, '\0');
    compress2(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 6);
    z.resize(size);
    std::string head;
    be32(head, w);
    be32(head, h);
    head += '\x08';
    head += '\x06';
    head += std::string(3, '\0');
    return pngSignature() + pngChunk("IHDR", head) + pngChunk("IDAT", z) + pngChunk("IEND", "");
}

}  // namespace glxtest
