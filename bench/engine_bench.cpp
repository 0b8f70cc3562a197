// Engine benchmarks: time per sample of the forward pass and the training
// steps, next to FANN 2.2 (single precision) on the same shapes, data and
// initial weights when FANN was found.
//
//   Forward/<shape>                 forward pass of a stroke pattern of 0 and 1
//   TrainBytes/<shape>              one back-propagation step on such a pattern, momentum 0
//   TrainBytesMomentum/<shape>      the same with momentum 0.9
//   TrainBytesGrey/<shape>          the step on grey strokes (bytes 2..127 and 0), momentum 0
//   TrainBytesGreyMomentum/<shape>  grey strokes with momentum 0.9
//   ...Flushed/<shape>              the grey steps with the CPU flushing subnormal numbers to zero: not
//                                   the engine's results, only a measure of what subnormals cost
//   TrainFloat/3-2-1                one step on one window of a 1,000-value series
//   TrainStochastic/100-25-10       one stochastic pass (every weight tried once)
//   StochasticPerturbLoop/...       the same pass as PerturbWeight calls, one after another
//   StochasticPlainLoops/...        the same pass with plain loops, one weight at a time
//
// A shape is inputs-hidden-outputs; the inputs are a square retina. Every
// timed iteration is one sample: one pattern, or one series window. Each
// engine workload is registered next to its FANN counterpart; run with
// repetitions and random interleaving (see docs/engine.md), the program ends with
// a table of the medians of both and their ratio.

#include "engine/NeuralNet.h"
#include "engine/Random.h"
#include "tests/engine/ReferenceNet.h"

#include <benchmark/benchmark.h>

#ifdef TRELIS_HAVE_FANN
#include <floatfann.h>
#endif

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::time_t kBuildSecond = 1700000000;

struct Shape {
    std::uint32_t inputs, hidden, outputs;
};

// The shapes users build: retinas of 8x8 to 28x28, 10 to 26 classes.
const Shape kShapes[] = {{64, 25, 10},  {100, 24, 10},  {100, 25, 10}, {100, 30, 10},  {100, 25, 26},
                         {144, 40, 10}, {256, 50, 26},  {400, 64, 26}, {400, 100, 26}, {784, 128, 10},
                         {784, 300, 10}};

std::string ShapeName(const Shape& s)
{
    return std::to_string(s.inputs) + "-" + std::to_string(s.hidden) + "-" + std::to_string(s.outputs);
}

// Patterns as a figure cut onto the retina gives them: two or three thick
// strokes on a side x side grid (about a quarter of the cells set), then the
// bias byte 1; their one-hot targets; the same data as floats for FANN (which
// has its own bias neurons). Grey: each stroke cell holds 2..127, darker
// towards the stroke's middle, as a sequence file of another tool may hold.
struct RetinaData {
    std::uint32_t inputs = 0, classes = 0;
    std::vector<std::vector<std::int8_t>> patterns, targets;
    std::vector<std::vector<float>> floatPatterns, floatTargets;

