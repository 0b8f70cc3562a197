// Speed of the learning window's epoch (one timer tick) and of recognition.
//
// The window keeps the program responsive only while one epoch fits well
// inside a tick, so both training methods are measured on the default
// project size: 25 patterns of 100 cells on a 100-25-10 network, once as
// the bare epoch and once as the window runs it, bars included; the window
// tick is measured with nobody following the epochs, with the learning
// progress window closed (it listens all the same), and with it open,
// listening and repainting on its own timer (its curve, its matrices and the
// tiles of the hidden neurons' weights). The back-propagation ticks are also
// measured on the shape of a project imported from 28 x 28 pictures with
// 100 hidden neurons, whose 100 tiles of 784 weights the open window draws.
// Recognition is measured on a canvas of 50 small figures, from reading the
// canvas to the last label.

#include <benchmark/benchmark.h>

#include "engine/NeuralNet.h"
#include "engine/Random.h"
#include "forms/Forms.h"
#include "forms/Globals.h"
#include "project/Learning.h"
#include "forms/Unit2.h"
#include "forms/Unit3.h"
#include "forms/Unit4.h"
#include "forms/Unit13.h"
#include "forms/Unit7.h"
#include "forms/Unit9.h"
#include "framework/Application.h"
#include "project/Globals.h"

#include <QCheckBox>
#include <QTimer>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t Side = 10;
constexpr std::uint32_t Cells = Side * Side;
constexpr std::uint32_t Hidden = 25;
constexpr std::uint32_t Classes = 10;
constexpr int Patterns = 25;

std::unique_ptr<TNeuralNet> DefaultNet(std::uint32_t side = Side, std::uint32_t hidden = Hidden)
{
    SetSeedClock([] { return std::time_t{1000}; });
    auto net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{side * side, hidden, Classes}, 0.68f,
                                            0.0f, 0.0f, 1.0f, 1.0f);
    SetSeedClock({});
    return net;
}

// 25 figure-like patterns: each a filled box of random place and size (in
// tenths of the side).
void FillSequence(PatternRing& ring, std::uint32_t side = Side)
{
    std::mt19937 rng(5);
    ring.Clear();
    ring.SetDimension(side * side);
    for (int k = 0; k < Patterns; ++k) {
        TAbsImage image(side * side);
        const std::uint32_t x0 = rng() % 5 * side / 10, y0 = rng() % 5 * side / 10;
        const std::uint32_t w = (3 + rng() % 5) * side / 10, h = (3 + rng() % 5) * side / 10;
        for (std::uint32_t y = y0; y < std::min(side, y0 + h); ++y)
            for (std::uint32_t x = x0; x < std::min(side, x0 + w); ++x)
                image.Cells[y * side + x] = 1;
        ring.Add(image, k % static_cast<int>(Classes));
    }
}

void BM_EpochBackPropagation(benchmark::State& state)
{
    auto net = DefaultNet();
    PatternRing ring;
    FillSequence(ring);
    TPatternTrainer trainer;
    const TTrainingSettings settings;
    for (auto _ : state)
        benchmark::DoNotOptimize(trainer.RunEpoch(*net, ring, settings).correct);
}
BENCHMARK(BM_EpochBackPropagation)->Unit(benchmark::kMicrosecond);

void BM_EpochStochastic(benchmark::State& state)
{
    auto net = DefaultNet();
    PatternRing ring;
    FillSequence(ring);
    TPatternTrainer trainer;
    TTrainingSettings settings;
    settings.method = TTrainingMethod::Stochastic;
    RandomSeed(3);
    for (auto _ : state)
        benchmark::DoNotOptimize(trainer.RunEpoch(*net, ring, settings).correct);
}
BENCHMARK(BM_EpochStochastic)->Unit(benchmark::kMicrosecond);

// The windows exist while the window benchmarks run.
struct Windows {
    Windows()
    {
        Project.Reset();
        CreateForms();
    }
    ~Windows()
    {
        DestroyForms();
        Project.Reset();
    }
};

// How the progress window follows the epochs: not at all (as if the program
// had none), closed (it always listens), or open and repainting.
enum class TFollowed { No, Closed, Open };

