// Reading a PNG stream into the chunk list and writing it back.
#include <cstring>

#include "base/stream.h"
#include "png/chunk_ihdr.h"
#include "png/png_errors.h"
#include "png/png_io.h"
#include "png/png_object.h"

namespace glx {

namespace {

const uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

bool isType(const TChunkType& t, const char* code) { return std::memcmp(t.data(), code, 4) == 0; }

}  // namespace

// Checked before anything is read or allocated for the chunk.
uint32_t readChunkLengthChecked(TStream& stream, uint32_t length, uint32_t headerLeft) {
    if (length > 0x7FFFFFFFu || static_cast<int64_t>(length) + 4 + headerLeft > stream.remaining())
        throw EPngUnexpectedEnd();
    return length;
}

void TPNGObject::ReadFrom(TStream& stream) {
    RemoveAllChunks();
    uint8_t signature[8];
    size_t got = 0;
    while (got < 8) {
        size_t n = stream.read(signature + got, 8 - got);
        if (n == 0) break;
        got += n;
    }
    if (got < 8 || std::memcmp(signature, kSignature, 8) != 0) throw EPNGInvalidFileHeader();

    bool imageData = false;
    uint32_t count = 0;  // chunks met, dropped ones included
    TChunkType type{};
    do {
        ++count;
        uint8_t lengthBytes[4];
        size_t n = stream.read(lengthBytes, 4);
        if (n == 0) throw EPngUnexpectedEnd();
        if (n < 4) readExact(stream, lengthBytes + n, 4 - n);
        const uint32_t length = getU32be(lengthBytes);
        readExact(stream, type.data(), 4);
        if (count == 1 && !isType(type, "IHDR")) throw EPNGIHDRNotFirst();
        readChunkLengthChecked(stream, length, 0);
        // cHRM is dropped, and so is image data after the first IDAT run
        // (the first IDAT chunk decodes the whole run).
        if ((imageData && isType(type, "IDAT")) || isType(type, "cHRM")) {
            stream.seek(static_cast<int64_t>(length) + 4, SeekOrigin::Current);
            continue;
        }
        if (isType(type, "IDAT")) imageData = true;
        TChunk* chunk = NewChunkForType(*this, type);
        m_chunks.Append(chunk);
        const bool critical = type[0] != 0 && (type[0] & 0x20) == 0;
        if (critical && !IsRegisteredChunkType(type)) throw EPNGUnknownCriticalChunk();
        if (!chunk->ReadPayload(stream, type, length)) break;
    } while (!isType(type, "IEND"));
    if (!imageData) throw EPNGNoImageData();
}

void TPNGObject::WriteTo(TStream& stream) const {
    stream.writeBuffer(kSignature, 8);
    for (uint32_t i = 0; i < m_chunks.SlotCount(); ++i) m_chunks.Item(i)->WritePayload(stream);
}

}  // namespace glx
