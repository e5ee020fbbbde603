#include "png/png_errors.h"

namespace glx {

const char* const kMsgPngInvalidFileHeader =
    "The file being readed is not a valid \"Portable Network Graphics\" image because it contains an invalid "
    "header. This file may be corruped, try obtaining it again.";
const char* const kMsgPngUnexpectedEnd =
    "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected end of the file.";
const char* const kMsgPngIHDRNotFirst =
    "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR chunk is not the "
    "first)";
const char* const kMsgPngUnknownCriticalChunk =
    "This \"Portable Network Graphics\" image contains an unknown critical part which could not be decoded.";
const char* const kMsgPngInvalidCRC =
    "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of data (crc error)";
const char* const kMsgPngNoImageData = "This \"Portable Network Graphics\" image contains no data.";
const char* const kMsgPngInvalidIHDR =
    "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of data (ihdr) might "
    "be corrupted";
const char* const kMsgPngSizeExceeds =
    "This \"Portable Network Graphics\" image is not supported because either it's width or height exceeds the "
    "maximum size, which is 65535 pixels length.";
const char* const kMsgPngUnknownCompression =
    "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which could not be "
    "decoded.";
const char* const kMsgPngUnknownInterlace =
    "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be decoded.";
const char* const kMsgPngInvalidPalette = "The \"Portable Network Graphics\" image contains an invalid palette.";
const char* const kMsgPngMissingMultipleIDAT =
    "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
const char* const kMsgPngZlibError =
    "Could not decompress the image because it contains invalid compressed data.\r\n Description: ";
const char* const kMsgPngHeaderNotPresent =
    "This operation is not valid because the current image contains no valid header.";
const char* const kMsgPngOutMemory =
    "Some operation could not be performed because the system is out of resources. Close some windows and try "
    "again.";
const char* const kMsgPngInvalidNewSize = "The new size provided for image resizing is invalid.";
const char* const kMsgPngInvalidSpec =
    "The \"Portable Network Graphics\" could not be created because invalid image type parameters have being "
    "provided.";
const char* const kMsgPngNoNewCritical =
    "The program tried to add a existent critical chunk to the current image which is not allowed.";
const char* const kMsgPngUnexpectedChunkAdd =
    "It's not allowed to add a new chunk because the current image is invalid.";
const char* const kMsgPngIncompatibleChunks = "The chunks must be compatible to be assigned.";
const char* const kMsgPngNoSuchPaletteEntry = "There is no such palette entry.";

const char* InflateResultText(int code) {
    switch (code) {
        case -6:
            return "incompatible version (-6)";
        case -5:
            return "buffer error (-5)";
        case -4:
            return "insufficient memory (-4)";
        case -3:
            return "data error (-3)";
        case -2:
            return "stream error (-2)";
        case -1:
            return "file error (-1)";
        case 0:
            return "(0)";
        case 1:
            return "stream end (1)";
        case 2:
            return "need dictionary (2)";
        default:
            return "";
    }
}

}  // namespace glx
