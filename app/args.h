// The command line: argument access with the ":silent" suffix, joining a
// path the shell split at blanks, and the positional form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace glx::app {

// The arguments after the program name, as the shell delivered them.
void setArguments(std::vector<std::string> args);

size_t argumentCount();

// Argument index (0 = the program's own full path; beyond the last: "").
// A ":silent" after the first character turns silent on and is cut off
// with everything after it.
std::string getArg(uint16_t index);
// Argument 1, then every further non-empty argument after one blank.
std::string joinArgs();

struct PositionalArgs {
    std::string picture;
    int32_t perRow = 0;
    int32_t perColumn = 0;
    std::string outPath;
    std::string pastePath;
};
// Reads arguments 1 to 4 by the positional grammar; giving argument 3
// turns silent on.
PositionalArgs readPositional();

}  // namespace glx::app
