// The PNG codec next to its references: decode and encode of the same
// pictures by our codec and by libpng (same level 7, same Sub filter), and
// bare zlib on the same data — deflate of the filtered rows at level 7 and
// inflate of the stream — which is the floor both codecs share.
//
// Encoding deflates in pieces on a pool of threads: BM_EncodeOurs runs with
// 1 and 2 workers (process CPU time and wall time), BM_DeflatePieces
// measures what the piece size costs in bytes and CPU time on one worker
// against one whole-stream deflate (piece size 0). PNG files named on the
// command line after the benchmark flags (e.g. the glued corpus sheets) join
// both as further pictures:
//   bench_png_codec --benchmark_filter=Pieces sheet-1000.png photo.png
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/stream.h"
#include "bench/bench_images.h"
#include "png/deflate_pool.h"
#include "png/idat_writer.h"
#include "png/png_object.h"

#ifdef GLX_BENCH_LIBPNG
#include <png.h>
#endif

using glx::bench::Kind;

namespace {

constexpr int32_t kWidth = 1024, kHeight = 768;

struct Sample {
    std::unique_ptr<glx::TPNGObject> image;
    std::vector<uint8_t> rgba;  // R, G, B, A rows
    std::vector<uint8_t> filtered;  // filter byte 1 (Sub) + filtered row, row after row
    std::vector<uint8_t> png;  // our encoder's stream
    std::vector<uint8_t> zlibData;  // the IDAT payload: deflate of filtered at level 7
};

const Sample& sample(Kind kind) {
    static Sample samples[2];
    Sample& s = samples[kind == Kind::Photo ? 0 : 1];
    if (s.image) return s;
    s.image = glx::bench::makeImage(kind, kWidth, kHeight);
    s.rgba = glx::bench::rgbaRows(*s.image);
    const size_t row = size_t(kWidth) * 4;
    s.filtered.resize((row + 1) * kHeight);
    for (int32_t y = 0; y < kHeight; ++y) {
        const uint8_t* r = s.rgba.data() + row * size_t(y);
        uint8_t* f = s.filtered.data() + (row + 1) * size_t(y);
        f[0] = 1;
        for (size_t i = 0; i < row; ++i) f[1 + i] = static_cast<uint8_t>(r[i] - (i >= 4 ? r[i - 4] : 0));
    }
    s.png = glx::bench::encodePng(*s.image);
    uLongf len = compressBound(s.filtered.size());
    s.zlibData.resize(len);
    compress2(s.zlibData.data(), &len, s.filtered.data(), s.filtered.size(), 7);
    s.zlibData.resize(len);
    return s;
}

Kind kindOf(const benchmark::State& state) { return state.range(0) == 0 ? Kind::Photo : Kind::Sprites; }

void label(benchmark::State& state) {
    state.SetLabel(glx::bench::kindName(kindOf(state)));
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 4);
}

// A picture for the encode benchmarks: the two made in memory, then the
// files of the command line.
struct EncodeInput {
    std::string name;
    std::unique_ptr<glx::TPNGObject> image;
    std::vector<uint8_t> filtered;
    size_t oneShot = 0;  // bytes of one whole-stream deflate of filtered
};

std::vector<EncodeInput>& encodeInputs() {
    static std::vector<EncodeInput> inputs;
    return inputs;
}

EncodeInput& encodeInput(const benchmark::State& state) {
    EncodeInput& in = encodeInputs()[static_cast<size_t>(state.range(0))];
    if (in.filtered.empty()) {
        in.filtered = glx::bench::filteredRows(*in.image);
        glx::TMemoryStream out;
        glx::IdatWriter writer(out, 65535, 7, std::make_shared<glx::DeflatePool>(1), size_t(1) << 30);
        writer.write(in.filtered.data(), in.filtered.size());
        writer.finish();
        in.oneShot = out.bytes().size();
    }
    return in;
}

