// Speed of the time-series window: one training epoch (a Timer1 tick) and
// one repaint (a Timer2 tick) must each stay well inside the 500 ms between
// repaints, a series of a million values must load in under a second, and
// on a long series no tick of any window holds the program much longer
// than an epoch takes, from the first epoch after the load on.
// The windows run headless; the loads go through the initialisation
// dialog's "ОК" with the file dialog answered.

#include <benchmark/benchmark.h>

#include "forms/Forms.h"
#include "forms/Globals.h"
#include "forms/Unit10.h"
#include "forms/Unit11.h"
#include "forms/Unit13.h"
#include "framework/Application.h"
#include "framework/Seams.h"
#include "images/SeriesFile.h"

#include <QLineEdit>
#include <QTimer>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

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
    for (const int n : {10000, 100000, 1000000}) {
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

// The ticks right after a load of 100,000 values, window 200, trained on
// the first 90,000, with the series window and the progress window open:
// each round is a training tick (an epoch, followed by the progress window
// as it listens), a tick of the progress window (its held-out figures and a
// piece of the yardsticks) and a repaint of the series picture. The
// counters give the median epoch and the longest tick of each kind, and
// the longest tick as a multiple of the median epoch.
void BM_LongSeriesTicks(benchmark::State& state)
{
    if (!Load(SeriesFile(100000), 200, 90000)) {
        state.SkipWithError("the series did not load");
        return;
    }
    SerLForm->Show();
    SerLForm->Timer2->stop(); // the ticks come from the loop below
    ProgressForm->Show();
    ProgressForm->Timer1->stop();
    using Clock = std::chrono::steady_clock;
    const auto time = [](auto&& tick) {
        const Clock::time_point start = Clock::now();
        tick();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    std::vector<double> epochs;
    double longestTraining = 0.0, longestProgress = 0.0, longestRepaint = 0.0;
    for (auto _ : state) {
        const double training = time([] { SerLForm->Timer1Timer(); });
        const double progress = time([] { ProgressForm->Timer1Timer(); });
        const double repaint = time([] { SerLForm->Timer2Timer(); });
        epochs.push_back(training);
        if (std::getenv("TRELIS_BENCH_TRACE"))
            std::fprintf(stderr, "%8.1f %8.1f %8.1f\n", training, progress, repaint);
        longestTraining = std::max(longestTraining, training);
        longestProgress = std::max(longestProgress, progress);
        longestRepaint = std::max(longestRepaint, repaint);
    }
    SerLForm->close();
    ProgressForm->close();
    if (ProgressForm->History().Baselines() == nullptr)
        state.SkipWithError("the yardsticks were not ready after all the rounds");
    std::sort(epochs.begin(), epochs.end());
    const double epoch = epochs[epochs.size() / 2];
    state.counters["epoch ms"] = epoch;
    state.counters["longest training tick ms"] = longestTraining;
    state.counters["longest progress tick ms"] = longestProgress;
    state.counters["longest repaint ms"] = longestRepaint;
    state.counters["longest tick / epoch"] =
        std::max({longestTraining, longestProgress, longestRepaint}) / epoch;
}
BENCHMARK(BM_LongSeriesTicks)->Unit(benchmark::kMillisecond)->Iterations(40);

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
