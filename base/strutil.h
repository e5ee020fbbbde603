// String helpers of the runtime layer: integer reading, replace-all, paths.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace glx {

// The runtime's integer reading: optional leading blanks, an optional sign,
// then decimal digits, or hexadecimal digits after "$", "x"/"X" or
// "0x"/"0X". The whole text must be consumed and the value fit 32 bits.
std::optional<int32_t> tryStrToInt(const std::string& text);
int32_t strToIntDef(const std::string& text, int32_t def);
// Strict form: EConvertError "'%s' is not a valid integer value".
int32_t strToInt(const std::string& text);

// Non-overlapping, left to right; the replacement is never rescanned.
std::string replaceAll(const std::string& text, const std::string& pattern, const std::string& replacement);

std::string upperCaseAscii(std::string text);
// The text as it may be shown to a user: control characters and bytes that
// are not part of valid UTF-8 become \xNN, so a file name or file content
// quoted in a message never prints raw binary. keepLineBreaks leaves CR and
// LF as they are (a message's own line structure).
std::string printableText(const std::string& text, bool keepLineBreaks = false);
std::string lowerCaseAscii(std::string text);

// Path pieces with "/" as the only separator.
// Extension: from the last "." after the last "/", dot included; "" if none.
std::string extractFileExt(const std::string& path);
// Folder part including its trailing "/" ("" for a bare name).
std::string extractFilePath(const std::string& path);
// Everything after the last "/".
std::string extractFileName(const std::string& path);
// Replaces the extension (or appends ext when there is none).
std::string changeFileExt(const std::string& path, const std::string& ext);

}  // namespace glx
