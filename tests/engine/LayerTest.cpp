// TLayer: construction with random weights, the activation and its guards,
// the forward pass of one layer.

#include "ReferenceNet.h"
#include "TestNets.h"

#include <set>
#include <stdexcept>

using testnets::PinnedClock;

TEST(Layer, WeightsAreDrawnRowByRowOnTheThousandthGrid)
{
    const std::time_t when = 777;
    PinnedClock clock(when);
    TLayer layer(100, 60, 0.68f);
    // The same draws, made here one by one from the same seed.
    RandomSeed(static_cast<std::uint64_t>(when));
    std::set<int> grid;
    for (std::uint32_t i = 0; i <= 100; ++i) {  // the bias row is drawn like any other
        for (std::uint32_t j = 0; j < 60; ++j) {
            const std::uint32_t k = RandomBelow(680);
            ASSERT_EQ(layer.weights[i][j], static_cast<float>(k) * 0.001f - 0.34f) << i << "," << j;
            const float w = layer.weights[i][j];
            EXPECT_GE(w, -0.3401f);
            EXPECT_LE(w, 0.3391f);
            grid.insert(static_cast<int>(std::lround((w + 0.34f) * 1000.0f)));
        }
    }
    EXPECT_EQ(*grid.begin(), 0);
    EXPECT_EQ(*grid.rbegin(), 679);
    EXPECT_GT(grid.size(), 670u);
}

TEST(Layer, RangesBelowOneThousandthDrawNothing)
{
    PinnedClock clock(5);
    RandomSeed(5);
    const std::uint32_t next = Random15();
    TLayer zero(4, 3, 0.0f);
    TLayer tiny(4, 3, 0.0005f);
    TLayer negative(4, 3, -2.0f);
    for (std::uint32_t i = 0; i <= 4; ++i) {
        for (std::uint32_t j = 0; j < 3; ++j) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(zero.weights[i][j]), 0u);  // +0.0 exactly
            EXPECT_EQ(tiny.weights[i][j], -0.00025f);
            EXPECT_EQ(negative.weights[i][j], 1.0f);
        }
    }
    // Construction reseeded the generator from the clock and drew nothing after that.
    EXPECT_EQ(Random15(), next);
}

TEST(Layer, ActivationIsTheLogisticFunctionWithItsGuards)
{
    PinnedClock clock(1);
    TLayer layer(1, 1, 0.0f);
    EXPECT_EQ(layer.Activation(0.0f), 0.5f);
    EXPECT_EQ(layer.Activation(100.5f), 1.0f);
    EXPECT_EQ(layer.Activation(-100.5f), 0.0f);
    EXPECT_EQ(layer.Activation(1e30f), 1.0f);
    EXPECT_EQ(layer.Activation(-1e30f), 0.0f);
    for (float x : {-80.0f, -7.5f, -1.0f, 0.25f, 3.0f, 16.0f})
        EXPECT_NEAR(layer.Activation(x), 1.0 / (1.0 + std::exp(-static_cast<double>(x))), 1e-6)
            << x;
    EXPECT_GT(layer.Activation(-80.0f), 0.0f);  // inside the guards the exponential decides

    // The guards scale with the slope and give A + O and O.
    layer.slope = 2.0f;
    layer.amplitude = 3.0f;
    layer.offset = -1.0f;
    EXPECT_EQ(layer.Activation(50.5f), 2.0f);
    EXPECT_EQ(layer.Activation(-50.5f), -1.0f);
    EXPECT_EQ(layer.Activation(0.0f), 0.5f);
    EXPECT_NEAR(layer.Activation(-5.0f), -1.0 + 3.0 / (1.0 + std::exp(10.0)), 1e-6);
    EXPECT_GT(layer.Activation(-5.0f), -1.0f);
    EXPECT_NEAR(layer.Activation(0.5f), -1.0 + 3.0 / (1.0 + std::exp(-1.0)), 1e-6);
}

