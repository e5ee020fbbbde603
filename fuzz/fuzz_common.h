// Shared pieces of the fuzz targets: the rule that a reader may refuse an
// input only with the project's own exceptions, and small helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "base/exception.h"
#include "base/limits.h"

namespace glxfuzz {

// The readers run exactly as the tool runs them, with smaller limits so
// that a mutated size near a limit costs milliseconds, not seconds, per
// input, and with checksums ignored so that mutated chunks reach the
// decoders behind them.
inline glx::ReadOptions fuzzOptions() {
    glx::ReadOptions options;
    options.limits.pixels = uint64_t(1) << 22;
    options.limits.bufferBytes = uint64_t(64) << 20;
    options.limits.chunks = 200;
    options.limits.lineLength = size_t(1) << 12;
    options.limits.frames = 1024;
    options.crc = glx::CrcPolicy::Ignore;
    return options;
}

// Runs body; a glx::Exception is the expected way to refuse damaged data,
// except an internal error, which marks a broken invariant.
// Anything else escaping a reader (std::out_of_range, std::length_error,
// bad_alloc past the limits...) is a finding and aborts so libFuzzer keeps
// the input.
template <class F>
void guarded(F&& body) {
    try {
        body();
    } catch (const glx::EInternalError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::abort();
    } catch (const glx::Exception&) {
    } catch (const std::exception& e) {
        std::fprintf(stderr, "unexpected exception: %s\n", e.what());
        std::abort();
    } catch (...) {
        std::fprintf(stderr, "unexpected non-standard exception\n");
        std::abort();
    }
}

}  // namespace glxfuzz
