#include "raster/bmp.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "base/exception.h"
#include "base/limits.h"
#include "base/stream.h"

namespace glx {

namespace {

constexpr uint16_t kTypeBM = 0x4D42;
constexpr uint32_t kCompressNone = 0, kCompressRLE8 = 1, kCompressRLE4 = 2, kCompressBitFields = 3;

[[noreturn]] void invalid() { throw EInvalidGraphic("Bitmap image is not valid"); }

struct InfoHeader {
    int64_t width = 0, height = 0;
    uint16_t planes = 0, bitCount = 0;
    uint32_t compression = 0, sizeImage = 0, colorsUsed = 0;
    int32_t xPelsPerMeter = 0, yPelsPerMeter = 0;
    BitMasks masks;
    bool os2 = false;
};

InfoHeader readInfoHeader(ByteReader& r) {
    InfoHeader h;
    const size_t start = r.position();
    const uint32_t size = r.u32le();
    if (size == 12) {
        h.os2 = true;
        h.width = r.u16le();
        h.height = r.u16le();
        h.planes = r.u16le();
        h.bitCount = r.u16le();
        return h;
    }
    if (size < 40) invalid();
    h.width = r.i32le();
    h.height = r.i32le();
    h.planes = r.u16le();
    h.bitCount = r.u16le();
    h.compression = r.u32le();
    h.sizeImage = r.u32le();
    h.xPelsPerMeter = r.i32le();
    h.yPelsPerMeter = r.i32le();
    h.colorsUsed = r.u32le();
    r.u32le();  // colours important: not used
    if (size >= 52 && h.compression == kCompressBitFields) {
        // Longer headers carry the masks themselves.
        h.masks.red = r.u32le();
        h.masks.green = r.u32le();
        h.masks.blue = r.u32le();
    }
    r.seek(start + size);  // the rest of a longer header is not used
    if (size == 40 && h.compression == kCompressBitFields && (h.bitCount == 16 || h.bitCount == 32)) {
        h.masks.red = r.u32le();
        h.masks.green = r.u32le();
        h.masks.blue = r.u32le();
    }
    return h;
}

void validate(const InfoHeader& h) {
    if (h.planes != 1) invalid();
    switch (h.bitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            invalid();
    }
    switch (h.compression) {
        case kCompressNone:
            break;
        case kCompressBitFields:
            if (h.bitCount != 16 && h.bitCount != 32) invalid();
            break;
        case kCompressRLE8:
            if (h.bitCount != 8 || h.height < 0) invalid();
            break;
        case kCompressRLE4:
            if (h.bitCount != 4 || h.height < 0) invalid();
            break;
        default:
            invalid();  // embedded JPEG/PNG and other codes have no decoder here
    }
    if (h.width < 0) invalid();
}

// Run-length decoding (RLE8 and RLE4). Rows are counted from the bottom;
// pixels the data never reaches keep index 0. Runs that leave the picture
// are clipped; the data ending early ends the picture.
void decodeRle(ByteReader& r, TDib& dib, bool fourBit) {
    const int32_t width = dib.width(), height = dib.height();
    int64_t x = 0, y = 0;
    auto put = [&](uint32_t value) {
        if (x < width && y < height) dib.setIndex(static_cast<int32_t>(x), static_cast<int32_t>(height - 1 - y), value);
        ++x;
    };
    while (r.has(2) && y < height) {
        const uint8_t count = r.u8();
        const uint8_t value = r.u8();
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(fourBit ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of picture
            break;
        } else if (value == 2) {  // delta
            if (!r.has(2)) break;
            x += r.u8();
            y += r.u8();
        } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = fourBit ? (size_t(value) + 1) / 2 : value;
            if (!r.has(bytes)) break;
            auto data = r.take(bytes);
            for (int i = 0; i < value; ++i) {
                if (fourBit)
                    put((i & 1) ? (data[size_t(i) / 2] & 0x0F) : (data[size_t(i) / 2] >> 4));
                else
                    put(data[size_t(i)]);
            }
            if ((bytes & 1) && r.has(1)) r.skip(1);
        }
    }
}

void putU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

BmpImage decodeBmp(std::span<const uint8_t> file) {
    BmpImage image;
    if (file.empty()) return image;
    ByteReader r(file);
    if (r.u16le() != kTypeBM) invalid();
    r.u32le();  // file size: not trusted
    r.u32le();  // reserved
    const uint32_t dataOffset = r.u32le();

    InfoHeader h = readInfoHeader(r);
    validate(h);
    const int64_t height = h.height < 0 ? -h.height : h.height;
    const bool topDown = h.height < 0;
    // Refuse oversized pictures before anything is allocated for them.
    checkPictureSize(h.width, height, h.bitCount);

    // Colour table: the colours-used count, else the full table of an
    // indexed format. Entries beyond what the format can address are read
    // past but not kept.
    uint64_t entries = h.colorsUsed ? h.colorsUsed : (h.bitCount <= 8 ? (uint64_t(1) << h.bitCount) : 0);
    const size_t entrySize = h.os2 ? 3 : 4;
    if (!r.has(static_cast<size_t>(entries * entrySize))) throw EReadError("Stream read error");
    const uint64_t keep = std::min<uint64_t>(entries, h.bitCount <= 8 ? (uint64_t(1) << h.bitCount) : 256);
    std::vector<RGBQuad> table(static_cast<size_t>(keep));
    for (uint64_t i = 0; i < entries; ++i) {
        auto e = r.take(entrySize);
        if (i < keep) table[static_cast<size_t>(i)] = RGBQuad{e[0], e[1], e[2], 0};
    }

    // The pixel data normally follows the table; a pixel-data offset that
    // points further on (a gap, as some writers leave) is honoured when it
    // stays inside the file.
    if (dataOffset > r.position() && dataOffset < r.size()) r.seek(dataOffset);

    image.os2 = h.os2;
    image.xPelsPerMeter = h.xPelsPerMeter;
    image.yPelsPerMeter = h.yPelsPerMeter;
    const int32_t w = static_cast<int32_t>(h.width), ht = static_cast<int32_t>(height);

    if (h.compression == kCompressRLE8 || h.compression == kCompressRLE4) {
        TDib dib(w, ht, h.bitCount, std::move(table));
        const size_t available =
            h.sizeImage ? std::min<size_t>(h.sizeImage, r.remaining()) : r.remaining();
        ByteReader data(r.take(available));
        decodeRle(data, dib, h.compression == kCompressRLE4);
        image.dib = std::move(dib);
        image.keptBytes.assign(file.begin(), file.end());
        return image;
    }

    TDib dib(w, ht, h.bitCount, std::move(table), h.masks);
    const uint64_t stride = dib.stride();
    const uint64_t full = stride * static_cast<uint64_t>(ht);
    const uint64_t promised = h.sizeImage ? h.sizeImage : full;
    uint64_t left = std::min<uint64_t>({promised, full, r.remaining()});
    for (int32_t i = 0; i < ht && left > 0; ++i) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(stride, left));
        r.copy(dib.row(topDown ? i : ht - 1 - i), n);
        left -= n;
    }
    image.dib = std::move(dib);
    return image;
}

