// Saving and opening large projects: 10,000 sequence elements of 400 cells
// (one per drawn figure) with a 400-64-26 network, and 60,000 elements of
// 784 cells (a set of 28 x 28 digits) with a 784-100-10 network. The save
// includes the flush to disk. Beside the time, each reports the file's size
// and the most memory the operation took on top of what the process held
// before it (the rise of its peak resident size): opening is measured from
// an empty project, saving with the project already in memory.
#include "project/Project.h"
#include "project/ProjectFile.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>

namespace {

struct TShape {
    std::uint32_t elements;
    std::uint32_t cells;
    std::uint32_t hidden;
    std::uint32_t classes;
};

constexpr TShape Shapes[] = {{10000, 400, 64, 26}, {60000, 784, 100, 10}};

void FillLargeProject(TProjectState& s, const TShape& shape)
{
    s.net = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{shape.cells, shape.hidden, shape.classes}, 0.5f,
                                         0.0f, 0.0f, 1.0f, 1.0f);
    s.sequence.SetDimension(shape.cells);
    std::mt19937 random(1);
    TAbsImage image(shape.cells);
    for (std::uint32_t k = 0; k < shape.elements; ++k) {
        for (auto& c : image.Cells) c = static_cast<std::int8_t>(random() & 1);
        s.sequence.Add(image, static_cast<std::int32_t>(k % shape.classes));
    }
    for (std::uint32_t k = 0; k < shape.classes; ++k) s.classNames.push_back("Класс " + std::to_string(k));
    const auto side = static_cast<std::int32_t>(RetinaSide(shape.cells));
    s.retinaWidth = side;
    s.retinaHeight = side;
}

std::string BenchFile()
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/trelis-bench-" + std::to_string(getpid()) + ".trelis";
}

double Megabytes(double bytes)
{
    return bytes / (1024.0 * 1024.0);
}

// A line of /proc/self/status in bytes ("VmRSS", "VmHWM").
double StatusBytes(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::strtod(line.c_str() + prefix.size(), nullptr) * 1024.0;
    return 0.0;
}

// How far the resident size rises above its level before `operation`, at
// its peak and when the operation ends: memory freed earlier is handed back
// first, and the peak is reset.
struct TRise {
    double peak = 0.0;
    double end = 0.0;
};

template <class Operation>
TRise RiseDuring(Operation operation)
{
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const double before = StatusBytes("VmRSS");
    operation();
    const double peak = StatusBytes("VmHWM") - before;
    malloc_trim(0);
    return {peak, StatusBytes("VmRSS") - before};
}

double FileBytes(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0.0;
}

void BM_SaveProject(benchmark::State& st)
{
    const TShape& shape = Shapes[st.range(0)];
    const std::string path = BenchFile();
    TProjectState project;
    const double projectBytes = RiseDuring([&] { FillLargeProject(project, shape); }).end;
    const double peak = RiseDuring([&] {
                            if (!SaveProjectFile(project, path).empty())
                                st.SkipWithError("the save failed");
                        }).peak;
    for (auto _ : st)
        if (!SaveProjectFile(project, path).empty())
            st.SkipWithError("the save failed");
    st.counters["file_MB"] = Megabytes(FileBytes(path));
    st.counters["project_MB"] = Megabytes(projectBytes);
    st.counters["peak_MB"] = Megabytes(peak);
    std::remove(path.c_str());
}
BENCHMARK(BM_SaveProject)->ArgName("shape")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_OpenProject(benchmark::State& st)
{
    const std::string path = BenchFile();
    {
        TProjectState project;
        FillLargeProject(project, Shapes[st.range(0)]);
        if (!SaveProjectFile(project, path).empty())
            st.SkipWithError("the save failed");
    }
    auto kept = std::make_unique<TProjectState>();
    const TRise rise = RiseDuring([&] {
        if (!OpenProjectFile(path, *kept).empty())
            st.SkipWithError("the open failed");
    });
    kept.reset();
    for (auto _ : st) {
        TProjectState state;
        if (!OpenProjectFile(path, state).empty())
            st.SkipWithError("the open failed");
        benchmark::DoNotOptimize(state.sequence.GetCount());
    }
    const double file = FileBytes(path);
    st.counters["file_MB"] = Megabytes(file);
    st.counters["project_MB"] = Megabytes(rise.end);
    st.counters["peak_MB"] = Megabytes(rise.peak);
    st.counters["peak_per_file"] = rise.peak / file;
    std::remove(path.c_str());
}
BENCHMARK(BM_OpenProject)->ArgName("shape")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
