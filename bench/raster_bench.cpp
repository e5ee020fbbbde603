// A 4000 x 3000 24-bit BMP: decoding it, drawing it onto a 24-bit canvas,
// and both together, next to plain memcpy of the same 36 MB of pixel bytes.
// Decoding and drawing each move whole rows: drawing should cost one memcpy,
// decoding one copy into freshly allocated memory.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/large_buffer.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"

using namespace glx;

namespace {

constexpr int32_t kWidth = 4000, kHeight = 3000;

// The BMP file bytes of a picture with varied content (not a flat colour,
// so nothing can take a shortcut on repeated bytes).
const std::vector<uint8_t>& bmpFile() {
    static const std::vector<uint8_t> bytes = [] {
        TBitmap picture(kWidth, kHeight);
        Dib& dib = picture.Pixels();
        for (int32_t y = 0; y < kHeight; ++y) {
            uint8_t* row = dib.row(y);
            for (int32_t x = 0; x < kWidth; ++x) {
                row[3 * x] = static_cast<uint8_t>(x + y);
                row[3 * x + 1] = static_cast<uint8_t>(x * 3);
                row[3 * x + 2] = static_cast<uint8_t>(y * 7 + (x >> 4));
            }
        }
        TMemoryStream stream;
        picture.WriteTo(stream);
        return stream.bytes();
    }();
    return bytes;
}

constexpr int64_t kPixelBytes = int64_t(kWidth) * 3 * kHeight;  // rows are 4-byte aligned already

void bytesMoved(benchmark::State& state) { state.SetBytesProcessed(int64_t(state.iterations()) * kPixelBytes); }

void BM_Memcpy(benchmark::State& state) {
    const std::vector<uint8_t>& file = bmpFile();
    std::vector<uint8_t> target(static_cast<size_t>(kPixelBytes));
    const uint8_t* pixels = file.data() + (file.size() - target.size());
    for (auto _ : state) {
        std::memcpy(target.data(), pixels, target.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    bytesMoved(state);
}

// The floor for anything that makes a new picture: the same copy into
// freshly allocated memory, from the ordinary heap (every page faulted in
// separately) and from our pixel-buffer allocator (huge pages).
template <class Buffer>
void BM_MemcpyFresh(benchmark::State& state) {
    const std::vector<uint8_t>& file = bmpFile();
    const uint8_t* pixels = file.data() + (file.size() - static_cast<size_t>(kPixelBytes));
    for (auto _ : state) {
        Buffer target(static_cast<size_t>(kPixelBytes));
        std::memcpy(target.data(), pixels, target.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    bytesMoved(state);
}

// Decoding from memory into a bitmap that already has its pixel memory of
// the right size, as a picture read again would.
void BM_BmpDecode(benchmark::State& state) {
    TMemoryStream stream(bmpFile());
    TBitmap picture;
    for (auto _ : state) {
        stream.setPosition(0);
        picture.ReadFrom(stream);
        benchmark::DoNotOptimize(picture.Pixels().bits());
    }
    bytesMoved(state);
}

// Loading the file from disk (the page cache, after the first round).
void BM_BmpLoadFile(benchmark::State& state) {
    char path[] = "/tmp/glx-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("cannot create a temporary file");
        return;
    }
    close(fd);
    writeWholeFile(path, bmpFile().data(), bmpFile().size());
    for (auto _ : state) {
        TBitmap picture;
        picture.LoadFile(path);
        benchmark::DoNotOptimize(picture.Pixels().bits());
    }
    std::remove(path);
    bytesMoved(state);
}

void BM_DrawAt24(benchmark::State& state) {
    TBitmap picture;
    TMemoryStream stream(bmpFile().data(), bmpFile().size());
    picture.ReadFrom(stream);
    TBitmap canvas(kWidth, kHeight);
    for (auto _ : state) {
        canvas.Canvas().DrawAt(0, 0, &picture);
        benchmark::DoNotOptimize(canvas.Pixels().bits());
    }
    bytesMoved(state);
}

// What the gluing loop does with each BMP: read it, draw it onto the
// 24-bit sheet.
void BM_BmpDecodeAndDraw(benchmark::State& state) {
    TMemoryStream stream(bmpFile());
    TBitmap canvas(kWidth, kHeight);
    for (auto _ : state) {
        TBitmap picture;
        stream.setPosition(0);
        picture.ReadFrom(stream);
        canvas.Canvas().DrawAt(0, 0, &picture);
        benchmark::DoNotOptimize(canvas.Pixels().bits());
    }
    bytesMoved(state);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_MemcpyFresh, std::vector<uint8_t>)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_MemcpyFresh, LargeBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpLoadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawAt24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpDecodeAndDraw)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
