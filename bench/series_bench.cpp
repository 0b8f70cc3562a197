// Speed of the time-series window: one training epoch (a Timer1 tick) and
// one repaint (a Timer2 tick) must each stay well inside the 500 ms between
// repaints, and a series of a million values must load in under a second.
// The windows run headless; the loads go through the initialisation
// dialog's "ОК" with the file dialog answered.

#include <benchmark/benchmark.h>

#include "forms/Forms.h"
#include "forms/Globals.h"
#include "forms/Unit10.h"
#include "forms/Unit11.h"
#include "framework/Application.h"
#include "framework/Seams.h"
#include "images/SeriesFile.h"

#include <QLineEdit>
#include <QString>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

// A noisy sine of n values with a period of 25 steps, written once.
std::string SeriesFile(int n)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("trelis_series_bench_" + std::to_string(::getpid()) + "_" +
                                        std::to_string(n) + ".ser");
    if (!std::filesystem::exists(path)) {
        std::mt19937 rng(42);
        std::normal_distribution<double> noise(0.0, 0.1);
        std::ofstream out(path);
        out << n << "\n";
        char number[32];
        for (int i = 0; i < n; ++i) {
            std::snprintf(number, sizeof number, "%.4f", std::sin(i * 2.0 * M_PI / 25.0) + noise(rng));
            out << number << (i % 10 == 9 ? '\n' : ' ');
        }
    }
    return path.string();
}

void RemoveSeriesFiles()
{
    for (const int n : {10000, 1000000}) {
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::temp_directory_path() /
                                    ("trelis_series_bench_" + std::to_string(::getpid()) + "_" +
                                     std::to_string(n) + ".ser"),
                                ignored);
    }
}

// "ОК" of the initialisation dialog with the file chosen.
bool Load(const std::string& file, int window, int trainLength)
{
    const QString name = QString::fromStdString(file);
    Seams::fileDialog = [name](const TFileDialog&) -> std::optional<QString> { return name; };
    Seams::messageBox = [](const QString&, const QString& text) {
        std::fprintf(stderr, "refused: %s\n", text.toUtf8().constData());
    };
    Form10->Edit1->setText(QString::number(window));
    Form10->Edit2->setText(QString::number(trainLength));
    Form10->Button1Click();
    return SerLForm->SeriesReady() && SeriesBuffer.count > 0;
}

// One Timer1 tick on 10,000 values, window 10: 9,990 training steps.
void BM_SeriesEpoch10000(benchmark::State& state)
{
    if (!Load(SeriesFile(10000), 10, 10000)) {
        state.SkipWithError("the series did not load");
        return;
    }
    for (auto _ : state) {
        SerLForm->Timer1Timer();
        benchmark::DoNotOptimize(SerLForm->maxError);
    }
    state.counters["steps/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 9990.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SeriesEpoch10000)->Unit(benchmark::kMillisecond);

// One Timer2 tick on 10,000 values: grid, series, reproduction and forecast.
void BM_SeriesRepaint10000(benchmark::State& state)
{
    if (!Load(SeriesFile(10000), 10, 8000)) {
        state.SkipWithError("the series did not load");
        return;
    }
    SerLForm->Timer1Timer();
    for (auto _ : state)
        SerLForm->Timer2Timer();
}
BENCHMARK(BM_SeriesRepaint10000)->Unit(benchmark::kMillisecond);

// The same repaint for a million values, beyond what the window has columns.
void BM_SeriesRepaint1000000(benchmark::State& state)
{
    if (!Load(SeriesFile(1000000), 10, 800000)) {
        state.SkipWithError("the series did not load");
        return;
    }
    for (auto _ : state)
        SerLForm->Timer2Timer();
}
BENCHMARK(BM_SeriesRepaint1000000)->Unit(benchmark::kMillisecond);

// Reading the file of a million values alone.
void BM_ReadSeriesFile1000000(benchmark::State& state)
{
    const std::string file = SeriesFile(1000000);
    for (auto _ : state) {
        const TSeriesFileResult read = ReadSeriesFile(file);
        benchmark::DoNotOptimize(read.values.data());
    }
}
BENCHMARK(BM_ReadSeriesFile1000000)->Unit(benchmark::kMillisecond);

// The whole load of a million values, window 10: reading, checking,
// scaling, 999,990 training windows, the network and the buffers (and
// freeing the previous load's).
void BM_SeriesLoad1000000(benchmark::State& state)
{
    const std::string file = SeriesFile(1000000);
    for (auto _ : state) {
        if (!Load(file, 10, 800000)) {
            state.SkipWithError("the series did not load");
            return;
        }
    }
}
BENCHMARK(BM_SeriesLoad1000000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TApplication app(argc, argv);
    CreateForms();
    benchmark::RunSpecifiedBenchmarks();
    DestroyForms();
    Seams::Reset();
    RemoveSeriesFiles();
    benchmark::Shutdown();
    return 0;
}
