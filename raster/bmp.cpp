#include "raster/bmp.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/byte_reader.h"
#include "base/exception.h"
#include "base/large_buffer.h"
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

// Everything a BMP file says before its pixel data.
struct BmpLayout {
    InfoHeader h;
    std::vector<RGBQuad> table;
    int32_t width = 0, height = 0;
    bool topDown = false;
    uint64_t pixelStart = 0;  // file offset of the pixel data
    bool compressed() const { return h.compression == kCompressRLE8 || h.compression == kCompressRLE4; }
};

// Reads the headers and the colour table. r holds the file from its first
// byte, or only a leading part of it; fileSize is the whole file's size.
BmpLayout readLayout(ByteReader& r, uint64_t fileSize) {
    BmpLayout l;
    if (r.u16le() != kTypeBM) invalid();
    r.u32le();  // file size: not trusted
    r.u32le();  // reserved
    const uint32_t dataOffset = r.u32le();

    InfoHeader& h = l.h;
    h = readInfoHeader(r);
    validate(h);
    const int64_t height = h.height < 0 ? -h.height : h.height;
    l.topDown = h.height < 0;
    // Refuse oversized pictures before anything is allocated for them.
    checkPictureSize(h.width, height, h.bitCount);
    l.width = static_cast<int32_t>(h.width);
    l.height = static_cast<int32_t>(height);

    // Colour table: the colours-used count, else the full table of an
    // indexed format. Entries beyond what the format can address are read
    // past but not kept.
    uint64_t entries = h.colorsUsed ? h.colorsUsed : (h.bitCount <= 8 ? (uint64_t(1) << h.bitCount) : 0);
    const size_t entrySize = h.os2 ? 3 : 4;
    if (!r.has(static_cast<size_t>(entries * entrySize))) throw EReadError("Stream read error");
    const uint64_t keep = std::min<uint64_t>(entries, h.bitCount <= 8 ? (uint64_t(1) << h.bitCount) : 256);
    l.table.resize(static_cast<size_t>(keep));
    for (uint64_t i = 0; i < entries; ++i) {
        auto e = r.take(entrySize);
        if (i < keep) l.table[static_cast<size_t>(i)] = RGBQuad{e[0], e[1], e[2], 0};
    }

    // The pixel data normally follows the table; a pixel-data offset that
    // points further on (a gap, as some writers leave) is honoured when it
    // stays inside the file.
    l.pixelStart = r.position();
    if (dataOffset > l.pixelStart && dataOffset < fileSize) l.pixelStart = dataOffset;
    return l;
}

BmpImage startImage(const BmpLayout& l) {
    BmpImage image;
    image.os2 = l.h.os2;
    image.xPelsPerMeter = l.h.xPelsPerMeter;
    image.yPelsPerMeter = l.h.yPelsPerMeter;
    return image;
}

// Uncompressed pixel data: whole rows in file order (bottom-up unless the
// height was negative), as many as the data holds and the image-size field
// promises; rows the data does not reach stay 0. read(dst, n) delivers the
// next n bytes of the pixel data.
template <class Read>
TDib readRows(const BmpLayout& l, uint64_t available, Read read) {
    TDib dib(l.width, l.height, l.h.bitCount, l.table, l.h.masks);
    const uint64_t stride = dib.stride();
    const uint64_t full = stride * static_cast<uint64_t>(l.height);
    const uint64_t promised = l.h.sizeImage ? l.h.sizeImage : full;
    uint64_t left = std::min<uint64_t>({promised, full, available});
    for (int32_t i = 0; i < l.height && left > 0; ++i) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(stride, left));
        read(dib.row(l.topDown ? i : l.height - 1 - i), n);
        left -= n;
    }
    return dib;
}

// Bytes read first from a stream: enough for the headers and colour table
// of any ordinary file.
constexpr size_t kHeadBytes = size_t(64) << 10;

}  // namespace

BmpImage decodeBmp(std::span<const uint8_t> file) {
    if (file.empty()) return BmpImage{};
    ByteReader r(file);
    const BmpLayout l = readLayout(r, file.size());
    r.seek(static_cast<size_t>(l.pixelStart));
    BmpImage image = startImage(l);

    if (l.compressed()) {
        TDib dib(l.width, l.height, l.h.bitCount, l.table);
        const size_t available =
            l.h.sizeImage ? std::min<size_t>(l.h.sizeImage, r.remaining()) : r.remaining();
        ByteReader data(r.take(available));
        decodeRle(data, dib, l.h.compression == kCompressRLE4);
        image.dib = std::move(dib);
        image.keptBytes.assign(file.begin(), file.end());
        return image;
    }
    image.dib = readRows(l, r.remaining(), [&](uint8_t* dst, size_t n) { r.copy(dst, n); });
    return image;
}

BmpImage readBmp(TStream& stream) {
    const int64_t start = stream.position();
    const uint64_t total = static_cast<uint64_t>(std::max<int64_t>(stream.remaining(), 0));
    if (total == 0) return BmpImage{};

    // Uncompressed files: parse the head, then read the pixel rows straight
    // into the picture, without holding the file in memory as well.
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(total, kHeadBytes)));
    stream.readBuffer(head.data(), head.size());
    if (head.size() < total) {
        std::optional<BmpLayout> layout;
        try {
            ByteReader r(head);
            layout = readLayout(r, total);
        } catch (const EReadError&) {
            // The head ends inside the headers or the colour table: such a
            // file is read whole below, which tells truncation apart.
        }
        if (layout && !layout->compressed()) {
            const BmpLayout& l = *layout;
            uint64_t pos = l.pixelStart;  // file offset of the next pixel byte
            if (pos > head.size()) stream.setPosition(start + static_cast<int64_t>(pos));
            BmpImage image = startImage(l);
            image.dib = readRows(l, total - l.pixelStart, [&](uint8_t* dst, size_t n) {
                if (pos < head.size()) {
                    const size_t k = std::min<size_t>(n, head.size() - static_cast<size_t>(pos));
                    std::memcpy(dst, head.data() + pos, k);
                    dst += k;
                    n -= k;
                    pos += k;
                }
                stream.readBuffer(dst, n);
                pos += n;
            });
            stream.setPosition(start + static_cast<int64_t>(total));
            return image;
        }
    }

    LargeBuffer file(static_cast<size_t>(total));
    std::memcpy(file.data(), head.data(), head.size());
    if (total > head.size()) stream.readBuffer(file.data() + head.size(), static_cast<size_t>(total) - head.size());
    return decodeBmp(std::span<const uint8_t>(file.data(), file.size()));
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
