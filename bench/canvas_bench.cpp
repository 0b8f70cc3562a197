// The canvas window's two routines on the full 500 x 400 canvas, through
// the window as the menu and ">>" call them: reading the drawing into
// CanvasImage, and taking a figure that covers the whole canvas (fill,
// yellow marks on the bitmap, crop and rescale onto a 10 x 10 retina).
// Then "Распознать" on a speckled canvas, through the windows, and
// recognition of a 4096 x 4096 picture of dots, with the extraction that
// sizes a grid to the whole picture for every figure beside it as the peer.
#include "forms/CanvasAlgorithms.h"
#include "forms/Forms.h"
#include "forms/Unit2.h"
#include "forms/Unit3.h"
#include "forms/Unit9.h"
#include "framework/Application.h"
#include "project/Figures.h"
#include "project/Globals.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

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

// A dot on every second pixel of every second row: separate figures of one
// cell each, as many as the area holds.
void PaintSpecks(QImage& bitmap)
{
    bitmap.fill(clWhite);
    for (int y = 0; y < bitmap.height(); y += 2)
        for (int x = 0; x < bitmap.width(); x += 2)
            bitmap.setPixel(x, y, clBlack);
}

// A network of the digits' shape on a 20 x 20 retina.
std::unique_ptr<TNeuralNet> RetinaNet()
{
    return std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{400, 64, 26}, 0.5f, 0.0f, 0.0f, 1.0f, 1.0f);
}

// "Холст" / "Распознать" with both windows shown: the canvas read, every
// figure taken, marked yellow and named on the answer sheet, the windows
// repainted.
void RecogniseSpeckledCanvas(benchmark::State& state)
{
    Project.NewProject({400, 26, 64}); // a 20 x 20 retina
    std::vector<std::string> names;
    for (char c = 'A'; c <= 'Z'; ++c) names.push_back(std::string("Буква ") + c);
    Project.SetLoadedClassNames(names);
    ImForm->show();
    for (auto _ : state) {
        state.PauseTiming();
        PaintSpecks(ImForm->Image1->Canvas().Image());
        ImForm->Image1->update();
        QApplication::processEvents();
        state.ResumeTiming();
        ImForm->ReadCanvas();
        AnsForm->show(); // draws the answer
        QApplication::processEvents();
        state.PauseTiming();
        AnsForm->close();
        state.ResumeTiming();
    }
    ImForm->hide();
    if (FindFirstSetCell(CanvasImage, 500, 400) || ImForm->objectWidth != 0)
        state.SkipWithError("figures were left on the canvas");
    state.counters["figures"] = 250 * 200;
    state.SetItemsProcessed(state.iterations() * 250 * 200);
}
BENCHMARK(RecogniseSpeckledCanvas)->Unit(benchmark::kMillisecond)->Iterations(3);

TRectImage DotsPicture(std::uint32_t side)
{
    TRectImage picture;
    picture.Resize(side, side);
    for (std::uint32_t y = 0; y < side; y += 2)
        for (std::uint32_t x = 0; x < side; x += 2) picture.SetCell(x, y, 1);
    return picture;
}

// The dots of a 4096 x 4096 picture (4,194,304 figures), as trelis-cli
// recognise takes them: at most 100,001 named (arg 0), or none of them
// named with a least size of 2 cells (arg 1).
void RecogniseDotsPicture(benchmark::State& state)
{
    const TRectImage dots = DotsPicture(4096);
    const auto net = RetinaNet();
    const TFigureFilter filter = state.range(0) == 0 ? TFigureFilter{1, 100001} : TFigureFilter{2, 100001};
    std::size_t named = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TRectImage canvas = dots;
        TRectImage retina;
        state.ResumeTiming();
        named = RecogniseFigures(canvas, retina, 4096, 4096, 20, 20, *net, {}, filter).size();
    }
    state.counters["named"] = static_cast<double>(named);
}
BENCHMARK(RecogniseDotsPicture)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The peer: every figure filled into a grid of the whole picture's size,
// which is then cut to the box and rescaled, on a 1024 x 1024 picture of
// dots (262,144 figures) and on the speckled canvas (50,000); the same
// pictures through ExtractFigure beside it.
void ExtractEveryDot(benchmark::State& state)
{
    const bool wholeGrid = state.range(0) == 1;
    const TRectImage dots = state.range(1) == 0 ? DotsPicture(1024) : [] {
        TRectImage canvas;
        canvas.Resize(500, 400);
        for (std::uint32_t y = 0; y < 400; y += 2)
            for (std::uint32_t x = 0; x < 500; x += 2) canvas.SetCell(x, y, 1);
        return canvas;
    }();
    std::size_t figures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TRectImage canvas = dots;
        TRectImage retina;
        figures = 0;
        state.ResumeTiming();
        TCellPos from;
        while (const auto cell = FindFirstSetCell(canvas, canvas.Width, canvas.Height, from)) {
            if (wholeGrid) {
                retina.Resize(canvas.Width, canvas.Height);
                const TObjectBox o = FillObject(canvas, retina, cell->x, cell->y);
                SampleFigure(retina, {o.left, o.top, o.maxX - o.left, o.maxY - o.top}, 20, 20);
            } else {
                ExtractFigure(canvas, retina, cell->x, cell->y, 20, 20);
            }
            from = {cell->x + 1, cell->y};
            ++figures;
        }
    }
    state.counters["figures"] = static_cast<double>(figures);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(figures));
}
BENCHMARK(ExtractEveryDot)
    ->ArgNames({"whole_grid", "canvas"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

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
