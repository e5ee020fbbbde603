#include "base/exception.h"

#include <cstdio>
#include <vector>

namespace glx {

std::string formatMessage(const char* fmt, ...) {
    // Also keeps GCC's sanitizer builds from warning about a null format.
    if (fmt == nullptr) return std::string();
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    char probe[1];
    int n = std::vsnprintf(probe, sizeof probe, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt, args);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

}  // namespace glx
