// The command line: argument access with the ":silent" suffix, joining a
// path the shell split at blanks, and the positional form.
#pragma once

#include <cstdint>
#include <string>

namespace glx::app {

struct Run;

// Argument index (0 = the program's own full path; beyond the last: "").
// A ":silent" after the first character turns the run silent and is cut
// off with everything after it.
std::string getArg(Run& run, uint16_t index);
// Argument 1, then every further non-empty argument after one blank.
std::string joinArgs(Run& run);

struct PositionalArgs {
    std::string picture;
    int32_t perRow = 0;
    int32_t perColumn = 0;
    std::string outPath;
    std::string pastePath;
};
// Reads arguments 1 to 4 by the positional grammar; giving argument 3
// turns the run silent. The output and paste-script paths come back
// absolute, so that a later change of the current folder cannot move them.
PositionalArgs readPositional(Run& run);
// Whether an argument reads as a layout: V or H (either case) followed by a
// count, or a count alone (decimal, or hexadecimal after "$", "x" or "0x").
bool readsAsLayout(const std::string& arg);

}  // namespace glx::app