void encodeBmp(TStream& out, const TDib& dib, bool os2, int32_t xPelsPerMeter, int32_t yPelsPerMeter) {
    const int bpp = dib.bitsPerPixel();
    const uint64_t imageSize = uint64_t(dib.stride()) * static_cast<uint64_t>(dib.height());
    if (os2 && (dib.width() > 0xFFFF || dib.height() > 0xFFFF)) os2 = false;

    // Colour table to write. A one-bit surface without one is black/white.
    std::vector<RGBQuad> table = dib.colorTable();
    if (os2) {
        table.resize(bpp <= 8 ? (size_t(1) << bpp) : 0);
    } else if (table.empty() && bpp <= 8) {
        table.resize(size_t(1) << bpp);
    }
    if (bpp == 1 && dib.colorTable().empty()) table[1] = RGBQuad{255, 255, 255, 0};

    const BitMasks& m = dib.masks();
    const bool masks = !os2 && bpp > 8 && (m.red || m.green || m.blue);
    const uint32_t headerPart =
        os2 ? static_cast<uint32_t>(12 + 3 * table.size())
            : static_cast<uint32_t>(40 + (masks ? 12 : 0) + 4 * table.size());

    std::vector<uint8_t> head;
    putU16(head, kTypeBM);
    putU32(head, static_cast<uint32_t>(14 + headerPart + imageSize));
    putU32(head, 0);
    putU32(head, 14 + headerPart);
    if (os2) {
        putU32(head, 12);
        putU16(head, static_cast<uint32_t>(dib.width()));
        putU16(head, static_cast<uint32_t>(dib.height()));
        putU16(head, 1);
        putU16(head, static_cast<uint32_t>(bpp));
        for (const RGBQuad& q : table) {
            head.push_back(q.blue);
            head.push_back(q.green);
            head.push_back(q.red);
        }
    } else {
        putU32(head, 40);
        putU32(head, static_cast<uint32_t>(dib.width()));
        putU32(head, static_cast<uint32_t>(dib.height()));
        putU16(head, 1);
        putU16(head, static_cast<uint32_t>(bpp));
        putU32(head, masks ? kCompressBitFields : kCompressNone);
        putU32(head, static_cast<uint32_t>(imageSize));
        putU32(head, static_cast<uint32_t>(xPelsPerMeter));
        putU32(head, static_cast<uint32_t>(yPelsPerMeter));
        putU32(head, static_cast<uint32_t>(table.size()));
        putU32(head, 0);
        if (masks) {
            putU32(head, m.red);
            putU32(head, m.green);
            putU32(head, m.blue);
        }
        for (const RGBQuad& q : table) {
            head.push_back(q.blue);
            head.push_back(q.green);
            head.push_back(q.red);
            head.push_back(0);
        }
    }
    out.writeBuffer(head.data(), head.size());

    // Rows bottom-up, gathered into blocks of about a megabyte.
    const size_t stride = dib.stride();
    if (stride == 0) return;
    const size_t rowsPerBlock = std::max<size_t>(1, (size_t(1) << 20) / stride);
    std::vector<uint8_t> block;
    block.reserve(rowsPerBlock * stride);
    for (int32_t y = dib.height() - 1; y >= 0; --y) {
        block.insert(block.end(), dib.row(y), dib.row(y) + stride);
        if (block.size() >= rowsPerBlock * stride || y == 0) {
            out.writeBuffer(block.data(), block.size());
            block.clear();
        }
    }
}

}  // namespace glx