// Column counts around the vector widths and the register blocks.
void CheckLayerForward()
{
    for (std::uint32_t m : {1u, 7u, 8u, 9u, 20u, 31u, 32u, 33u, 50u, 64u, 70u, 130u}) {
        PinnedClock clock(300 + m);
        TLayer fast(21, m, 3.0f);
        TLayer plain(fast);
        std::vector<float> x(22);
        for (std::uint32_t i = 0; i < 21; ++i) x[i] = static_cast<float>((i * 37) % 11) * 0.3f - 1.4f;
        x[21] = 1.0f;
        x[4] = 0.0f;
        fast.Forward(x.data());
        reference::LayerForward(plain, x.data());
        const auto bytes = testnets::BytePattern(21, -5, 5, m);
        for (std::uint32_t j = 0; j <= m; ++j) EXPECT_TRUE(testnets::Same(fast.outputs[j], plain.outputs[j])) << m;
        fast.ForwardBytes(bytes.data());
        reference::LayerForward(plain, bytes.data());
        for (std::uint32_t j = 0; j <= m; ++j) EXPECT_TRUE(testnets::Same(fast.outputs[j], plain.outputs[j])) << m;
        EXPECT_EQ(fast.outputs[m], 1.0f);
    }
}

TEST(Layer, ForwardMatchesThePlainLoopBitForBit)
{
    testnets::ForEachKernelSet(CheckLayerForward);
}

// Sums across the exponential's whole range: inside the inline exponential's
// reach (|slope * x| < 88), beyond it but inside the guards, past the guards,
// and infinities and NaN; slope 1 and 0.7.
void CheckActivationRange()
{
    const float sums[] = {0.0f,   -0.0f,    1e-30f,  -3.5f,   17.25f, 87.99f,  -87.99f, 88.0f,     -88.0f,
                          88.01f, -95.5f,   99.99f,  100.0f,  -100.0f, 100.01f, -100.01f, 125.7f,   -125.7f,
                          142.8f, -142.86f, 1e30f,   -1e30f,  INFINITY, -INFINITY, NAN,    125.0f,   -130.0f};
    const std::uint32_t m = sizeof sums / sizeof sums[0];
    for (float slope : {1.0f, 0.7f}) {
        PinnedClock clock(4);
        TLayer layer(1, m, 0.0f);
        layer.slope = slope;
        for (std::uint32_t j = 0; j < m; ++j) layer.weights[0][j] = sums[j];
        const std::int8_t x[2] = {1, 0};
        layer.ForwardBytes(x);
        for (std::uint32_t j = 0; j < m; ++j)
            EXPECT_TRUE(testnets::Same(layer.outputs[j], layer.Activation(sums[j]))) << slope << " " << sums[j];
    }
}

TEST(Layer, ActivationMatchesTheScalarFunctionOverTheWholeRange)
{
    testnets::ForEachKernelSet(CheckActivationRange);
}

TEST(Layer, TheWidestKernelsTheCpuRunsAreChosen)
{
    using engine_kernels::TKernelSet;
#if defined(__x86_64__)
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                      __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
#else
    const bool avx2 = false, avx512 = false;
#endif
    EXPECT_EQ(engine_kernels::Runs(TKernelSet::Avx2), engine_kernels::kAvx2Built && avx2);
    EXPECT_EQ(engine_kernels::Runs(TKernelSet::Avx512), engine_kernels::kAvx512Built && avx512);
    const TKernelSet best = engine_kernels::Runs(TKernelSet::Avx512) ? TKernelSet::Avx512
                            : engine_kernels::Runs(TKernelSet::Avx2) ? TKernelSet::Avx2
                                                                     : TKernelSet::Baseline;
    EXPECT_EQ(engine_kernels::ActiveSet(), best);
    engine_kernels::ForceKernelSet(TKernelSet::Baseline);
    EXPECT_EQ(engine_kernels::ActiveSet(), TKernelSet::Baseline);
    EXPECT_EQ(&engine_kernels::Active(), &engine_kernels::kBaselineKernels);
    if (!engine_kernels::Runs(TKernelSet::Avx512)) {
        EXPECT_THROW(engine_kernels::ForceKernelSet(TKernelSet::Avx512), std::invalid_argument);
    }
    engine_kernels::ForceKernelSet(std::nullopt);
    EXPECT_EQ(engine_kernels::ActiveSet(), best);
}
