// Exception classes of the PNG codec. Each carries one fixed message; the
// default constructor supplies it. Every class derives directly from
// Exception (EPngError is a sibling, not a base).
#pragma once

#include <string>

#include "base/exception.h"

namespace glx {

extern const char* const kMsgPngInvalidFileHeader;
extern const char* const kMsgPngUnexpectedEnd;
extern const char* const kMsgPngIHDRNotFirst;
extern const char* const kMsgPngUnknownCriticalChunk;
extern const char* const kMsgPngInvalidCRC;
extern const char* const kMsgPngNoImageData;
extern const char* const kMsgPngInvalidIHDR;
extern const char* const kMsgPngSizeExceeds;
extern const char* const kMsgPngUnknownCompression;
extern const char* const kMsgPngUnknownInterlace;
extern const char* const kMsgPngInvalidPalette;
extern const char* const kMsgPngMissingMultipleIDAT;
extern const char* const kMsgPngZlibError;  // followed by the zlib result text
extern const char* const kMsgPngHeaderNotPresent;
extern const char* const kMsgPngOutMemory;
extern const char* const kMsgPngInvalidNewSize;
extern const char* const kMsgPngInvalidSpec;
// EPngError texts.
extern const char* const kMsgPngNoNewCritical;
extern const char* const kMsgPngUnexpectedChunkAdd;
extern const char* const kMsgPngIncompatibleChunks;
extern const char* const kMsgPngNoSuchPaletteEntry;

// Name is a class name, which parentheses would break.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define GLX_PNG_EXCEPTION(Name, Text) \
    class Name : public Exception { \
    public: \
        Name() : Exception(Text) {} \
        explicit Name(std::string m) : Exception(std::move(m)) {} \
    };
// NOLINTEND(bugprone-macro-parentheses)

GLX_PNG_EXCEPTION(EPNGInvalidFileHeader, kMsgPngInvalidFileHeader)
GLX_PNG_EXCEPTION(EPngUnexpectedEnd, kMsgPngUnexpectedEnd)
GLX_PNG_EXCEPTION(EPNGIHDRNotFirst, kMsgPngIHDRNotFirst)
GLX_PNG_EXCEPTION(EPNGUnknownCriticalChunk, kMsgPngUnknownCriticalChunk)
GLX_PNG_EXCEPTION(EPngInvalidCRC, kMsgPngInvalidCRC)
GLX_PNG_EXCEPTION(EPNGNoImageData, kMsgPngNoImageData)
GLX_PNG_EXCEPTION(EPngInvalidIHDR, kMsgPngInvalidIHDR)
GLX_PNG_EXCEPTION(EPNGSizeExceeds, kMsgPngSizeExceeds)
GLX_PNG_EXCEPTION(EPNGUnknownCompression, kMsgPngUnknownCompression)
GLX_PNG_EXCEPTION(EPNGUnknownInterlace, kMsgPngUnknownInterlace)
GLX_PNG_EXCEPTION(EPNGInvalidPalette, kMsgPngInvalidPalette)
GLX_PNG_EXCEPTION(EPNGMissingMultipleIDAT, kMsgPngMissingMultipleIDAT)
GLX_PNG_EXCEPTION(EPNGZLIBError, kMsgPngZlibError)
GLX_PNG_EXCEPTION(EPNGHeaderNotPresent, kMsgPngHeaderNotPresent)
GLX_PNG_EXCEPTION(EPNGOutMemory, kMsgPngOutMemory)
GLX_PNG_EXCEPTION(EPNGInvalidNewSize, kMsgPngInvalidNewSize)
GLX_PNG_EXCEPTION(EPNGInvalidSpec, kMsgPngInvalidSpec)
GLX_PNG_EXCEPTION(EPngError, kMsgPngNoNewCritical)

#undef GLX_PNG_EXCEPTION

// The text appended to the zlib error message for a zlib result code
// ("data error (-3)"); "" for codes outside -6..2.
const char* InflateResultText(int code);

}  // namespace glx
