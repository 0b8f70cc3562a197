// The inline exponential and the series network's own training step: both
// must give exactly what the C library's expf and the plain loops give.

#include "ReferenceNet.h"
#include "TestNets.h"

using engine_detail::TExpKind;
using testnets::MakeNet;
using testnets::Same;

namespace {

// The two inputs on which the fused and the separate variants differ.
// Volatile, so that the compiler cannot work out std::exp of them itself:
// the tests must compare with the C library's own result.
volatile const float kSplit[] = {0x1.04845ep+5f, -0x1.f8cbb2p+5f};

float InlineExp(TExpKind kind, float x, bool negate)
{
    if (kind == TExpKind::Fused) return negate ? engine_detail::ExpFused<true>(x) : engine_detail::ExpFused(x);
    return negate ? engine_detail::ExpSeparate<true>(x) : engine_detail::ExpSeparate(x);
}

// Restores the calibrated exponential when a test that forced another one ends.
struct ExpKindGuard {
    TExpKind saved = engine_detail::ChosenExp();
    ~ExpKindGuard() { engine_detail::ForceExp(saved); }
};

// The kinds this machine can use: the library itself, and the inline variant that matches it.
std::vector<TExpKind> UsableKinds()
{
    std::vector<TExpKind> kinds = {TExpKind::Library};
    const TExpKind chosen = engine_detail::CalibrateExp();
    if (chosen != TExpKind::Library) kinds.push_back(chosen);
    return kinds;
}

const char* Name(TExpKind kind)
{
    switch (kind) {
    case TExpKind::Fused: return "fused";
    case TExpKind::Separate: return "separate";
    case TExpKind::Library: return "library";
    default: return "unknown";
    }
}

} // namespace

// Every 1,021st float bit pattern (NaN, infinities, subnormals and the range
// beyond +-88 included), e^x and e^-x.
TEST(InlineExp, ChosenVariantMatchesTheLibraryEverywhere)
{
    const TExpKind kind = engine_detail::CalibrateExp();
    if (kind == TExpKind::Library) GTEST_SKIP() << "neither inline variant matches this C library";
    std::uint64_t checked = 0;
    for (std::uint64_t u = 0; u <= 0xffffffffu; u += 1021) {
        const float x = std::bit_cast<float>(static_cast<std::uint32_t>(u));
        ASSERT_TRUE(Same(InlineExp(kind, x, false), std::exp(x))) << std::hexfloat << x;
        ASSERT_TRUE(Same(InlineExp(kind, x, true), std::exp(-x))) << std::hexfloat << x;
        ++checked;
    }
    for (float x : kSplit) {
        EXPECT_TRUE(Same(InlineExp(kind, x, false), std::exp(x))) << std::hexfloat << x;
        EXPECT_TRUE(Same(InlineExp(kind, -x, true), std::exp(x))) << std::hexfloat << x;
    }
    EXPECT_GT(checked, 4'000'000u);
}

// The GNU C library builds expf from exactly this algorithm on x86-64 (fused
// on CPUs with FMA, unless told otherwise), so there the inline exponential
// must be in use and not fall back silently.
TEST(InlineExp, GnuLibraryOnX86UsesAnInlineVariant)
{
#if defined(__GLIBC__) && defined(__x86_64__)
    const TExpKind kind = engine_detail::CalibrateExp();
    EXPECT_TRUE(kind == TExpKind::Separate || (kind == TExpKind::Fused && engine_detail::CpuHasFma())) << Name(kind);
#else
    GTEST_SKIP() << "not the GNU C library on x86-64";
#endif
}

// The split inputs tell the variants apart, so calibration cannot take one for the other.
TEST(InlineExp, VariantsDifferOnTheSplitInputs)
{
    for (float x : kSplit) EXPECT_FALSE(Same(engine_detail::ExpFused(x), engine_detail::ExpSeparate(x))) << x;
    const TExpKind kind = engine_detail::CalibrateExp();
    if (kind == TExpKind::Fused) {
        EXPECT_TRUE(engine_detail::CpuHasFma());
    }
    if (kind != TExpKind::Library) {
        const TExpKind other = kind == TExpKind::Fused ? TExpKind::Separate : TExpKind::Fused;
        bool differs = false;
        for (float x : kSplit) differs = differs || !Same(InlineExp(other, x, false), std::exp(x));
        EXPECT_TRUE(differs) << Name(kind);
    }
}

