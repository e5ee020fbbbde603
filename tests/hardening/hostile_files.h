// Builders of small hostile pictures: headers that declare huge sizes,
// absurd chunk lengths, zlib bombs, runaway progressive JPEGs, and noisy
// pictures that compress badly (for writes that must exceed a size limit).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/jpeg_builder.h"
#include "support/pictures.h"

namespace glxtest {

// A valid-looking PNG header declaring w x h, with a few bytes of image data.
inline std::string hugePng(uint32_t w, uint32_t h) { return pngWithIdat(w, h, deflateZeros(1024)); }

// A GIF whose screen and one frame declare w x h, with a few codes of data.
inline std::string hugeGif(uint16_t w, uint16_t h) {
    std::string s = "GIF89a";
    le16(s, w);
    le16(s, h);
    s += static_cast<char>(0x80);  // global colour table of 2 entries
    s += '\0';
    s += '\0';
    s += std::string("\0\0\0\xff\xff\xff", 6);
    s += ',';
    le16(s, 0);
    le16(s, 0);
    le16(s, w);
    le16(s, h);
    s += '\0';
    s += '\x02';  // minimum code size
    s += std::string("\x02\x44\x01\x00", 4);  // clear, 0, end
    s += ';';
    return s;
}

// A GIF of a screenW x screenH screen with a two-entry global table and
// frames of w x h at (left, top), each behind a graphic control extension
// with the given disposal, whose data holds one pixel (a clear code, index
// 0 and the end code), so that the rest of each frame keeps the fill value.
inline std::string emptyFramesGif(uint16_t screenW, uint16_t screenH, int frames, uint16_t w, uint16_t h,
                                  uint16_t left = 0, uint16_t top = 0, int disposal = 2) {
    std::string s = "GIF89a";
    le16(s, screenW);
    le16(s, screenH);
    s += std::string("\x80\0\0", 3);
    s += std::string("\0\0\0\xff\xff\xff", 6);
    for (int i = 0; i < frames; ++i) {
        s += std::string("\x21\xF9\x04", 3);
        s += static_cast<char>(disposal << 2);
        s += std::string("\x01\0\0\0", 4);
        s += ',';
        le16(s, left);
        le16(s, top);
        le16(s, w);
        le16(s, h);
        s += '\0';
        s += std::string("\x02\x02\x44\x01\x00", 5);  // minimum code size 2; clear, 0, end
    }
    s += ';';
    return s;
}

// A 24-bit BMP header declaring w x h, without pixel data.
inline std::string hugeBmp(int32_t w, int32_t h) { return bmpHeader24(w, h, 54, 0); }

// Compresses a w x h picture (components 1 or 3) with libjpeg; scans, when
// given, is the progressive scan script.
inline std::string encodeJpeg(int w, int h, int components, const std::vector<jpeg_scan_info>& scans = {}) {
    return libjpegEncode({.width = w,
                          .height = h,
                          .components = components,
                          .space = components == 1 ? JCS_GRAYSCALE : JCS_RGB,
                          .scans = scans},
                         [&](int y, uint8_t* row) {
                             for (size_t i = 0; i < size_t(w) * size_t(components); ++i)
                                 row[i] = static_cast<uint8_t>(i * 7 + size_t(y) * 13);
                         });
}

// A small JPEG whose frame header is patched to declare w x h.
inline std::string hugeJpeg(uint16_t w, uint16_t h) {
    std::string j = encodeJpeg(16, 16, 3);
    for (size_t i = 0; i + 8 < j.size(); ++i)
        if (static_cast<uint8_t>(j[i]) == 0xFF && static_cast<uint8_t>(j[i + 1]) == 0xC0) {
            j[i + 5] = static_cast<char>(h >> 8);
            j[i + 6] = static_cast<char>(h & 0xFF);
            j[i + 7] = static_cast<char>(w >> 8);
            j[i + 8] = static_cast<char>(w & 0xFF);
            break;
        }
    return j;
}

// A progressive colour JPEG of exactly `count` scans: the DC of all three
// components in successive-approximation steps, then every AC coefficient
// of each component alone, first pass and refinements, until the count.
inline std::string runawayProgressiveJpeg(int count) {
    std::vector<jpeg_scan_info> scans;
    const int al = 10;
    scans.push_back(jpeg_scan_info{3, {0, 1, 2, 0}, 0, 0, 0, al});
    for (int a = al - 1; a >= 0; --a) scans.push_back(jpeg_scan_info{3, {0, 1, 2, 0}, 0, 0, a + 1, a});
    for (int comp = 0; comp < 3 && static_cast<int>(scans.size()) < count; ++comp)
        for (int k = 1; k < 64 && static_cast<int>(scans.size()) < count; ++k) {
            scans.push_back(jpeg_scan_info{1, {comp, 0, 0, 0}, k, k, 0, al});
            for (int a = al - 1; a >= 0 && static_cast<int>(scans.size()) < count; --a)
                scans.push_back(jpeg_scan_info{1, {comp, 0, 0, 0}, k, k, a + 1, a});
        }
    return encodeJpeg(8, 8, 3, scans);
}

}  // namespace glxtest
