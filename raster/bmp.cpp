#include "raster/bmp.h"

#include <algorithm>

#include "base/exception.h"
#include "base/limits.h"
#include "base/stream.h"
#include "base/stream_reader.h"

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

InfoHeader readInfoHeader(StreamReader& r) {
    InfoHeader h;
    const int64_t start = r.position();
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
    h.width = static_cast<int32_t>(r.u32le());
    h.height = static_cast<int32_t>(r.u32le());
    h.planes = r.u16le();
    h.bitCount = r.u16le();
    h.compression = r.u32le();
    h.sizeImage = r.u32le();
    h.xPelsPerMeter = static_cast<int32_t>(r.u32le());
    h.yPelsPerMeter = static_cast<int32_t>(r.u32le());
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
    if (h.planes != 1 || !isDibBitDepth(h.bitCount)) invalid();
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

// Run-length decoding (RLE8 and RLE4) of the data up to the stream
// position dataEnd. Rows are counted from the bottom; pixels the data never
// reaches keep index 0. Runs that leave the picture are clipped; the data
// ending early ends the picture.
void decodeRle(StreamReader& r, int64_t dataEnd, Dib& dib, bool fourBit) {
    const int32_t width = dib.width(), height = dib.height();
    auto has = [&](uint64_t count) { return count <= static_cast<uint64_t>(dataEnd - r.position()); };
    int64_t x = 0, y = 0;
    auto put = [&](uint32_t value) {
        if (x < width && y < height) dib.setIndex(static_cast<int32_t>(x), static_cast<int32_t>(height - 1 - y), value);
        ++x;
    };
    while (has(2) && y < height) {
        const std::span<const uint8_t> code = r.take(2);
        const uint8_t count = code[0];
        const uint8_t value = code[1];
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(fourBit ? ((i & 1) ? (value & 0x0Fu) : (value >> 4u)) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of picture
            break;
        } else if (value == 2) {  // delta
            if (!has(2)) break;
            const std::span<const uint8_t> delta = r.take(2);
            x += delta[0];
            y += delta[1];
        } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = fourBit ? (size_t(value) + 1) / 2 : value;
            if (!has(bytes)) break;
            const std::span<const uint8_t> data = r.take(bytes);
            for (size_t i = 0; i < value; ++i) {
                if (fourBit) put((i & 1) ? (data[i / 2] & 0x0Fu) : (data[i / 2] >> 4u));
                else put(data[i]);
            }
            if ((bytes & 1) && has(1)) r.skip(1);
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

// Everything a BMP file says before its pixel data. Positions are those of
// the stream.
struct BmpLayout {
    const Limits* limits = nullptr;
    InfoHeader h;
    std::vector<RGBQuad> table;
    int32_t width = 0, height = 0;
    bool topDown = false;
    int64_t fileStart = 0;  // the file's first byte
    int64_t tableEnd = 0;  // the end of the colour table
    int64_t pixelStart = 0;  // the pixel data
    bool compressed() const { return h.compression == kCompressRLE8 || h.compression == kCompressRLE4; }
};

// Reads the headers and the colour table, from the reader's position on.
BmpLayout readLayout(StreamReader& r, const Limits& limits) {
    BmpLayout l;
    l.limits = &limits;
    l.fileStart = r.position();
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
    checkPictureSize(limits, h.width, height, h.bitCount);
    l.width = static_cast<int32_t>(h.width);
    l.height = static_cast<int32_t>(height);

    // Colour table: the colours-used count, else the full table of an
    // indexed format. Entries beyond what the format can address are
    // skipped, not kept.
    const uint64_t entries = h.colorsUsed ? h.colorsUsed : (h.bitCount <= 8 ? (uint64_t(1) << h.bitCount) : 0);
    const uint64_t entrySize = h.os2 ? 3 : 4;
    if (!r.has(entries * entrySize)) throw EReadError("Stream read error");
    const uint64_t keep = std::min<uint64_t>(entries, h.bitCount <= 8 ? (uint64_t(1) << h.bitCount) : 256);
    l.table.resize(static_cast<size_t>(keep));
    for (RGBQuad& entry : l.table) {
        const std::span<const uint8_t> e = r.take(static_cast<size_t>(entrySize));
        entry = RGBQuad{e[0], e[1], e[2], 0};
    }
    r.skip((entries - keep) * entrySize);

    // The pixel data normally follows the table; a pixel-data offset that
    // points further on (a gap, as some writers leave) is honoured when it
    // stays inside the file.
    l.tableEnd = l.pixelStart = r.position();
    if (dataOffset > l.pixelStart - l.fileStart && l.fileStart + dataOffset < r.size())
        l.pixelStart = l.fileStart + dataOffset;
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
// promises; rows the data does not reach stay 0. A file whose data could
// not fill even a small share of the rows is refused first.
Dib readRows(StreamReader& r, const BmpLayout& l) {
    const uint64_t stride = rowBytes(static_cast<uint64_t>(l.width), l.h.bitCount, 4);
    const uint64_t full = stride * static_cast<uint64_t>(l.height);
    const uint64_t promised = l.h.sizeImage ? l.h.sizeImage : full;
    uint64_t left = std::min<uint64_t>({promised, full, static_cast<uint64_t>(r.size() - l.pixelStart)});
    checkDataCanFill(*l.limits, l.width, l.height, left, left, full);
    Dib dib(l.width, l.height, l.h.bitCount, l.table, l.h.masks);
    r.seek(l.pixelStart);
    for (int32_t i = 0; i < l.height && left > 0; ++i) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(stride, left));
        r.read(dib.row(l.topDown ? i : l.height - 1 - i), n);
        left -= n;
    }
    return dib;
}

// Run-length data: decoded from the stream, within the image-size field's
// length when it is set. Each 2-byte code yields at most 255 pixels; a file
// whose data could not fill even a small share of the picture that way is
// refused first. Pixels skipped by an end-of-line, delta or end-of-picture
// code stay 0 and do not count: a file that would leave more than 63/64 of
// its picture so is what a hostile one looks like, and is refused too.
Dib readRunLengthPixels(StreamReader& r, const BmpLayout& l, int64_t& dataEnd) {
    const uint64_t available = static_cast<uint64_t>(r.size() - l.pixelStart);
    const uint64_t dataBytes = l.h.sizeImage ? std::min<uint64_t>(l.h.sizeImage, available) : available;
    const uint64_t pixels = static_cast<uint64_t>(l.width) * static_cast<uint64_t>(l.height);
    checkDataCanFill(*l.limits, l.width, l.height, dataBytes,
                     std::min<uint64_t>(dataBytes, uint64_t(1) << 40) / 2 * 255, pixels);
    Dib dib(l.width, l.height, l.h.bitCount, l.table);
    dataEnd = l.pixelStart + static_cast<int64_t>(dataBytes);
    r.seek(l.pixelStart);
    decodeRle(r, dataEnd, dib, l.h.compression == kCompressRLE4);
    if (!l.h.sizeImage) dataEnd = r.position();
    return dib;
}

// The file bytes kept beside a run-length picture are the file as far as
// its format goes: headers, colour table and run-length data. A file whose
// gap and data run far beyond anything a run-length coding of the picture
// needs (2 bytes a pixel, an end-of-line code a row) keeps none; it is
// written uncompressed when saved, as a changed picture is.
std::vector<uint8_t> keptFileBytes(StreamReader& r, const BmpLayout& l, int64_t dataEnd) {
    const uint64_t extent = static_cast<uint64_t>(dataEnd - l.fileStart);
    const uint64_t pixels = static_cast<uint64_t>(l.width) * static_cast<uint64_t>(l.height);
    const uint64_t cap = static_cast<uint64_t>(l.tableEnd - l.fileStart) + (uint64_t(64) << 10) + 2 * pixels +
                         2 * static_cast<uint64_t>(l.height);
    if (extent > cap) return {};
    r.seek(l.fileStart);
    return r.readVector(static_cast<size_t>(extent));
}

}  // namespace

BmpImage decodeBmp(std::span<const uint8_t> file, const Limits& limits) {
    TMemoryStream stream(file.data(), file.size());
    return readBmp(stream, limits);
}

BmpImage readBmp(TStream& stream, const Limits& limits) {
    StreamReader r(stream);
    if (r.atEnd()) return BmpImage{};
    const BmpLayout l = readLayout(r, limits);
    BmpImage image = startImage(l);
    if (l.compressed()) {
        int64_t dataEnd = 0;
        image.dib = readRunLengthPixels(r, l, dataEnd);
        image.keptBytes = keptFileBytes(r, l, dataEnd);
    } else {
        image.dib = readRows(r, l);
    }
    // The whole rest of the stream counts as the file, whatever of it was read.
    r.seek(r.size());
    r.syncStream();
    return image;
}

void encodeBmp(TStream& out, const Dib& dib, bool os2, int32_t xPelsPerMeter, int32_t yPelsPerMeter) {
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
    const uint32_t headerPart = os2 ? static_cast<uint32_t>(12 + 3 * table.size())
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
