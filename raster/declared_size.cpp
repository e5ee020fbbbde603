#include "raster/declared_size.h"

#include <array>

#include "base/byte_reader.h"
#include "base/exception.h"
#include "base/stream.h"

namespace glx {

namespace {

constexpr std::array<uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// A JPEG file whose frame header lies further in is not worth the reads.
constexpr int kMaxJpegSegments = 256;

std::optional<DeclaredSize> sized(int64_t width, int64_t height) {
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return std::nullopt;
    return DeclaredSize{static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

std::optional<DeclaredSize> pngSize(ByteReader& r) {
    r.skip(kPngSignature.size());
    if (r.u32be() != 13) return std::nullopt;
    const auto type = r.take(4);
    if (type[0] != 'I' || type[1] != 'H' || type[2] != 'D' || type[3] != 'R') return std::nullopt;
    const uint32_t width = r.u32be();
    return sized(width, r.u32be());
}

std::optional<DeclaredSize> bmpSize(ByteReader& r) {
    r.skip(14);  // file header
    const uint32_t headerSize = r.u32le();
    if (headerSize == 12) {
        const uint16_t width = r.u16le();
        return sized(width, r.u16le());
    }
    if (headerSize < 40) return std::nullopt;
    const int64_t width = r.i32le(), height = r.i32le();
    return sized(width, height < 0 ? -height : height);
}

bool isFrameHeader(uint8_t marker) {
    // SOF0-SOF15 but DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the marker segments from the start of image to the first frame
// header, reading only segment headers.
std::optional<DeclaredSize> jpegSize(TStream& stream) {
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
            return sized(r.u16be(), height);
        }
        at += 2 + fill + length;
    }
    return std::nullopt;
}

}  // namespace

std::optional<DeclaredSize> declaredPictureSize(TStream& stream) {
    try {
        std::array<uint8_t, 30> head{};
        stream.setPosition(0);
        const size_t got = stream.read(head.data(), head.size());
        ByteReader r(head.data(), got);
        if (got >= 8 && std::equal(kPngSignature.begin(), kPngSignature.end(), head.begin())) return pngSize(r);
        if (got >= 2 && head[0] == 'B' && head[1] == 'M') return bmpSize(r);
        if (got >= 2 && head[0] == 0xFF && head[1] == 0xD8) return jpegSize(stream);
    } catch (const Exception&) {
    }
    return std::nullopt;
}

std::optional<DeclaredSize> declaredPictureSize(const std::string& path) {
    try {
        TFileStream stream(path, FileAccess::Read);
        return declaredPictureSize(stream);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

}  // namespace glx
