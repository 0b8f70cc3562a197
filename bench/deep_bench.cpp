// The mini-batch trainer (engine/BatchTrainer.h) side by side with PyTorch's
// C++ library on the same network and data: 784-256-128-10, relu hidden
// layers, softmax output with cross-entropy, Adam with PyTorch's defaults;
// one step (forward, backward, update) per iteration, on batches of 1, 32 and
// 128 picture-like patterns, with one thread and with two on each side
// (torch::set_num_threads and OpenBLAS's own count). Without PyTorch (built
// without it) the trainer runs alone. docs/engine.md has the results.

#include "engine/BatchTrainer.h"
#include "engine/NeuralNet.h"
#include "engine/Units.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#if defined(TRELIS_HAVE_TORCH)
#include <dlfcn.h>
#include <torch/torch.h>
#endif

namespace {

constexpr std::uint32_t kInputs = 784, kClasses = 10;
constexpr std::size_t kPool = 1024;  // patterns the batches are taken from, in turn

// Pictures of 28 x 28 grey cells as a digit's: about a fifth of the cells set, in the middle 20 x 20,
// with grey bytes 1..127; then the bias byte.
struct TData {
    std::vector<std::vector<std::int8_t>> patterns, targets;
    std::vector<std::uint8_t> labels;
    TData()
    {
        std::mt19937 gen(7);
        std::uniform_int_distribution<int> grey(1, 127);
        std::bernoulli_distribution set(0.4);
        for (std::size_t p = 0; p < kPool; ++p) {
            std::vector<std::int8_t> cells(kInputs + 1, 0);
            for (std::uint32_t y = 4; y < 24; ++y)
                for (std::uint32_t x = 4; x < 24; ++x)
                    if (set(gen)) cells[y * 28 + x] = static_cast<std::int8_t>(grey(gen));
            cells[kInputs] = 1;
            patterns.push_back(cells);
            const auto label = static_cast<std::uint8_t>(gen() % kClasses);
            labels.push_back(label);
            std::vector<std::int8_t> target(kClasses, 0);
            target[label] = 1;
            targets.push_back(target);
        }
    }
};

const TData& Data()
{
    static const TData data;
    return data;
}

void TrelisStep(benchmark::State& state)
{
    const auto batch = static_cast<std::uint32_t>(state.range(0));
    TNeuralNet net(3, {kInputs, 256, 128, kClasses}, 0.0f, 0, 0, 1, 1);
    SetKinds(net, {TUnitKind::Relu, TUnitKind::Relu, TUnitKind::Softmax});
    InitialiseWeights(net, 1);
    TOptimiserSettings settings;
    settings.batch = batch;
    settings.threads = static_cast<std::uint32_t>(state.range(1));
    TBatchTrainer trainer(net, settings);
    const TData& data = Data();
    std::vector<const std::int8_t*> patterns, targets;
    for (std::size_t p = 0; p < kPool; ++p) {
        patterns.push_back(data.patterns[p].data());
        targets.push_back(data.targets[p].data());
    }
    std::size_t at = 0;
    for (auto _ : state) {
        if (at + batch > kPool) at = 0;
        trainer.Step(patterns.data() + at, targets.data() + at, batch);
        at += batch;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * batch);
}
BENCHMARK(TrelisStep)->ArgNames({"batch", "threads"})->ArgsProduct({{1, 32, 128}, {1, 2}})->UseRealTime();

#if defined(TRELIS_HAVE_TORCH)
// OpenBLAS's thread count, where the process has OpenBLAS (it reads OPENBLAS_NUM_THREADS once, at load).
void SetBlasThreads(int threads)
{
    using TSetThreads = void (*)(int);
    if (auto set = reinterpret_cast<TSetThreads>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads"))) set(threads);
}

void TorchStep(benchmark::State& state)
{
    const auto batch = static_cast<std::int64_t>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    torch::set_num_threads(threads);
    SetBlasThreads(threads);
    torch::manual_seed(1);
    torch::nn::Sequential net(torch::nn::Linear(kInputs, 256), torch::nn::ReLU(), torch::nn::Linear(256, 128),
                              torch::nn::ReLU(), torch::nn::Linear(128, kClasses));
    torch::optim::Adam adam(net->parameters(), torch::optim::AdamOptions(1e-3));
    const TData& data = Data();
    std::vector<float> cells(kPool * kInputs);
    for (std::size_t p = 0; p < kPool; ++p)
        for (std::uint32_t i = 0; i < kInputs; ++i) cells[p * kInputs + i] = data.patterns[p][i];
    const torch::Tensor inputs = torch::from_blob(cells.data(), {static_cast<std::int64_t>(kPool), kInputs}).clone();
    const torch::Tensor labels =
        torch::from_blob(const_cast<std::uint8_t*>(data.labels.data()), {static_cast<std::int64_t>(kPool)},
                         torch::kUInt8)
            .to(torch::kLong);
    std::int64_t at = 0;
    for (auto _ : state) {
        if (at + batch > static_cast<std::int64_t>(kPool)) at = 0;
        adam.zero_grad();
        const torch::Tensor loss =
            torch::nn::functional::cross_entropy(net->forward(inputs.narrow(0, at, batch)), labels.narrow(0, at, batch));
        loss.backward();
        adam.step();
        at += batch;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * batch);
}
BENCHMARK(TorchStep)->ArgNames({"batch", "threads"})->ArgsProduct({{1, 32, 128}, {1, 2}})->UseRealTime();
#endif

} // namespace

int main(int argc, char** argv)
{
#if defined(TRELIS_HAVE_TORCH)
    // OpenBLAS starts as many threads as this asks for when it is loaded; each run then uses its count.
    if (std::getenv("OPENBLAS_NUM_THREADS") == nullptr) {
        setenv("OPENBLAS_NUM_THREADS", "2", 1);
        execv("/proc/self/exe", argv);
    }
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
