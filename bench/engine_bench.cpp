// Engine benchmarks: time per sample of the forward pass and the training
// steps on the system's network shapes, next to FANN 2.2 (single precision)
// on the same shapes, data and initial weights when FANN was found.
//
//   Forward/100-25-10            forward pass of a byte pattern
//   Forward/400-64-26            the same on a large retina
//   TrainBytes/100-25-10         one back-propagation step, retina-like pattern
//   TrainBytes/400-64-26         the same on a large retina
//   TrainFloat/3-2-1             one step on one window of a 1,000-value series
//   TrainStochastic/100-25-10    one stochastic pass (every weight tried once)
//   StochasticPerturbLoop/...    the same pass as PerturbWeight calls, one after another
//   StochasticPlainLoops/...     the same pass with plain loops, one weight at a time
//
// Every timed iteration is one sample: one pattern, or one series window.

#include "engine/NeuralNet.h"
#include "engine/Random.h"
#include "tests/engine/ReferenceNet.h"

#include <benchmark/benchmark.h>

#ifdef TRELIS_HAVE_FANN
#include <floatfann.h>
#endif

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr std::time_t kBuildSecond = 1700000000;

// Byte patterns with about 20% ones (a sampled retina), their one-hot targets,
// and the same data as floats for FANN (which has its own bias neurons).
struct RetinaData {
    std::uint32_t inputs = 0, classes = 0;
    std::vector<std::vector<std::int8_t>> patterns, targets;
    std::vector<std::vector<float>> floatPatterns, floatTargets;

    RetinaData(std::uint32_t inputCount, std::uint32_t classCount, std::size_t count = 64)
        : inputs(inputCount), classes(classCount)
    {
        std::mt19937 gen(inputCount * 31 + classCount);
        std::bernoulli_distribution cell(0.2);
        for (std::size_t p = 0; p < count; ++p) {
            std::vector<std::int8_t> pattern(inputs + 1);
            std::vector<float> floats(inputs);
            for (std::uint32_t i = 0; i < inputs; ++i) {
                pattern[i] = cell(gen) ? 1 : 0;
                floats[i] = pattern[i];
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

void ForwardBytes(benchmark::State& state, std::uint32_t inputs, std::uint32_t hidden, std::uint32_t classes)
{
    const RetinaData data(inputs, classes);
    TNeuralNet net = BuildNet(inputs, hidden, classes);
    std::size_t p = 0;
    for (auto _ : state) {
        net.ForwardBytes(data.patterns[p].data());
        benchmark::DoNotOptimize(net.outputs[0]);
        p = (p + 1) % data.patterns.size();
    }
}

void TrainBytes(benchmark::State& state, std::uint32_t inputs, std::uint32_t hidden, std::uint32_t classes)
{
    const RetinaData data(inputs, classes);
    TNeuralNet net = BuildNet(inputs, hidden, classes);
    std::size_t p = 0;
    for (auto _ : state) {
        net.TrainBytes(data.patterns[p].data(), data.targets[p].data(), 0.1f, 0.0f);
        p = (p + 1) % data.patterns.size();
    }
    benchmark::DoNotOptimize(net.outputs[0]);
}

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
    const RetinaData data(100, 10);
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

    FannNet(std::uint32_t inputs, std::uint32_t hidden, std::uint32_t outputs, float learningRate)
    {
        ann = fann_create_standard(3, inputs, hidden, outputs);
        fann_set_training_algorithm(ann, FANN_TRAIN_INCREMENTAL);
        fann_set_learning_rate(ann, learningRate);
        fann_set_learning_momentum(ann, 0.0f);
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

void FannRun(benchmark::State& state, std::uint32_t inputs, std::uint32_t hidden, std::uint32_t classes)
{
    RetinaData data(inputs, classes);
    FannNet fann(inputs, hidden, classes, 0.1f);
    std::size_t p = 0;
    for (auto _ : state) {
        fann_type* out = fann_run(fann.ann, data.floatPatterns[p].data());
        benchmark::DoNotOptimize(out[0]);
        p = (p + 1) % data.patterns.size();
    }
}

void FannTrain(benchmark::State& state, std::uint32_t inputs, std::uint32_t hidden, std::uint32_t classes)
{
    RetinaData data(inputs, classes);
    FannNet fann(inputs, hidden, classes, 0.1f);
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
    FannNet fann(window, 2, 1, 0.5f);
    std::size_t t = 0;
    for (auto _ : state) {
        fann_train(fann.ann, series.data() + t, series.data() + t + window);
        if (++t + window >= series.size()) t = 0;
    }
    benchmark::DoNotOptimize(fann.ann->weights[0]);
}

#endif

} // namespace

// Each engine workload is registered next to its FANN counterpart, so that the
// two are timed close together even without interleaving.
#ifdef TRELIS_HAVE_FANN
#define TRELIS_FANN_BENCHMARK(...) __VA_ARGS__
#else
#define TRELIS_FANN_BENCHMARK(...)
#endif

BENCHMARK_CAPTURE(ForwardBytes, small, 100, 25, 10)->Name("Forward/100-25-10/engine");
TRELIS_FANN_BENCHMARK(BENCHMARK_CAPTURE(FannRun, small, 100, 25, 10)->Name("Forward/100-25-10/fann"));
BENCHMARK_CAPTURE(ForwardBytes, large, 400, 64, 26)->Name("Forward/400-64-26/engine");
TRELIS_FANN_BENCHMARK(BENCHMARK_CAPTURE(FannRun, large, 400, 64, 26)->Name("Forward/400-64-26/fann"));
BENCHMARK_CAPTURE(TrainBytes, small, 100, 25, 10)->Name("TrainBytes/100-25-10/engine");
TRELIS_FANN_BENCHMARK(BENCHMARK_CAPTURE(FannTrain, small, 100, 25, 10)->Name("TrainBytes/100-25-10/fann"));
BENCHMARK_CAPTURE(TrainBytes, large, 400, 64, 26)->Name("TrainBytes/400-64-26/engine");
TRELIS_FANN_BENCHMARK(BENCHMARK_CAPTURE(FannTrain, large, 400, 64, 26)->Name("TrainBytes/400-64-26/fann"));
BENCHMARK(TrainFloat)->Name("TrainFloat/3-2-1/engine");
TRELIS_FANN_BENCHMARK(BENCHMARK(FannTrainSeries)->Name("TrainFloat/3-2-1/fann"));
BENCHMARK_CAPTURE(Stochastic, fast, 0)->Name("TrainStochastic/100-25-10/engine")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Stochastic, perturb, 1)
    ->Name("StochasticPerturbLoop/100-25-10/engine")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Stochastic, plain, 2)
    ->Name("StochasticPlainLoops/100-25-10/reference")
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
