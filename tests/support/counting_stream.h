// A memory stream that counts the calls reaching it and the bytes read,
// for tests of how often a reader goes to its stream.
#pragma once

#include <cstdint>

#include "base/stream.h"

namespace glxtest {

class CountingStream : public glx::TMemoryStream {
public:
    using glx::TMemoryStream::TMemoryStream;
    size_t read(void* buffer, size_t count) override {
        const size_t n = glx::TMemoryStream::read(buffer, count);
        ++reads;
        bytesRead += n;
        return n;
    }
    int64_t seek(int64_t offset, glx::SeekOrigin origin) override {
        ++seeks;
        return glx::TMemoryStream::seek(offset, origin);
    }
    int reads = 0;
    int seeks = 0;
    uint64_t bytesRead = 0;
};

}  // namespace glxtest
