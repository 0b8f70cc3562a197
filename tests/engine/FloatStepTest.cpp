// The inline exponential and the kernel sets' float steps: both must give
// exactly what the C library's expf and the plain loops give.

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

namespace {

// A two-layer network of plain logistic layers, and the fewest lanes a vector must have for the kernel sets to
// take its step (0: none takes it).
struct FloatShape {
    std::uint32_t inputs, hidden, outputs;
    std::size_t lanes;
};

const FloatShape kFloatShapes[] = {
    {0, 2, 1, 4}, {1, 2, 1, 4}, {3, 2, 1, 4}, {7, 2, 1, 4},  // the series network, windows of 0 to 7
    {4, 1, 1, 4}, {5, 3, 2, 4}, {2, 4, 4, 4},                // partial and whole vectors of four
    {6, 8, 5, 8}, {3, 5, 8, 8},                              // vectors of eight only
    {3, 9, 1, 0}, {2, 2, 9, 0},                              // a layer beyond one vector: the general step
};

// Whether the kernel set in use offers a float step for the shape with the exponential in use: where the
// shape fits its vectors and it is built with that exponential (the baseline set with the separate one only).
void ExpectStepOffered(const FloatShape& shape, bool plain)
{
    using engine_kernels::TKernelSet;
    const TKernelSet set = engine_kernels::ActiveSet();
    const TExpKind exp = engine_detail::ChosenExp();
    const std::size_t lanes = set == TKernelSet::Baseline ? 4 : 8;
    const bool built = exp == TExpKind::Separate || (exp == TExpKind::Fused && set != TKernelSet::Baseline);
    const bool offered = engine_kernels::Active().floatStep(shape.hidden, shape.outputs, exp, plain) != nullptr;
    EXPECT_EQ(offered, plain && built && shape.lanes != 0 && shape.lanes <= lanes);
}

// Weights, outputs, every error term (the bias input's too), every change, the scaled values and targets of
// the network and of the plain loops equal bit for bit.
::testing::AssertionResult SameFloatStep(TNeuralNet& net, TNeuralNet& plain, const std::vector<float>& values,
                                         const std::vector<float>& plainValues, const std::vector<float>& target,
                                         const std::vector<float>& plainTarget)
{
    if (auto same = testnets::SameWeightsAndOutputs(net, plain); !same) return same;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!Same(values[i], plainValues[i])) return ::testing::AssertionFailure() << "value " << i;
    for (std::size_t o = 0; o < target.size(); ++o)
        if (!Same(target[o], plainTarget[o])) return ::testing::AssertionFailure() << "target " << o;
    for (std::size_t k = 0; k < 2; ++k) {
        for (std::size_t j = 0; j < net.deltas[k].size(); ++j)
            if (!Same(net.deltas[k][j], plain.deltas[k][j]))
                return ::testing::AssertionFailure() << "error term [" << k << "][" << j << "]";
        const TWeightMatrix& c = net.changes[k].weights;
        const TWeightMatrix& p = plain.changes[k].weights;
        for (std::size_t i = 0; i < c.Rows(); ++i)
            for (std::size_t j = 0; j < c.Columns(); ++j)
                if (!Same(c[i][j], p[i][j]))
                    return ::testing::AssertionFailure() << "change [" << k << "][" << i << "][" << j << "]";
    }
    return ::testing::AssertionSuccess();
}

// The padding columns of every weight row hold 0.0, as TWeightMatrix has it.
::testing::AssertionResult PaddingIsZero(const TNeuralNet& net)
{
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const TWeightMatrix& w = net.layers[k].weights;
        for (std::size_t i = 0; i < w.Rows(); ++i)
            for (std::size_t j = w.Columns(); j < w.Stride(); ++j)
                if (w[i][j] != 0.0f)
                    return ::testing::AssertionFailure() << "padding [" << k << "][" << i << "][" << j << "]";
    }
    return ::testing::AssertionSuccess();
}

