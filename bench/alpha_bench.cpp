// Alpha routines on whole rows, and the growth of the gluing canvas: gluing
// N sprites through the placement path (amortised growth) next to growing
// the canvas one placement at a time.
#include <benchmark/benchmark.h>

#include <vector>

#include "app/alpha.h"
#include "app/form.h"
#include "app/glue.h"
#include "app/prefetch.h"
#include "app/rgba.h"
#include "app/run.h"
#include "bench/bench_images.h"
#include "png/png_object.h"

using namespace glx;
using namespace glx::app;

namespace {

constexpr int32_t kSide = 1024;

uint16_t phase = 0;

std::unique_ptr<TPNGObject> target() { return bench::makeImage(bench::Kind::Photo, kSide, kSide); }

void pixels(benchmark::State& state, int64_t count) { state.SetItemsProcessed(int64_t(state.iterations()) * count); }

void BM_SetAlpha(benchmark::State& state) {
    auto image = target();
    for (auto _ : state) setAlpha(phase, image, makeRect(0, 0, kSide - 1, kSide - 1), 200);
    pixels(state, int64_t(kSide) * kSide);
}

void BM_PasteExact(benchmark::State& state) {
    auto image = target();
    auto fragment = bench::makeImage(bench::Kind::Sprites, 512, 512);
    for (auto _ : state) pastePng(phase, image, fragment, makeRect(100, 100, 611, 611), kExact);
    pixels(state, 512 * 512);
}

void BM_PasteBlend(benchmark::State& state) {
    auto image = target();
    auto fragment = bench::makeImage(bench::Kind::Sprites, 256, 256);
    for (auto _ : state) pastePng(phase, image, fragment, makeRect(100, 100, 355, 355), kBlend);
    pixels(state, 256 * 256);
}

void BM_KeyToAlpha(benchmark::State& state) {
    auto image = target();
    for (auto _ : state)
        keyToAlpha(phase, image, makeRect(0, 0, 511, 511), rgb(0, 0, 0), static_cast<uint8_t>(state.range(0)));
    pixels(state, 512 * 512);
}

std::vector<std::unique_ptr<TPNGObject>> sprites(int count) {
    static auto sprite = bench::makeImage(bench::Kind::Sprites, 64, 64);
    std::vector<std::unique_ptr<TPNGObject>> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(std::make_unique<TPNGObject>());
        out.back()->CopyFrom(sprite.get());
    }
    return out;
}

// The gluing path: sprites placed 16 across with amortised canvas growth,
// cropped at the end.
void BM_GlueGrowAmortised(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Tf form({});
    Run& run = form.run;
    run.picPath = "sprite.png";
    run.modeExt = ".bmp";  // no encoding ahead: growth and placement only
    for (auto _ : state) {
        state.PauseTiming();
        auto pictures = sprites(count);
        state.ResumeTiming();
        createRgbaCanvas(run);
        run.cursor = TGridCursor{};
        run.cursor.perRow = 16;
        for (auto& p : pictures) {
            PrefetchedPicture picture;
            picture.graphic = std::move(p);
            int32_t w, h;
            placeRgba(form, w, h, picture);
        }
        settleRgbaCanvas(run);
        benchmark::DoNotOptimize(run.pngCanvas->PixelRow(0));
        run.pngCanvas.reset();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
}

// The same placements growing the canvas to the exact size each time.
void BM_GlueGrowStepwise(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Tf form({});
    Run& run = form.run;
    for (auto _ : state) {
        state.PauseTiming();
        auto pictures = sprites(count);
        state.ResumeTiming();
        run.pngCanvas = TPNGObject::CreateNew(6, 8, 1, 1);
        TGridCursor cursor;
        cursor.perRow = 16;
        for (auto& p : pictures) {
            const int32_t x = cursor.x, y = cursor.y;
            form.checkwhp(x, y, 64, 64);
            pastePng(phase, run.pngCanvas, p, makeRect(x, y, x + 63, y + 63), kExact);
            advanceCursor(cursor, 64, 64);
        }
        benchmark::DoNotOptimize(run.pngCanvas->PixelRow(0));
        run.pngCanvas.reset();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
}

}  // namespace

BENCHMARK(BM_SetAlpha)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PasteExact)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PasteBlend)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeyToAlpha)->Arg(0)->Arg(104)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GlueGrowAmortised)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlueGrowStepwise)->Arg(1000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