    RetinaData(std::uint32_t inputCount, std::uint32_t classCount, bool grey, std::size_t count = 64)
        : inputs(inputCount), classes(classCount)
    {
        const auto side = static_cast<int>(std::lround(std::sqrt(static_cast<double>(inputs))));
        const double pen = std::max(1.0, side / 9.0);
        std::mt19937 gen(inputCount * 31 + classCount);
        std::uniform_real_distribution<double> coordinate(0.0, side - 1.0);
        std::uniform_int_distribution<int> strokes(2, 3);
        for (std::size_t p = 0; p < count; ++p) {
            std::vector<double> depth(inputs, 0.0);  // 0 off the strokes, up to 1 in their middle
            for (int s = strokes(gen); s > 0; --s) {
                const double x0 = coordinate(gen), y0 = coordinate(gen), x1 = coordinate(gen), y1 = coordinate(gen);
                for (std::uint32_t i = 0; i < inputs; ++i) {
                    const double px = static_cast<double>(static_cast<int>(i) % side);
                    const double py = static_cast<double>(static_cast<int>(i) / side);
                    const double dx = x1 - x0, dy = y1 - y0;
                    const double t = std::clamp(((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy + 1e-9), 0.0, 1.0);
                    const double d = std::hypot(px - (x0 + t * dx), py - (y0 + t * dy));
                    if (d <= pen) depth[i] = std::max(depth[i], 1.0 - d / (pen + 1.0));
                }
            }
            std::vector<std::int8_t> pattern(inputs + 1);
            std::vector<float> floats(inputs);
            for (std::uint32_t i = 0; i < inputs; ++i) {
                int value = depth[i] > 0.0 ? 1 : 0;
                if (grey && value != 0) value = 2 + static_cast<int>(std::lround(125.0 * depth[i]));
                pattern[i] = static_cast<std::int8_t>(value);
                floats[i] = static_cast<float>(value);
            }
            pattern[inputs] = 1;
            std::vector<std::int8_t> target(classes, 0);
            std::vector<float> floatTarget(classes, 0.0f);
            target[p % classes] = 1;
            floatTarget[p % classes] = 1.0f;
            patterns.push_back(pattern);
            targets.push_back(target);
            floatPatterns.push_back(floats);
            floatTargets.push_back(floatTarget);
        }
    }
};

// A 1,000-value series in 0..1 (a slow wave with a faster ripple), as the
// series window holds it after loading.
std::vector<float> Series()
{
    std::vector<float> values(1000);
    for (std::size_t t = 0; t < values.size(); ++t)
        values[t] = 0.5f + 0.35f * std::sin(0.031f * t) + 0.1f * std::sin(0.37f * t + 1.0f);
    return values;
}

TNeuralNet BuildNet(std::uint32_t inputs, std::uint32_t hidden, std::uint32_t outputs)
{
    SetSeedClock([] { return kBuildSecond; });
    TNeuralNet net(2, {inputs, hidden, outputs}, 0.68f, 0, 0, 1, 1);
    SetSeedClock({});
    return net;
}

void ForwardBytes(benchmark::State& state, Shape shape)
{
    const RetinaData data(shape.inputs, shape.outputs, false);
    TNeuralNet net = BuildNet(shape.inputs, shape.hidden, shape.outputs);
    std::size_t p = 0;
    for (auto _ : state) {
        net.ForwardBytes(data.patterns[p].data());
        benchmark::DoNotOptimize(net.outputs[0]);
        p = (p + 1) % data.patterns.size();
    }
}

void TrainBytes(benchmark::State& state, Shape shape, bool grey, float momentum)
{
    const RetinaData data(shape.inputs, shape.outputs, grey);
    TNeuralNet net = BuildNet(shape.inputs, shape.hidden, shape.outputs);
    std::size_t p = 0;
    for (auto _ : state) {
        net.TrainBytes(data.patterns[p].data(), data.targets[p].data(), 0.1f, momentum);
        p = (p + 1) % data.patterns.size();
    }
    benchmark::DoNotOptimize(net.outputs[0]);
}

#if defined(__SSE__)
// TrainBytes with subnormal results flushed to zero and subnormal inputs read as zero.
void TrainBytesFlushed(benchmark::State& state, Shape shape, bool grey, float momentum)
{
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040);
    TrainBytes(state, shape, grey, momentum);
    _mm_setcsr(saved);
}
#endif

void TrainFloat(benchmark::State& state)
{
    const std::vector<float> series = Series();
    const std::size_t window = 3;
    TNeuralNet net = BuildNet(window, 2, 1);
    std::size_t t = 0;
    float values[window + 1];
    float target[1];
    for (auto _ : state) {
        // The series window copies each window with its bias element into the network's input.
        for (std::size_t i = 0; i < window; ++i) values[i] = series[t + i];
        values[window] = 1.0f;
        target[0] = series[t + window];
        net.TrainFloat(values, target, 0.5f, 0.0f);
        if (++t + window >= series.size()) t = 0;
    }
    benchmark::DoNotOptimize(net.outputs[0]);
}