// Windows of a series through each shape, without momentum, with it and without it again, against the plain
// loops after every window; a second output layer of slope 0.5, which no float step takes, as well.
void CheckSeriesWindows(const FloatShape& shape, bool plainLayers)
{
    ExpectStepOffered(shape, plainLayers);
    TNeuralNet net = MakeNet({shape.inputs, shape.hidden, shape.outputs}, 0.9f);
    if (!plainLayers) net.layers[1].slope = 0.5f;
    net.inputScale = 1.5f;
    net.inputOffset = -0.25f;
    net.targetScale = 0.8f;
    net.targetOffset = 0.1f;
    TNeuralNet plain(net);
    for (int t = 0; t < 400; ++t) {
        const float mu = t < 150 ? 0.0f : (t < 300 ? 0.7f : 0.0f);
        const auto wave = [t](std::uint32_t i) {
            return 0.5f + 0.4f * std::sin(0.05f * static_cast<float>(t + static_cast<int>(i)));
        };
        std::vector<float> values(shape.inputs + 1, 1.0f), target(shape.outputs);
        for (std::uint32_t i = 0; i < shape.inputs; ++i) values[i] = wave(i);
        for (std::uint32_t o = 0; o < shape.outputs; ++o) target[o] = wave(shape.inputs + 3 * o);
        std::vector<float> plainValues = values, plainTarget = target;
        net.TrainFloat(values.data(), target.data(), 0.9f, mu);
        reference::TrainFloat(plain, plainValues.data(), plainTarget.data(), 0.9f, mu);
        ASSERT_TRUE(SameFloatStep(net, plain, values, plainValues, target, plainTarget)) << "window " << t;
    }
    EXPECT_TRUE(PaddingIsZero(net));
}

// Sums near and beyond the activation's limits (|x| around 88 and 100), huge inputs, infinities and NaN take
// the slow paths of the steps in both layers; they too must match the plain loops. Every hidden sum is the
// input or its negation (the first row's weights +-1), and so is every output sum (the bias row's).
void CheckExtremeSums(const FloatShape& shape)
{
    const float inputs[] = {87.9f, 88.0f, 88.1f, 95.0f, 99.99f, 100.0f, 100.01f, 103.5f, 150.0f, 1e30f,
                            std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(), 0.0f,
                            -0.0f};
    const auto pin = [&shape](TNeuralNet& net, float input) {
        for (std::uint32_t j = 0; j < shape.hidden; ++j) {
            net.layers[0].weights[0][j] = j % 2 == 0 ? 1.0f : -1.0f;
            net.layers[0].weights[1][j] = 0.0f;
        }
        for (std::uint32_t i = 0; i <= shape.hidden; ++i)
            for (std::uint32_t o = 0; o < shape.outputs; ++o)
                net.layers[1].weights[i][o] = i < shape.hidden ? 0.0f : (o % 2 == 0 ? input : -input);
    };
    const TNeuralNet built = MakeNet({1, shape.hidden, shape.outputs}, 0.0f);
    for (float scale : {1.0f, -1.0f}) {
        SCOPED_TRACE(::testing::Message() << "sign " << scale);
        for (float input : inputs) {
            TNeuralNet net(built);
            pin(net, scale * input);
            TNeuralNet plain(net);
            std::vector<float> values = {scale * input, 1.0f}, target(shape.outputs, 0.25f);
            std::vector<float> plainValues = values, plainTarget = target;
            net.TrainFloat(values.data(), target.data(), 0.0f, 0.0f);
            reference::TrainFloat(plain, plainValues.data(), plainTarget.data(), 0.0f, 0.0f);
            ASSERT_TRUE(SameFloatStep(net, plain, values, plainValues, target, plainTarget)) << input;
        }
    }
}

} // namespace

TEST(FloatStep, WindowsMatchThePlainLoopsOnEveryKernelSet)
{
    for (const FloatShape& shape : kFloatShapes) {
        SCOPED_TRACE(::testing::Message() << shape.inputs << "-" << shape.hidden << "-" << shape.outputs);
        testnets::ForEachKernelSet([&] { CheckSeriesWindows(shape, true); }, true);
    }
    SCOPED_TRACE("output slope 0.5");
    testnets::ForEachKernelSet([] { CheckSeriesWindows(kFloatShapes[2], false); }, true);
}

TEST(FloatStep, ExtremeSumsMatchThePlainLoops)
{
    for (const FloatShape& shape : {FloatShape{1, 2, 1, 4}, FloatShape{1, 3, 4, 4}, FloatShape{1, 7, 6, 8}}) {
        SCOPED_TRACE(::testing::Message() << "1-" << shape.hidden << "-" << shape.outputs);
        testnets::ForEachKernelSet([&] { CheckExtremeSums(shape); }, true);
    }
}