// The whole image written, with state.range(1) workers.
void BM_EncodeOurs(benchmark::State& state) {
    EncodeInput& in = encodeInput(state);
    std::shared_ptr<glx::DeflatePool> previous =
        glx::setSharedDeflatePool(std::make_shared<glx::DeflatePool>(static_cast<unsigned>(state.range(1))));
    size_t bytes = 0;
    for (auto _ : state) {
        glx::TMemoryStream out;
        in.image->WriteTo(out);
        bytes = out.bytes().size();
        benchmark::DoNotOptimize(out.bytes().data());
    }
    glx::setSharedDeflatePool(previous);
    state.SetLabel(in.name);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.filtered.size()));
    state.counters["file_bytes"] = static_cast<double>(bytes);
}

// The filtered rows deflated in pieces of state.range(1) KiB (0: one piece)
// on one worker: bytes against the one-shot stream, and CPU time.
void BM_DeflatePieces(benchmark::State& state) {
    EncodeInput& in = encodeInput(state);
    const size_t piece = state.range(1) == 0 ? size_t(1) << 30 : static_cast<size_t>(state.range(1)) << 10;
    auto pool = std::make_shared<glx::DeflatePool>(1);
    size_t bytes = 0;
    for (auto _ : state) {
        glx::TMemoryStream out;
        glx::IdatWriter writer(out, 65535, 7, pool, piece);
        writer.write(in.filtered.data(), in.filtered.size());
        writer.finish();
        bytes = out.bytes().size();
        benchmark::DoNotOptimize(out.bytes().data());
    }
    state.SetLabel(in.name);
    state.counters["idat_bytes"] = static_cast<double>(bytes);
    state.counters["vs_one_shot_pct"] = 100.0 * (static_cast<double>(bytes) / static_cast<double>(in.oneShot) - 1.0);
}

// deflate level 7, default window, memLevel and strategy: what zlib alone
// costs on the rows our encoder feeds it.
void BM_EncodeZlibFloor(benchmark::State& state) {
    const Sample& s = sample(kindOf(state));
    std::vector<uint8_t> out(compressBound(s.filtered.size()));
    for (auto _ : state) {
        uLongf len = out.size();
        compress2(out.data(), &len, s.filtered.data(), s.filtered.size(), 7);
        benchmark::DoNotOptimize(out.data());
    }
    label(state);
}

void BM_DecodeOurs(benchmark::State& state) {
    const Sample& s = sample(kindOf(state));
    for (auto _ : state) {
        glx::TMemoryStream in(s.png.data(), s.png.size());
        glx::TPNGObject image;
        image.ReadFrom(in);
        benchmark::DoNotOptimize(image.PixelRow(0));
    }
    label(state);
}

void BM_DecodeZlibFloor(benchmark::State& state) {
    const Sample& s = sample(kindOf(state));
    std::vector<uint8_t> out(s.filtered.size());
    for (auto _ : state) {
        uLongf len = out.size();
        uncompress(out.data(), &len, s.zlibData.data(), s.zlibData.size());
        benchmark::DoNotOptimize(out.data());
    }
    label(state);
}

// A 1 x 1 picture behind 400,000 empty ancillary chunks (4.8 MB), read from
// a file as the tool reads it: what reading a file piece by piece costs.
// The chunk limit is raised for it (the default refuses the file).
constexpr int kManyChunks = 400000;

void putBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void putChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& payload) {
    putBe32(out, static_cast<uint32_t>(payload.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), payload.begin(), payload.end());
    putBe32(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

const std::string& manyChunksFile() {
    static const std::string path = [] {
        std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        putChunk(png, "IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0});
        for (int i = 0; i < kManyChunks; ++i) putChunk(png, "zzZz", {});
        const std::vector<uint8_t> row = {0, 10, 20, 30};
        std::vector<uint8_t> z(compressBound(row.size()));
        uLongf len = z.size();
        compress2(z.data(), &len, row.data(), row.size(), 9);
        z.resize(len);
        putChunk(png, "IDAT", z);
        putChunk(png, "IEND", {});
        char name[] = "/tmp/glx-bench-chunks-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) throw std::runtime_error("cannot create a temporary file");
        close(fd);
        glx::writeWholeFile(name, png.data(), png.size());
        std::atexit([] { std::remove(manyChunksFile().c_str()); });
        return std::string(name);
    }();
    return path;
}

void BM_ManyChunksOurs(benchmark::State& state) {
    const std::string& path = manyChunksFile();
    glx::ReadOptions options;
    options.limits.chunks = kManyChunks;
    for (auto _ : state) {
        glx::TPNGObject image;
        image.SetOptions(options);
        image.LoadFile(path);
        benchmark::DoNotOptimize(image.PixelRow(0));
    }
}

#ifdef GLX_BENCH_LIBPNG
// libpng through its stdio reader (buffered by the C library).
void BM_ManyChunksLibpng(benchmark::State& state) {
    const std::string& path = manyChunksFile();
    std::vector<uint8_t> row(3);
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng read failed");
        png_init_io(png, f);
        png_read_info(png, info);
        png_read_row(png, row.data(), nullptr);
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        benchmark::DoNotOptimize(row.data());
    }
}
BENCHMARK(BM_ManyChunksLibpng)->Unit(benchmark::kMillisecond);
#endif

#ifdef GLX_BENCH_LIBPNG
struct Reader {
    const std::vector<uint8_t>* bytes;
    size_t pos;
};

void readBytes(png_structp png, png_bytep out, png_size_t n) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (r->pos + n > r->bytes->size()) png_error(png, "end of data");
    std::memcpy(out, r->bytes->data() + r->pos, n);
    r->pos += n;
}

void writeBytes(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void flushBytes(png_structp) {}

// libpng reading into RGBA rows (the layout it delivers naturally).
void BM_DecodeLibpng(benchmark::State& state) {
    const Sample& s = sample(kindOf(state));
    std::vector<uint8_t> rows(s.rgba.size());
    for (auto _ : state) {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng read failed");
        Reader reader{&s.png, 0};
        png_set_read_fn(png, &reader, readBytes);
        png_read_info(png, info);
        const size_t stride = size_t(kWidth) * 4;
        for (int32_t y = 0; y < kHeight; ++y) png_read_row(png, rows.data() + stride * size_t(y), nullptr);
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(rows.data());
    }
    label(state);
}

// libpng writing the same RGBA rows with the same level and filter.
void BM_EncodeLibpng(benchmark::State& state) {
    const Sample& s = sample(kindOf(state));
    std::vector<uint8_t> out;
    out.reserve(s.png.size() * 2);
    for (auto _ : state) {
        out.clear();
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng write failed");
        png_set_write_fn(png, &out, writeBytes, flushBytes);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 7);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_write_info(png, info);
        const size_t stride = size_t(kWidth) * 4;
        for (int32_t y = 0; y < kHeight; ++y)
            png_write_row(png, const_cast<png_bytep>(s.rgba.data() + stride * size_t(y)));
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        benchmark::DoNotOptimize(out.data());
    }
    label(state);
}
BENCHMARK(BM_DecodeLibpng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLibpng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK(BM_DecodeOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeZlibFloor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeZlibFloor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyChunksOurs)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // What is left of the command line: PNG files to encode as well.
    encodeInputs().push_back({"photo", glx::bench::makeImage(Kind::Photo, kWidth, kHeight), {}, 0});
    encodeInputs().push_back({"sprites", glx::bench::makeImage(Kind::Sprites, kWidth, kHeight), {}, 0});
    for (int i = 1; i < argc; ++i) {
        auto image = std::make_unique<glx::TPNGObject>();
        image->LoadFile(argv[i]);
        std::string name = argv[i];
        name = name.substr(name.find_last_of('/') + 1);
        encodeInputs().push_back({name, std::move(image), {}, 0});
    }
    for (size_t i = 0; i < encodeInputs().size(); ++i) {
        const auto index = static_cast<int64_t>(i);
        // Files are large: one iteration each.
        const bool file = i >= 2;
        auto* encode = benchmark::RegisterBenchmark("BM_EncodeOurs", BM_EncodeOurs)
                           ->Args({index, 1})
                           ->Args({index, 2})
                           ->MeasureProcessCPUTime()
                           ->UseRealTime()
                           ->Unit(benchmark::kMillisecond);
        auto* pieces = benchmark::RegisterBenchmark("BM_DeflatePieces", BM_DeflatePieces)
                           ->MeasureProcessCPUTime()
                           ->Unit(benchmark::kMillisecond);
        for (int64_t kib : {0, 64, 128, 256, 512, 1024}) pieces->Args({index, kib});
        if (file) {
            encode->Iterations(1);
            pieces->Iterations(1);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
