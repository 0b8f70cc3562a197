// The canvas window's two routines on the full 500 x 400 canvas, through
// the window as the menu and ">>" call them: reading the drawing into
// CanvasImage, and taking a figure that covers the whole canvas (fill,
// yellow marks on the bitmap, crop and rescale onto a 10 x 10 retina).
#include "forms/CanvasAlgorithms.h"
#include "forms/Forms.h"
#include "forms/Unit2.h"
#include "forms/Unit3.h"
#include "framework/Application.h"
#include "project/Globals.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

// A drawing with strokes all over the canvas.
void DrawStrokes()
{
    TCanvas& canvas = ImForm->Image1->Canvas();
    canvas.SetPenWidth(4);
    for (int y = 10; y < 400; y += 25) {
        canvas.MoveTo(5, y);
        canvas.LineTo(495, 400 - y);
    }
}

void ReadCanvas(benchmark::State& state)
{
    ImForm->N1Click();
    DrawStrokes();
    for (auto _ : state) {
        ImForm->ReadCanvas();
        benchmark::DoNotOptimize(CanvasImage.Cells.data());
    }
    state.SetItemsProcessed(state.iterations() * 500 * 400);
}
BENCHMARK(ReadCanvas)->Unit(benchmark::kMillisecond);

void ExtractWholeCanvasFigure(benchmark::State& state)
{
    Project.NewProject({100, 10, 5}); // a 10 x 10 retina
    TCanvas& canvas = ImForm->Image1->Canvas();
    for (auto _ : state) {
        state.PauseTiming();
        canvas.SetPenColor(clBlack);
        canvas.SetBrushColor(clBlack);
        canvas.Rectangle(0, 0, 500, 400);
        ImForm->ReadCanvas();
        state.ResumeTiming();
        ImForm->ExtractObject(250, 200);
        benchmark::DoNotOptimize(RetinaImage.Cells.data());
    }
    if (ImForm->objectWidth != 499 || ImForm->objectHeight != 399)
        state.SkipWithError("the figure was not taken whole");
    state.SetItemsProcessed(state.iterations() * 500 * 400);
}
BENCHMARK(ExtractWholeCanvasFigure)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    benchmark::Initialize(&argc, argv);
    TApplication app(argc, argv);
    CreateForms();
    benchmark::RunSpecifiedBenchmarks();
    DestroyForms();
    benchmark::Shutdown();
    return 0;
}