// The shape is the benchmark's arguments: the retina's side and the hidden
// neurons (the default project's without them).
void WindowEpoch(benchmark::State& state, bool stochastic, TFollowed followed)
{
    Windows windows;
    if (followed == TFollowed::No) {
        // Without the progress window nobody follows the epochs.
        delete ProgressForm;
        ProgressForm = nullptr;
    }
    const auto side = static_cast<std::uint32_t>(state.range(0));
    Project.ReplaceNetwork(DefaultNet(side, static_cast<std::uint32_t>(state.range(1))));
    PatternRing ring;
    FillSequence(ring, side);
    Project.ReplaceSequence(ring);
    LearnForm->stochastic = stochastic;
    LearnForm->Show();
    LearnForm->CheckBox1->setChecked(true);   // never stops by itself
    LearnForm->Button2Click();
    LearnForm->Timer1->stop();                // the ticks come from the loop below
    if (followed == TFollowed::Open)
        ProgressForm->Show();
    RandomSeed(3);
    // Each tick is followed by the program's event processing, where the
    // progress window's repaint timer runs when it is due.
    for (auto _ : state) {
        LearnForm->Timer1Timer();
        QCoreApplication::processEvents();
    }
    LearnForm->close();
}

void BM_WindowEpochBackPropagation(benchmark::State& state) { WindowEpoch(state, false, TFollowed::No); }
BENCHMARK(BM_WindowEpochBackPropagation)->Args({Side, Hidden})->Args({28, 100})->Unit(benchmark::kMicrosecond);

void BM_WindowEpochBackPropagationProgressClosed(benchmark::State& state)
{
    WindowEpoch(state, false, TFollowed::Closed);
}
BENCHMARK(BM_WindowEpochBackPropagationProgressClosed)
    ->Args({Side, Hidden})
    ->Args({28, 100})
    ->Unit(benchmark::kMicrosecond);

void BM_WindowEpochBackPropagationWithProgress(benchmark::State& state) { WindowEpoch(state, false, TFollowed::Open); }
BENCHMARK(BM_WindowEpochBackPropagationWithProgress)
    ->Args({Side, Hidden})
    ->Args({28, 100})
    ->Unit(benchmark::kMicrosecond);

void BM_WindowEpochStochastic(benchmark::State& state) { WindowEpoch(state, true, TFollowed::No); }
BENCHMARK(BM_WindowEpochStochastic)->Args({Side, Hidden})->Unit(benchmark::kMicrosecond);

void BM_WindowEpochStochasticWithProgress(benchmark::State& state) { WindowEpoch(state, true, TFollowed::Open); }
BENCHMARK(BM_WindowEpochStochasticWithProgress)->Args({Side, Hidden})->Unit(benchmark::kMicrosecond);

// One repaint of the progress window with a full curve (thousands of
// epochs thinned to its 2049 points) and the matrix of a 10-class epoch.
void BM_ProgressRepaint(benchmark::State& state)
{
    Windows windows;
    Project.ReplaceNetwork(DefaultNet());
    PatternRing ring;
    FillSequence(ring);
    Project.ReplaceSequence(ring);
    LearnForm->Show();
    LearnForm->CheckBox1->setChecked(true);
    LearnForm->Button2Click();
    LearnForm->Timer1->stop();
    for (int epoch = 0; epoch < 5000; ++epoch)
        LearnForm->RunEpoch();
    LearnForm->close();
    ProgressForm->Show();
    for (auto _ : state)
        ProgressForm->Repaint();
}
BENCHMARK(BM_ProgressRepaint)->Unit(benchmark::kMillisecond);

// 50 figures of about 20 x 30 pixels in a 10 x 5 grid, half of them boxes
// and half crosses, drawn black on the canvas.
void DrawFigures()
{
    TCanvas& canvas = ImForm->Image1->Canvas();
    canvas.SetPenColor(clWhite);
    canvas.SetBrushColor(clWhite);
    canvas.Rectangle(0, 0, 500, 400);
    canvas.SetPenColor(clBlack);
    canvas.SetBrushColor(clBlack);
    canvas.SetPenWidth(3);
    for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 10; ++col) {
            const int x = 10 + col * 48, y = 15 + row * 76;
            if ((row + col) % 2 == 0) {
                canvas.Rectangle(x, y, x + 22, y + 32);
            } else {
                canvas.MoveTo(x, y);
                canvas.LineTo(x + 22, y + 32);
                canvas.MoveTo(x + 22, y);
                canvas.LineTo(x, y + 32);
            }
        }
}

void BM_RecognizeFiftyFigures(benchmark::State& state)
{
    Windows windows;
    Project.NewProject({static_cast<std::int32_t>(Cells), static_cast<std::int32_t>(Classes), 25});
    Project.ReplaceNetwork(DefaultNet());
    Form7->StringGrid1->SetRowCount(static_cast<int>(Classes) + 1);
    for (int r = 1; r <= static_cast<int>(Classes); ++r)
        Form7->StringGrid1->SetCell(1, r, QStringLiteral("класс %1").arg(r - 1));
    for (auto _ : state) {
        state.PauseTiming();
        DrawFigures();
        state.ResumeTiming();
        ImForm->ReadCanvas();
        AnsForm->DrawAnswer();
    }
}
BENCHMARK(BM_RecognizeFiftyFigures)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