// Several thousand windows of a series through the series network, with and
// without momentum, against the plain loops: weights, outputs, error terms and
// changes bit for bit after every window.
TEST(SeriesStep, MatchesThePlainLoopsWithEveryUsableExponential)
{
    ExpKindGuard guard;
    for (TExpKind kind : UsableKinds()) {
        engine_detail::ForceExp(kind);
        for (std::uint32_t window : {0u, 1u, 3u, 7u}) {
            SCOPED_TRACE(::testing::Message() << Name(kind) << ", window " << window);
            TNeuralNet net = MakeNet({window, 2, 1}, 0.9f);
            net.inputScale = 1.5f;
            net.inputOffset = -0.25f;
            net.targetScale = 0.8f;
            net.targetOffset = 0.1f;
            TNeuralNet plain(net);
            for (int t = 0; t < 1500; ++t) {
                const float mu = t < 600 ? 0.0f : (t < 1200 ? 0.7f : 0.0f);
                std::vector<float> values(window + 1, 1.0f);
                for (std::uint32_t i = 0; i < window; ++i)
                    values[i] = 0.5f + 0.4f * std::sin(0.05f * static_cast<float>(t + static_cast<int>(i)));
                std::vector<float> target = {0.5f + 0.4f * std::sin(0.05f * static_cast<float>(t + 7))};
                std::vector<float> plainValues = values, plainTarget = target;
                net.TrainFloat(values.data(), target.data(), 0.9f, mu);
                reference::TrainFloat(plain, plainValues.data(), plainTarget.data(), 0.9f, mu);
                ASSERT_TRUE(testnets::SameWeightsAndOutputs(net, plain)) << "window " << t;
                for (std::uint32_t i = 0; i <= window; ++i) ASSERT_TRUE(Same(values[i], plainValues[i])) << i;
                ASSERT_TRUE(Same(target[0], plainTarget[0]));
                for (std::size_t k = 0; k < 2; ++k) {
                    for (std::size_t j = 0; j < net.deltas[k].size(); ++j)
                        ASSERT_TRUE(Same(net.deltas[k][j], plain.deltas[k][j])) << k << " " << j;
                    for (std::uint32_t i = 0; i <= net.changes[k].inputCount; ++i)
                        for (std::uint32_t j = 0; j < net.changes[k].neuronCount; ++j)
                            ASSERT_TRUE(Same(net.changes[k].weights[i][j], plain.changes[k].weights[i][j]));
                }
            }
        }
    }
}

// Sums near and beyond the activation's limits (|x| around 88 and 100), huge
// inputs, infinities and NaN take the slow paths of the step; they too must
// match the plain loops.
TEST(SeriesStep, ExtremeSumsMatchThePlainLoops)
{
    ExpKindGuard guard;
    const float inputs[] = {87.9f, 88.0f, 88.1f, 95.0f, 99.99f, 100.0f, 100.01f, 103.5f, 150.0f, 1e30f,
                            std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(), 0.0f,
                            -0.0f};
    for (TExpKind kind : UsableKinds()) {
        engine_detail::ForceExp(kind);
        for (float scale : {1.0f, -1.0f}) {
            SCOPED_TRACE(::testing::Message() << Name(kind) << ", sign " << scale);
            TNeuralNet net = MakeNet({1, 2, 1}, 0.0f);
            // Weights 1 and 0 make each hidden sum exactly the input.
            net.layers[0].weights[0][0] = 1.0f;
            net.layers[0].weights[0][1] = -1.0f;
            net.layers[1].weights[0][0] = 2.0f;
            TNeuralNet plain(net);
            for (float input : inputs) {
                std::vector<float> values = {scale * input, 1.0f}, target = {0.25f};
                std::vector<float> plainValues = values, plainTarget = target;
                net.TrainFloat(values.data(), target.data(), 0.0f, 0.0f);
                reference::TrainFloat(plain, plainValues.data(), plainTarget.data(), 0.0f, 0.0f);
                ASSERT_TRUE(testnets::SameWeightsAndOutputs(net, plain)) << input;
                for (std::size_t k = 0; k < 2; ++k)
                    for (std::size_t j = 0; j < net.deltas[k].size(); ++j)
                        ASSERT_TRUE(Same(net.deltas[k][j], plain.deltas[k][j])) << input << " " << k << " " << j;
            }
        }
    }
}
