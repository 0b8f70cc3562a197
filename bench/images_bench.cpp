// Speed of the image operations on the drawing path and of the sequence file.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>

#include "images/Images.h"
#include "images/PatternRing.h"

namespace {

// A 500 x 400 canvas with a drawn figure: a filled ring in the middle.
TRectImage Canvas() {
    TRectImage img;
    img.Resize(500, 400);
    for (std::uint32_t y = 0; y < 400; ++y)
        for (std::uint32_t x = 0; x < 500; ++x) {
            const int dx = static_cast<int>(x) - 250, dy = static_cast<int>(y) - 200;
            const int r2 = dx * dx + dy * dy;
            img.SetCell(x, y, (r2 < 150 * 150 && r2 > 100 * 100) ? 1 : 0);
        }
    return img;
}

// The retina image as the canvas window leaves it before sampling a figure:
// sized like the canvas, then filled with the figure's cells.
void PrepareRetina(TRectImage& retina, const TRectImage& canvas) {
    retina = canvas;
}

// Times the operation on the retina, prepared afresh (untimed) before each run.
template <class Operation>
void OnPreparedRetina(benchmark::State& state, Operation operation) {
    const TRectImage canvas = Canvas();
    TRectImage work;
    for (auto _ : state) {
        state.PauseTiming();
        PrepareRetina(work, canvas);
        state.ResumeTiming();
        operation(work);
        benchmark::DoNotOptimize(work.Cells.data());
    }
}

void BM_CropAndRescaleFullCanvas(benchmark::State& state) {
    OnPreparedRetina(state, [](TRectImage& work) {
        work.Crop(0, 0, 500, 400);
        work.Rescale(10, 10);
    });
}
BENCHMARK(BM_CropAndRescaleFullCanvas)->Unit(benchmark::kMicrosecond);

void BM_CropFullCanvas(benchmark::State& state) {
    OnPreparedRetina(state, [](TRectImage& work) { work.Crop(0, 0, 500, 400); });
}
BENCHMARK(BM_CropFullCanvas)->Unit(benchmark::kMicrosecond);

void BM_RescaleFullCanvas(benchmark::State& state) {
    OnPreparedRetina(state, [](TRectImage& work) { work.Rescale(10, 10); });
}
BENCHMARK(BM_RescaleFullCanvas)->Unit(benchmark::kMicrosecond);

// One sweep of the canvas through the accessors, as when it is sampled from
// the picture and searched for figures: a read and a write per cell.
void BM_CanvasSweep(benchmark::State& state) {
    TRectImage canvas = Canvas();
    for (auto _ : state) {
        std::uint32_t set = 0;
        for (std::uint32_t y = 0; y < 400; ++y)
            for (std::uint32_t x = 0; x < 500; ++x) {
                const std::int8_t v = canvas.GetCell(x, y);
                set += static_cast<std::uint32_t>(v);
                canvas.SetCell(x, y, v);
            }
        benchmark::DoNotOptimize(set);
    }
    state.SetItemsProcessed(state.iterations() * 200000);
}
BENCHMARK(BM_CanvasSweep)->Unit(benchmark::kMicrosecond);

std::string BenchFile() {
    return "/tmp/trelis_images_bench_" + std::to_string(::getpid()) + ".llt";
}

void FillSequence(PatternRing& ring, std::uint32_t n, std::uint32_t d) {
    std::mt19937 rng(5);
    TAbsImage img(d);
    ring.SetDimension(d);
    for (std::uint32_t k = 0; k < n; ++k) {
        for (auto& c : img.Cells)
            c = static_cast<std::int8_t>(rng() % 2);
        ring.Add(img, static_cast<std::int32_t>(k % 12));   // classes 10 and 11 need translation
    }
}

void BM_SaveSequence10000x400(benchmark::State& state) {
    PatternRing ring;
    FillSequence(ring, 10000, 400);
    const std::string file = BenchFile();
    for (auto _ : state)
        if (!ring.SaveToFile(file))
            state.SkipWithError("save failed");
    std::remove(file.c_str());
}
BENCHMARK(BM_SaveSequence10000x400)->Unit(benchmark::kMillisecond);

void BM_LoadSequence10000x400(benchmark::State& state) {
    const std::string file = BenchFile();
    {
        PatternRing ring;
        FillSequence(ring, 10000, 400);
        ring.SaveToFile(file);
    }
    PatternRing ring;
    for (auto _ : state)
        if (!ring.LoadFromFile(file))
            state.SkipWithError("load failed");
    std::remove(file.c_str());
}
BENCHMARK(BM_LoadSequence10000x400)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
