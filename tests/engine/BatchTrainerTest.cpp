// The mini-batch trainer against the plain loops of BatchReference.h, bit for
// bit, on every kernel set the CPU runs, with the calibrated and the library
// exponential, with one thread and two; a batch of one against the classic
// step; and learning.

#include "BatchReference.h"
#include "TestNets.h"

#include "engine/BatchTrainer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

// Every allocation of this test program is counted, so that a test can check that a stretch of code makes
// none.
namespace {
std::atomic<std::size_t> gAllocations{0};

void* Allocate(std::size_t n, std::size_t alignment)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t size = (n + alignment - 1) / alignment * alignment;
    if (void* p = alignment > alignof(std::max_align_t) ? std::aligned_alloc(alignment, size) : std::malloc(size))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t n) { return Allocate(n ? n : 1, alignof(std::max_align_t)); }
void* operator new(std::size_t n, std::align_val_t a) { return Allocate(n ? n : 1, static_cast<std::size_t>(a)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

using K = TUnitKind;
using engine_kernels::TKernelSet;

// Runs body for each kernel set the CPU runs, each with the calibrated exponential and the library's.
template <class Body>
void ForEachSetAndExp(Body body)
{
    const engine_detail::TExpKind calibrated = engine_detail::ChosenExp();
    for (TKernelSet set : {TKernelSet::Avx512, TKernelSet::Avx2, TKernelSet::Baseline}) {
        if (!engine_kernels::Runs(set)) continue;
        for (bool library : {false, true}) {
            SCOPED_TRACE("kernel set " + std::to_string(static_cast<int>(set)) + (library ? ", library exp" : ""));
            engine_kernels::ForceKernelSet(set);
            engine_detail::ForceExp(library ? engine_detail::TExpKind::Library : calibrated);
            body();
            engine_kernels::ForceKernelSet(std::nullopt);
            engine_detail::ForceExp(calibrated);
        }
    }
}

struct TBatchCase {
    const char* name;
    std::vector<std::uint32_t> sizes;
    std::vector<TUnitKind> kinds;
    TOptimiserSettings settings;
    std::vector<std::size_t> counts;  // samples of each step, in order
    float scale = 1.0f;               // initial weights multiplied by this (large: saturated units)
};

void PrintTo(const TBatchCase& c, std::ostream* out)
{
    *out << c.name;
}

TOptimiserSettings Adam(std::uint32_t batch, float l2 = 0.0f)
{
    TOptimiserSettings o;
    o.batch = batch;
    o.l2 = l2;
    return o;
}

TOptimiserSettings Sgd(std::uint32_t batch, float rate, float momentum, float l2 = 0.0f)
{
    TOptimiserSettings o;
    o.kind = TOptimiserKind::Sgd;
    o.batch = batch;
    o.rate = rate;
    o.momentum = momentum;
    o.l2 = l2;
    return o;
}

TNeuralNet MakeKindsNet(const TBatchCase& c, std::uint64_t seed)
{
    TNeuralNet net = testnets::MakeNet(c.sizes);
    SetKinds(net, c.kinds);
    InitialiseWeights(net, seed);
    for (TLayer& layer : net.layers)
        for (std::size_t i = 0; i < layer.weights.Rows(); ++i)
            for (std::uint32_t j = 0; j < layer.neuronCount; ++j)
                layer.weights[i][j] = layer.weights[i][j] * c.scale + (i == layer.inputCount ? 0.01f * j : 0.0f);
    return net;
}

// Patterns and one-hot targets of a step.
void MakeBatch(const TBatchCase& c, std::size_t count, int step, std::vector<std::vector<std::int8_t>>& patterns,
               std::vector<std::vector<std::int8_t>>& targets)
{
    patterns.clear();
    targets.clear();
    for (std::size_t s = 0; s < count; ++s) {
        const int n = step * 97 + static_cast<int>(s);
        patterns.push_back(testnets::MixedPattern(c.sizes.front(), n));
        targets.push_back(testnets::OneHot(c.sizes.back(), static_cast<std::uint32_t>(n) % c.sizes.back()));
    }
}

std::vector<const std::int8_t*> Pointers(const std::vector<std::vector<std::int8_t>>& rows)
{
    std::vector<const std::int8_t*> p;
    for (const auto& r : rows) p.push_back(r.data());
    return p;
}

::testing::AssertionResult SameMoments(const TBatchTrainer& trainer, const batchref::TAdamState& state,
                                       const TNeuralNet& net)
{
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const std::uint32_t m = net.layers[k].neuronCount;
        for (std::size_t i = 0; i < net.layers[k].weights.Rows(); ++i)
            for (std::uint32_t j = 0; j < m; ++j)
                if (!testnets::Same(trainer.FirstMoments(k)[i][j], state.m[k][i * m + j]) ||
                    !testnets::Same(trainer.SecondMoments(k)[i][j], state.v[k][i * m + j]))
                    return ::testing::AssertionFailure() << "moment [" << k << "][" << i << "][" << j << "]";
    }
    return ::testing::AssertionSuccess();
}

void RunCase(const TBatchCase& c, std::uint32_t threads)
{
    TNeuralNet net = MakeKindsNet(c, 11);
    TNeuralNet plain(net);
    TOptimiserSettings settings = c.settings;
    settings.threads = threads;
    TBatchTrainer trainer(net, settings);
    batchref::TAdamState state;
    std::vector<std::vector<std::int8_t>> patterns, targets;
    for (std::size_t step = 0; step < c.counts.size(); ++step) {
        MakeBatch(c, c.counts[step], static_cast<int>(step), patterns, targets);
        trainer.Step(Pointers(patterns).data(), Pointers(targets).data(), patterns.size());
        const batchref::TPass pass = batchref::Step(plain, settings, state, patterns, targets);
        for (std::size_t s = 0; s < patterns.size(); ++s)
            for (std::uint32_t j = 0; j < net.outputCount; ++j)
                ASSERT_TRUE(testnets::Same(trainer.Outputs(s)[j], pass.y.back()[s][j]))
                    << "step " << step << ", sample " << s << ", output " << j << ": " << trainer.Outputs(s)[j]
                    << " vs " << pass.y.back()[s][j];
        const auto a = testnets::Weights(net), b = testnets::Weights(plain);
        for (std::size_t e = 0; e < a.size(); ++e)
            ASSERT_TRUE(testnets::Same(a[e], b[e])) << "step " << step << ", weight " << e << ": " << a[e] << " vs " << b[e];
        if (settings.kind == TOptimiserKind::Adam) {
            ASSERT_TRUE(SameMoments(trainer, state, plain)) << "step " << step;
        }
    }
}

class BatchTrainerIdentity : public ::testing::TestWithParam<TBatchCase> {};

TEST_P(BatchTrainerIdentity, MatchesThePlainLoops)
{
    ForEachSetAndExp([] {
        for (std::uint32_t threads : {1u, 2u}) {
            SCOPED_TRACE(std::to_string(threads) + " thread(s)");
            RunCase(GetParam(), threads);
            if (::testing::Test::HasFatalFailure()) return;
        }
    });
}

// Widths around the vector and block sizes (8 lanes, blocks of 4 samples and 2 vectors), one to three
// hidden layers, every unit kind, both losses and both optimisers, full and short batches; inputs of
// bytes -1..2, retina patterns and grey bytes up to 127.
INSTANTIATE_TEST_SUITE_P(
    Shapes, BatchTrainerIdentity,
    ::testing::Values(
        TBatchCase{"ReluSoftmaxAdamOne", {5, 7, 3}, {K::Relu, K::Softmax}, Adam(1), {1, 1, 1}},
        TBatchCase{"ReluSoftmaxAdamThree", {9, 17, 10}, {K::Relu, K::Softmax}, Adam(3), {3, 3, 2, 1}},
        TBatchCase{"TanhReluSoftmaxSgd", {13, 16, 9, 4}, {K::Tanh, K::Relu, K::Softmax}, Sgd(5, 0.05f, 0.9f, 0.01f),
                   {5, 4, 5}},
        TBatchCase{"ThreeHiddenAdamL2", {20, 33, 17, 24, 5}, {K::Logistic, K::Tanh, K::Relu, K::Softmax},
                   Adam(6, 0.001f), {6, 6, 3}},
        TBatchCase{"ReluLogisticSgd", {40, 24, 10}, {K::Relu, K::Logistic}, Sgd(8, 0.1f, 0.0f), {8, 7, 8}},
        TBatchCase{"TanhOutputSgd", {11, 8, 3}, {K::Relu, K::Tanh}, Sgd(4, 0.1f, 0.5f), {4, 4}},
        TBatchCase{"ReluOutputAdam", {11, 9, 6}, {K::Tanh, K::Relu}, Adam(4), {4, 1, 4}},
        TBatchCase{"Saturated", {30, 12, 7}, {K::Tanh, K::Softmax}, Adam(4), {4, 4}, 40.0f},
        TBatchCase{"SaturatedLogistic", {30, 12, 7}, {K::Logistic, K::Logistic}, Sgd(3, 0.1f, 0.3f), {3, 3}, 40.0f},
        TBatchCase{"Wide32", {100, 64, 32, 10}, {K::Relu, K::Relu, K::Softmax}, Adam(32), {32, 32, 7}},
        TBatchCase{"Wide32Sgd", {70, 45, 26}, {K::Tanh, K::Softmax}, Sgd(32, 0.05f, 0.9f, 0.001f), {32, 13}}),
    [](const ::testing::TestParamInfo<TBatchCase>& info) { return std::string(info.param.name); });

// A batch of one with SGD on a network of logistic layers is the classic step: its weights bit for bit,
// its changes in value, with and without momentum, over several steps.
TEST(BatchTrainer, BatchOfOneIsTheClassicStep)
{
    for (const std::vector<std::uint32_t>& sizes : {std::vector<std::uint32_t>{9, 7, 4}, {100, 25, 10}, {13, 41, 9, 3}}) {
        for (float mu : {0.0f, 0.5f}) {
            SCOPED_TRACE(std::to_string(sizes.size()) + " sizes, momentum " + std::to_string(mu));
            TNeuralNet net = testnets::MakeNet(sizes);
            TNeuralNet classic(net);
            TBatchTrainer trainer(net, Sgd(1, 0.1f, mu));
            for (int step = 0; step < 6; ++step) {
                const auto pattern = testnets::MixedPattern(sizes.front(), step);
                const auto target = testnets::OneHot(sizes.back(), static_cast<std::uint32_t>(step) % sizes.back());
                const std::int8_t* p = pattern.data();
                const std::int8_t* t = target.data();
                trainer.Step(&p, &t, 1);
                classic.TrainBytes(p, t, 0.1f, mu);
                for (std::uint32_t j = 0; j < net.outputCount; ++j)
                    ASSERT_TRUE(testnets::Same(trainer.Outputs(0)[j], classic.outputs[j])) << "step " << step;
                const auto a = testnets::Weights(net), b = testnets::Weights(classic);
                for (std::size_t e = 0; e < a.size(); ++e) ASSERT_TRUE(testnets::Same(a[e], b[e])) << "step " << step;
                for (std::size_t k = 0; k < net.layers.size(); ++k)
                    for (std::size_t i = 0; i < net.layers[k].weights.Rows(); ++i)
                        for (std::uint32_t j = 0; j < net.layers[k].neuronCount; ++j)
                            ASSERT_EQ(net.changes[k].weights[i][j], classic.changes[k].weights[i][j]);
            }
        }
    }
}

// Steps and forward passes allocate nothing, with one thread or two, full or short batches.
TEST(BatchTrainer, StepsAllocateNothing)
{
    const TBatchCase c{"", {30, 20, 9, 4}, {K::Tanh, K::Relu, K::Softmax}, Adam(8), {}};
    for (std::uint32_t threads : {1u, 2u}) {
        TNeuralNet net = MakeKindsNet(c, 3);
        TOptimiserSettings settings = c.settings;
        settings.threads = threads;
        TBatchTrainer trainer(net, settings);
        std::vector<std::vector<std::int8_t>> patterns, targets;
        MakeBatch(c, 8, 0, patterns, targets);
        const auto p = Pointers(patterns), t = Pointers(targets);
        const std::size_t before = gAllocations.load();
        for (std::size_t count : {8u, 3u, 8u}) {
            trainer.Step(p.data(), t.data(), count);
            trainer.Forward(p.data(), count);
        }
        EXPECT_EQ(gAllocations.load(), before) << threads << " thread(s)";
    }
}

TEST(BatchTrainer, RefusesWhatItCannotTrain)
{
    TNeuralNet net = testnets::MakeNet({4, 3, 2});
    SetKinds(net, {K::Softmax, K::Softmax});
    EXPECT_THROW(TBatchTrainer(net, Adam(2)), std::invalid_argument);
    SetKinds(net, {K::Relu, K::Softmax});
    EXPECT_THROW(TBatchTrainer(net, Adam(0)), std::invalid_argument);
    TOptimiserSettings three = Adam(2);
    three.threads = 3;
    EXPECT_THROW(TBatchTrainer(net, three), std::invalid_argument);
    TNeuralNet empty = testnets::MakeNet({4});
    EXPECT_THROW(TBatchTrainer(empty, Adam(2)), std::invalid_argument);
}

// Three classes of bars learnt in batches; the forward pass then ranks each class first.
TEST(BatchTrainer, LearnsASmallClassification)
{
    for (TOptimiserSettings o : {Adam(6), Sgd(6, 0.3f, 0.9f)}) {
        o.rate = o.kind == TOptimiserKind::Adam ? 0.01f : o.rate;
        TNeuralNet net = testnets::MakeNet({12, 10, 3});
        SetKinds(net, {K::Relu, K::Softmax});
        InitialiseWeights(net, 5);
        TBatchTrainer trainer(net, o);
        std::vector<std::vector<std::int8_t>> patterns, targets;
        for (std::uint32_t s = 0; s < 6; ++s) {
            std::vector<std::int8_t> p(13, 0);
            for (std::uint32_t i = 0; i < 4; ++i) p[(s % 3) * 4 + i] = static_cast<std::int8_t>(1 + (s / 3));
            p[12] = 1;
            patterns.push_back(p);
            targets.push_back(testnets::OneHot(3, s % 3));
        }
        const double first = (trainer.Step(Pointers(patterns).data(), Pointers(targets).data(), 6), trainer.LastLoss());
        for (int epoch = 0; epoch < 300; ++epoch) trainer.Step(Pointers(patterns).data(), Pointers(targets).data(), 6);
        EXPECT_LT(trainer.LastLoss(), first / 20);
        trainer.Forward(Pointers(patterns).data(), 6);
        for (std::uint32_t s = 0; s < 6; ++s) {
            const float* y = trainer.Outputs(s);
            for (std::uint32_t j = 0; j < 3; ++j)
                if (j != s % 3) {
                    EXPECT_GT(y[s % 3], y[j]) << "sample " << s;
                }
        }
    }
}

} // namespace
