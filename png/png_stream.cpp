// Reading a PNG stream into the chunk list and writing it back. Reading goes
// through one buffered StreamReader: a file of many small chunks costs one
// system call per 64 KiB, and no length read from the file is trusted
// before the rest of the stream has been found to hold it. The chunks kept
// are capped (Limits::chunks), so a file of millions of empty chunks costs
// the memory of its picture, not six bytes per byte of file.
#include <cstring>

#include "base/exception.h"
#include "base/limits.h"
#include "base/stream.h"
#include "base/stream_reader.h"
#include "png/chunk_ihdr.h"
#include "png/png_errors.h"
#include "png/png_format.h"
#include "png/png_io.h"
#include "png/png_object.h"

namespace glx {

namespace {

const uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

bool isType(const ChunkType& t, const char* code) { return std::memcmp(t.data(), code, 4) == 0; }
bool isType(std::span<const uint8_t> t, const char* code) { return std::memcmp(t.data(), code, 4) == 0; }

// Every chunk the list keeps counts against the chunk limit except the
// header, the image data (bounded by the data share) and the end.
bool countsAgainstChunkLimit(const ChunkType& t) {
    return !isType(t, "IHDR") && !isType(t, "IDAT") && !isType(t, "IEND");
}

void checkChunkCount(const Limits& limits, uint64_t kept) {
    if (kept <= limits.chunks) return;
    throw ELimitExceeded(
        formatMessage("PNG image has more than %u ancillary chunks (the limit is %u)", limits.chunks, limits.chunks));
}

}  // namespace

// Checked before anything is read or allocated for the chunk.
uint32_t readChunkLengthChecked(const StreamReader& reader, uint32_t length, uint32_t headerLeft) {
    if (length > 0x7FFFFFFFu || !reader.has(uint64_t(length) + 4 + headerLeft)) throw EPngUnexpectedEnd();
    return length;
}

std::optional<uint64_t> TPNGObject::imageDataAhead(StreamReader& reader, uint64_t enough) {
    ImageDataProbe& p = m_probe;
    const int64_t back = reader.position();
    if (p.next < 0) p.next = back;
    while (!p.ended && p.bytes < enough) {
        reader.seek(p.next);
        if (!reader.has(8)) {
            p.ended = true;
            break;
        }
        const uint32_t length = reader.u32be();
        const std::span<const uint8_t> type = reader.take(4);
        const bool idat = isType(type, "IDAT");
        if (length > 0x7FFFFFFFu || !reader.has(uint64_t(length) + 4) || (!idat && (p.run || isType(type, "IEND")))) {
            p.ended = true;
            break;
        }
        if (idat) {
            p.run = true;
            p.bytes += length;
        }
        p.next = reader.position() + int64_t(length) + 4;
    }
    reader.seek(back);
    // Empty IDAT chunks alone cannot decode anything either.
    if (p.bytes == 0) return std::nullopt;
    return p.bytes;
}

void TPNGObject::ReadFrom(TStream& stream) {
    RemoveAllChunks();
    m_probe = ImageDataProbe{};
    StreamReader reader(stream, pngUnexpectedEnd);
    uint8_t signature[8];
    if (reader.readSome(signature, 8) < 8 || std::memcmp(signature, kSignature, 8) != 0) throw EPNGInvalidFileHeader();

    bool imageData = false;
    uint32_t count = 0;  // chunks met, dropped ones included
    uint64_t kept = 0;  // chunks kept that count against the limit
    ChunkType type{};
    do {
        ++count;
        // No byte left for a length, or only part of one, or of the type:
        // the file ended early.
        const uint32_t length = reader.u32be();
        reader.read(type.data(), 4);
        if (count == 1 && !isType(type, "IHDR")) throw EPNGIHDRNotFirst();
        readChunkLengthChecked(reader, length, 0);
        // cHRM is dropped, and so is image data after the first IDAT run
        // (the first IDAT chunk decodes the whole run).
        if ((imageData && isType(type, "IDAT")) || isType(type, "cHRM")) {
            reader.skip(uint64_t(length) + 4);
            continue;
        }
        if (isType(type, "IDAT")) imageData = true;
        if (countsAgainstChunkLimit(type)) checkChunkCount(ReadLimits(), ++kept);
        TChunk* chunk = m_chunks.Append(NewChunkForType(*this, type));
        const bool critical = type[0] != 0 && (type[0] & kAncillaryBit) == 0;
        if (critical && !IsRegisteredChunkType(type)) throw EPNGUnknownCriticalChunk();
        if (!chunk->ReadPayload(reader, type, length)) break;
    } while (!isType(type, "IEND"));
    // Nothing after IEND is read; the stream is left just behind it.
    reader.syncStream();
    if (!imageData) throw EPNGNoImageData();
}

void TPNGObject::WriteTo(TStream& stream) const {
    stream.writeBuffer(kSignature, 8);
    for (uint32_t i = 0; i < m_chunks.SlotCount(); ++i) m_chunks.Item(i)->WritePayload(stream);
}

}  // namespace glx