// One stochastic pass per iteration, on patterns in turn. Kind 0: the engine's
// pass; 1: PerturbWeight after PerturbWeight; 2: plain loops.
void Stochastic(benchmark::State& state, int kind)
{
    const RetinaData data(100, 10, false);
    TNeuralNet net = BuildNet(100, 25, 10);
    RandomSeed(1);
    std::size_t p = 0;
    for (auto _ : state) {
        const std::int8_t* pattern = data.patterns[p].data();
        const std::int8_t* target = data.targets[p].data();
        if (kind == 0) {
            net.TrainStochastic(pattern, target, 0.1f);
        } else if (kind == 1) {
            for (std::uint32_t k = 0; k < net.layerCount; ++k)
                for (std::uint32_t i = 0; i <= net.layers[k].inputCount; ++i)
                    for (std::uint32_t j = 0; j < net.layers[k].neuronCount; ++j)
                        net.PerturbWeight(k, i, j, pattern, target, 0.1f);
        } else {
            reference::TrainStochastic(net, pattern, target, 0.1f);
        }
        p = (p + 1) % data.patterns.size();
    }
    benchmark::DoNotOptimize(net.outputs[0]);
}

#ifdef TRELIS_HAVE_FANN

// A FANN network of the same shape with the engine network's initial weights,
// trained incrementally with the logistic function (FANN_SIGMOID, steepness 0.5).
struct FannNet {
    struct fann* ann = nullptr;

    FannNet(std::uint32_t inputs, std::uint32_t hidden, std::uint32_t outputs, float learningRate, float momentum)
    {
        ann = fann_create_standard(3, inputs, hidden, outputs);
        fann_set_training_algorithm(ann, FANN_TRAIN_INCREMENTAL);
        fann_set_learning_rate(ann, learningRate);
        fann_set_learning_momentum(ann, momentum);
        fann_set_activation_function_hidden(ann, FANN_SIGMOID);
        fann_set_activation_function_output(ann, FANN_SIGMOID);
        fann_set_activation_steepness_hidden(ann, 0.5f);
        fann_set_activation_steepness_output(ann, 0.5f);
        fann_set_train_error_function(ann, FANN_ERRORFUNC_LINEAR);

        // FANN numbers its neurons layer after layer, each layer ending with
        // its bias neuron; that bias is row `inputCount` of our weight block.
        const TNeuralNet net = BuildNet(inputs, hidden, outputs);
        const unsigned int firstOfLayer[3] = {0, inputs + 1, inputs + 1 + hidden + 1};
        const unsigned int count = fann_get_total_connections(ann);
        std::vector<struct fann_connection> connections(count);
        fann_get_connection_array(ann, connections.data());
        for (unsigned int c = 0; c < count; ++c) {
            const unsigned int to = connections[c].to_neuron;
            const unsigned int layer = to >= firstOfLayer[2] ? 2 : 1;
            const unsigned int column = to - firstOfLayer[layer];
            const unsigned int row = connections[c].from_neuron - firstOfLayer[layer - 1];
            // The connection array lists the weights in FANN's storage order.
            ann->weights[c] = net.layers[layer - 1].weights[row][column];
        }
    }
    ~FannNet() { fann_destroy(ann); }
    FannNet(const FannNet&) = delete;
    FannNet& operator=(const FannNet&) = delete;
};

void FannRun(benchmark::State& state, Shape shape)
{
    RetinaData data(shape.inputs, shape.outputs, false);
    FannNet fann(shape.inputs, shape.hidden, shape.outputs, 0.1f, 0.0f);
    std::size_t p = 0;
    for (auto _ : state) {
        fann_type* out = fann_run(fann.ann, data.floatPatterns[p].data());
        benchmark::DoNotOptimize(out[0]);
        p = (p + 1) % data.patterns.size();
    }
}

void FannTrain(benchmark::State& state, Shape shape, bool grey, float momentum)
{
    RetinaData data(shape.inputs, shape.outputs, grey);
    FannNet fann(shape.inputs, shape.hidden, shape.outputs, 0.1f, momentum);
    std::size_t p = 0;
    for (auto _ : state) {
        fann_train(fann.ann, data.floatPatterns[p].data(), data.floatTargets[p].data());
        p = (p + 1) % data.patterns.size();
    }
    benchmark::DoNotOptimize(fann.ann->weights[0]);
}

void FannTrainSeries(benchmark::State& state)
{
    std::vector<float> series = Series();
    const std::size_t window = 3;
    FannNet fann(window, 2, 1, 0.5f, 0.0f);
    std::size_t t = 0;
    for (auto _ : state) {
        fann_train(fann.ann, series.data() + t, series.data() + t + window);
        if (++t + window >= series.size()) t = 0;
    }
    benchmark::DoNotOptimize(fann.ann->weights[0]);
}

