// Saving and opening a large project: 10,000 sequence elements of 400 cells
// (one per drawn figure) and a 400-64-26 network. The save includes the
// flush to disk.
#include "project/ProjectFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

namespace {

void FillLargeProject(TProjectState& s)
{
    s.net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{400, 64, 26}, 0.5f, 0.0f, 0.0f, 1.0f, 1.0f);
    s.sequence.SetDimension(400);
    std::mt19937 random(1);
    TAbsImage image(400);
    for (int k = 0; k < 10000; ++k) {
        for (auto& c : image.Cells) c = static_cast<std::int8_t>(random() & 1);
        s.sequence.Add(image, k % 26);
    }
    for (int k = 0; k < 26; ++k) s.classNames.push_back("Класс " + std::to_string(k));
    s.retinaWidth = 20;
    s.retinaHeight = 20;
}

std::string BenchFile()
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/trelis-bench-" + std::to_string(getpid()) + ".trelis";
}

void BM_SaveProject(benchmark::State& st)
{
    TProjectState project;
    FillLargeProject(project);
    const std::string path = BenchFile();
    for (auto _ : st)
        if (!SaveProjectFile(project, path).empty())
            st.SkipWithError("the save failed");
    std::remove(path.c_str());
}
BENCHMARK(BM_SaveProject)->Unit(benchmark::kMillisecond);

void BM_OpenProject(benchmark::State& st)
{
    TProjectState project;
    FillLargeProject(project);
    const std::string path = BenchFile();
    if (!SaveProjectFile(project, path).empty())
        st.SkipWithError("the save failed");
    for (auto _ : st) {
        TProjectState opened;
        if (!OpenProjectFile(path, opened).empty())
            st.SkipWithError("the open failed");
        benchmark::DoNotOptimize(opened.sequence.Count);
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_OpenProject)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
