#include "raster/declared_size.h"

#include <algorithm>
#include <array>

#include "base/byte_reader.h"
#include "base/exception.h"
#include "base/limits.h"
#include "base/stream.h"

namespace glx {

namespace {

constexpr std::array<uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// A JPEG file whose frame header lies further in is not worth the reads.
constexpr int kMaxJpegSegments = 256;
// Bytes deflate can make of one byte at best, and pixels a BMP run-length
// code of 2 bytes can give.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kMaxRunPixels = 255;

// The size, when the file's bytes could fill at least 1/dataShare of the
// data it needs at its format's best ratio (the readers refuse the others
// before taking memory, and so does the hint).
std::optional<DeclaredSize> sized(int64_t width, int64_t height, uint64_t needed, uint64_t canFill,
                                  const Limits& limits) {
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return std::nullopt;
    const uint64_t share = std::max<uint64_t>(limits.dataShare, 1);
    if (canFill < needed / share + (needed % share != 0)) return std::nullopt;
    return DeclaredSize{static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

int pngChannels(uint8_t colorType) {
    switch (colorType) {
        case 0:
        case 3:
            return 1;
        case 2:
            return 3;
        case 4:
            return 2;
        case 6:
            return 4;
        default:
            return 0;
    }
}

std::optional<DeclaredSize> pngSize(ByteReader& r, uint64_t fileBytes, const Limits& limits) {
    r.skip(kPngSignature.size());
    if (r.u32be() != 13) return std::nullopt;
    const auto type = r.take(4);
    if (type[0] != 'I' || type[1] != 'H' || type[2] != 'D' || type[3] != 'R') return std::nullopt;
    const uint32_t width = r.u32be(), height = r.u32be();
    const uint8_t depth = r.u8(), channels = static_cast<uint8_t>(pngChannels(r.u8()));
    if (channels == 0 || uint64_t(width) * height > limits.pixels) return std::nullopt;
    // Filtered rows: a filter byte and the row's samples each.
    const uint64_t rows = uint64_t(height) * (1 + rowBytes(width, uint64_t(depth) * channels));
    return sized(width, height, rows, fileBytes * kMaxDeflateRatio, limits);
}

std::optional<DeclaredSize> bmpSize(ByteReader& r, uint64_t fileBytes, const Limits& limits) {
    r.skip(14);  // file header
    const uint32_t headerSize = r.u32le();
    int64_t width = 0, height = 0;
    uint32_t bitCount = 0, compression = 0;
    if (headerSize == 12) {
        width = r.u16le();
        height = r.u16le();
        r.skip(2);  // planes
        bitCount = r.u16le();
    } else if (headerSize >= 40) {
        width = r.i32le();
        height = r.i32le();
        height = height < 0 ? -height : height;
        r.skip(2);  // planes
        bitCount = r.u16le();
        compression = r.u32le();
    } else {
        return std::nullopt;
    }
    if (width < 1 || bitCount == 0 || bitCount > 32 || uint64_t(width) * uint64_t(height) > limits.pixels)
        return std::nullopt;
    if (compression == 1 || compression == 2)  // run-length data
        return sized(width, height, uint64_t(width) * uint64_t(height), fileBytes / 2 * kMaxRunPixels, limits);
    return sized(width, height, rowBytes(uint64_t(width), bitCount, 4) * uint64_t(height), fileBytes, limits);
}

bool isFrameHeader(uint8_t marker) {
    // SOF0-SOF15 but DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the marker segments from the start of image to the first frame
// header, reading only segment headers.
std::optional<DeclaredSize> jpegSize(TStream& stream, const Limits& limits) {
    int64_t at = 2;  // past the start-of-image marker
    for (int segment = 0; segment < kMaxJpegSegments; ++segment) {
        std::array<uint8_t, 10> buffer{};
        stream.setPosition(at);
        const size_t got = stream.read(buffer.data(), buffer.size());
        ByteReader r(buffer.data(), got);
        if (r.u8() != 0xFF) return std::nullopt;
        uint8_t marker = r.u8();
        int64_t fill = 0;
        while (marker == 0xFF) {  // fill bytes before a marker
            marker = r.u8();
            ++fill;
        }
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // no frame header before the scan
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length follows
            at += 2 + fill;
            continue;
        }
        const uint16_t length = r.u16be();
        if (length < 2) return std::nullopt;
        if (isFrameHeader(marker)) {
            r.skip(1);  // sample precision
            const uint16_t height = r.u16be();
            const uint16_t width = r.u16be();
            // Its reader asks nothing of the data before decoding.
            if (uint64_t(width) * height > limits.pixels) return std::nullopt;
            return sized(width, height, 0, 0, limits);
        }
        at += 2 + fill + length;
    }
    return std::nullopt;
}

}  // namespace

std::optional<DeclaredSize> declaredPictureSize(TStream& stream, const Limits& limits) {
    try {
        const int64_t size = stream.size();
        if (size <= 0) return std::nullopt;
        const uint64_t fileBytes = static_cast<uint64_t>(size);
        std::array<uint8_t, 34> head{};
        stream.setPosition(0);
        const size_t got = stream.read(head.data(), head.size());
        ByteReader r(head.data(), got);
        if (got >= 8 && std::equal(kPngSignature.begin(), kPngSignature.end(), head.begin()))
            return pngSize(r, fileBytes, limits);
        if (got >= 2 && head[0] == 'B' && head[1] == 'M') return bmpSize(r, fileBytes, limits);
        if (got >= 2 && head[0] == 0xFF && head[1] == 0xD8) return jpegSize(stream, limits);
    } catch (const Exception&) {
    }
    return std::nullopt;
}

std::optional<DeclaredSize> declaredPictureSize(const std::string& path, const Limits& limits) {
    try {
        TFileStream stream(path, FileAccess::Read);
        return declaredPictureSize(stream, limits);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

}  // namespace glx