#endif

// Each engine workload next to its FANN counterpart, so that the two are timed
// close together even without interleaving.
void RegisterAll()
{
    struct Train {
        const char* name;
        bool grey;
        float momentum;
    };
    const Train trains[] = {{"TrainBytes", false, 0.0f},
                            {"TrainBytesMomentum", false, 0.9f},
                            {"TrainBytesGrey", true, 0.0f},
                            {"TrainBytesGreyMomentum", true, 0.9f}};
    for (const Shape& shape : kShapes) {
        const std::string name = ShapeName(shape);
        benchmark::RegisterBenchmark(("Forward/" + name + "/engine").c_str(), ForwardBytes, shape);
#ifdef TRELIS_HAVE_FANN
        benchmark::RegisterBenchmark(("Forward/" + name + "/fann").c_str(), FannRun, shape);
#endif
        for (const Train& t : trains) {
            benchmark::RegisterBenchmark((std::string(t.name) + "/" + name + "/engine").c_str(), TrainBytes, shape,
                                         t.grey, t.momentum);
#ifdef TRELIS_HAVE_FANN
            benchmark::RegisterBenchmark((std::string(t.name) + "/" + name + "/fann").c_str(), FannTrain, shape,
                                         t.grey, t.momentum);
#endif
        }
    }
#if defined(__SSE__)
    for (const Shape& shape : {Shape{100, 25, 10}, Shape{100, 25, 26}, Shape{400, 100, 26}}) {
        const std::string name = ShapeName(shape);
        benchmark::RegisterBenchmark(("TrainBytesGreyFlushed/" + name + "/engine").c_str(), TrainBytesFlushed, shape,
                                     true, 0.0f);
        benchmark::RegisterBenchmark(("TrainBytesGreyMomentumFlushed/" + name + "/engine").c_str(), TrainBytesFlushed,
                                     shape, true, 0.9f);
    }
#endif
    benchmark::RegisterBenchmark("TrainFloat/3-2-1/engine", TrainFloat);
#ifdef TRELIS_HAVE_FANN
    benchmark::RegisterBenchmark("TrainFloat/3-2-1/fann", FannTrainSeries);
#endif
    benchmark::RegisterBenchmark("TrainStochastic/100-25-10/engine", Stochastic, 0)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("StochasticPerturbLoop/100-25-10/engine", Stochastic, 1)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("StochasticPlainLoops/100-25-10/reference", Stochastic, 2)
        ->Unit(benchmark::kMicrosecond);
}

// The console report, and at the end a table of each workload's median CPU
// time per sample for the engine and for FANN, and their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.benchmark_name();
            const std::size_t slash = name.rfind('/');
            if (slash == std::string::npos) continue;
            const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
            Workload& w = workloads_[name.substr(0, slash)];
            w.order = std::min(w.order, run.family_index);
            (name.substr(slash + 1) == "fann" ? w.fann : w.engine).push_back(seconds);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::vector<std::pair<std::int64_t, std::string>> order;
        for (const auto& [name, w] : workloads_)
            if (!w.engine.empty() && !w.fann.empty()) order.emplace_back(w.order, name);
        if (order.empty()) return;
        std::sort(order.begin(), order.end());
        std::printf("\nMedian CPU time per sample (runs: engine/FANN), FANN / engine:\n");
        std::printf("%-36s %12s %12s %8s\n", "workload", "engine", "FANN", "ratio");
        for (const auto& [position, name] : order) {
            const Workload& w = workloads_[name];
            const double engine = Median(w.engine), fann = Median(w.fann);
            std::printf("%-36s %12s %12s %7.1fx  (%zu/%zu)\n", name.c_str(), Time(engine).c_str(), Time(fann).c_str(),
                        fann / engine, w.engine.size(), w.fann.size());
        }
    }

private:
    struct Workload {
        std::int64_t order = INT64_MAX;  // registration order
        std::vector<double> engine, fann;
    };

    static double Median(std::vector<double> v)
    {
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    }

    static std::string Time(double seconds)
    {
        char text[32];
        if (seconds < 1e-5) std::snprintf(text, sizeof text, "%.0f ns", seconds * 1e9);
        else if (seconds < 1e-2) std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
        else std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
        return text;
    }

    std::map<std::string, Workload> workloads_;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
