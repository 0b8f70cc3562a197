// Back-propagation: the worked example, the gradient, the effect of zero
// inputs and saturated outputs, and the vectorised step against the plain one.

#include "ReferenceNet.h"
#include "TestNets.h"

using testnets::MakeNet;

TEST(BackPropagation, OneNeuronExample)
{
    TNeuralNet net = MakeNet({1, 1}, 0.0f);
    const std::vector<std::int8_t> pattern = {1, 1};
    const std::vector<std::int8_t> target = {1};
    net.TrainBytes(pattern.data(), target.data(), 0.1f, 0.0f);
    EXPECT_EQ(net.outputs[0], 0.5f);
    EXPECT_EQ(net.deltas[0][0], -0.125f);
    EXPECT_EQ(net.changes[0].weights[0][0], 0.0125f);
    EXPECT_EQ(net.changes[0].weights[1][0], 0.0125f);
    EXPECT_EQ(net.layers[0].weights[0][0], 0.0125f);
    EXPECT_EQ(net.layers[0].weights[1][0], 0.0125f);
}

// The change of every weight is -eta times the derivative of half the squared
// output error; compare it with central differences of that error.
TEST(BackPropagation, ChangesFollowTheNumericalGradient)
{
    TNeuralNet net = MakeNet({3, 4, 3, 2}, 1.6f);
    const std::vector<float> input = {0.3f, -0.7f, 0.9f, 1.0f};
    const std::vector<float> target = {0.8f, 0.1f};
    auto halfSquaredError = [&](TNeuralNet& probe) {
        std::vector<float> x = input;
        probe.Forward(x.data());
        double e = 0;
        for (std::uint32_t i = 0; i < 2; ++i) e += 0.5 * (probe.outputs[i] - target[i]) * (probe.outputs[i] - target[i]);
        return e;
    };
    const float eta = 0.5f;
    TNeuralNet trained(net);
    std::vector<float> x = input, t = target;
    trained.TrainFloat(x.data(), t.data(), eta, 0.0f);

    int checked = 0;
    for (std::uint32_t k = 0; k < net.layerCount; ++k) {
        for (std::uint32_t i = 0; i <= net.layers[k].inputCount; ++i) {
            for (std::uint32_t j = 0; j < net.layers[k].neuronCount; ++j) {
                const float h = 1e-2f;
                TNeuralNet plus(net), minus(net);
                plus.layers[k].weights[i][j] += h;
                minus.layers[k].weights[i][j] -= h;
                const double actualH = static_cast<double>(plus.layers[k].weights[i][j]) - minus.layers[k].weights[i][j];
                const double gradient = (halfSquaredError(plus) - halfSquaredError(minus)) / actualH;
                const double change = trained.changes[k].weights[i][j];
                EXPECT_NEAR(change, -eta * gradient, 2e-4 + 1e-2 * std::abs(change)) << k << " " << i << " " << j;
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 4 * 4 + 5 * 3 + 4 * 2);
}

TEST(BackPropagation, ZeroInputRowsStayAndTheBiasRowMoves)
{
    TNeuralNet net = MakeNet({6, 5, 3});
    const TNeuralNet before(net);
    const std::vector<std::int8_t> pattern = {1, 0, 2, 0, -1, 0, 1};
    const auto target = testnets::OneHot(3, 2);
    net.TrainBytes(pattern.data(), target.data(), 0.1f, 0.0f);
    for (std::uint32_t i : {1u, 3u, 5u})
        for (std::uint32_t j = 0; j < 5; ++j) EXPECT_EQ(net.layers[0].weights[i][j], before.layers[0].weights[i][j]);
    for (std::uint32_t j = 0; j < 5; ++j) EXPECT_NE(net.layers[0].weights[6][j], before.layers[0].weights[6][j]);
    for (std::uint32_t j = 0; j < 3; ++j) EXPECT_NE(net.layers[1].weights[5][j], before.layers[1].weights[5][j]);
}

TEST(BackPropagation, MatchedOrSaturatedOutputsDoNotMove)
{
    TNeuralNet net = MakeNet({2, 3}, 0.0f);
    // Output 0 saturates at exactly 1.0, output 1 at exactly 0.0, output 2 is 0.5.
    net.layers[0].weights[2][0] = 200.0f;
    net.layers[0].weights[2][1] = -200.0f;
    const std::vector<std::int8_t> pattern = {1, 1, 1};
    const std::vector<std::int8_t> target = {0, 1, 1};
    const TNeuralNet before(net);
    net.TrainBytes(pattern.data(), target.data(), 0.1f, 0.0f);
    EXPECT_EQ(net.outputs[0], 1.0f);
    EXPECT_EQ(net.outputs[1], 0.0f);
    EXPECT_EQ(net.deltas[0][0], 0.0f);
    EXPECT_EQ(net.deltas[0][1], 0.0f);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(net.layers[0].weights[i][0], before.layers[0].weights[i][0]);
        EXPECT_EQ(net.layers[0].weights[i][1], before.layers[0].weights[i][1]);
        EXPECT_NE(net.layers[0].weights[i][2], before.layers[0].weights[i][2]);
    }
}

// Changes written from outside (as a project file's reader does) are what
// momentum carries, and a step without momentum replaces all of them.
TEST(BackPropagation, WrittenChangesCountWithMomentumOnly)
{
    TNeuralNet a = MakeNet({8, 5, 4});
    TNeuralNet b(a);
    for (TLayer& change : b.changes)
        for (std::uint32_t i = 0; i <= change.inputCount; ++i)
            for (std::uint32_t j = 0; j < change.neuronCount; ++j) change.weights[i][j] = 0.3f * (i + 1) - 0.1f * j;
    TNeuralNet plain(b);
    const std::vector<std::int8_t> pattern = {1, 0, 2, 0, -1, 0, 1, 0, 1};
    const auto target = testnets::OneHot(4, 1);
    a.TrainBytes(pattern.data(), target.data(), 0.1f, 0.0f);
    TNeuralNet withMomentum(b);
    b.TrainBytes(pattern.data(), target.data(), 0.1f, 0.0f);
    EXPECT_TRUE(testnets::SameStep(a, b, true));
    withMomentum.TrainBytes(pattern.data(), target.data(), 0.1f, 0.5f);
    reference::TrainBytes(plain, pattern.data(), target.data(), 0.1f, 0.5f);
    EXPECT_TRUE(testnets::SameStep(withMomentum, plain, true));
}

// A unit driven to a sum of -88 has an output and an error term below the
// smallest normal number, and every change of its weights is smaller still:
// it moves no weight of ordinary size, but it does move a weight that small.
TEST(BackPropagation, SubnormalChangesMoveWeightsAsSmall)
{
    testnets::ForEachKernelSet([] {
        TNeuralNet net = MakeNet({2, 1, 1}, 0.0f);
        net.layers[0].weights[0][0] = -0.44f;
        net.layers[0].weights[1][0] = -0.44f;
        net.layers[0].weights[2][0] = 1e-38f;
        net.layers[1].weights[0][0] = 0.3f;
        TNeuralNet plain(net);
        const std::vector<std::int8_t> pattern = {100, 100, 1};
        const std::vector<std::int8_t> target = {1};
        net.TrainBytes(pattern.data(), target.data(), 0.1f, 0.0f);
        reference::TrainBytes(plain, pattern.data(), target.data(), 0.1f, 0.0f);
        ASSERT_LT(std::fabs(plain.deltas[0][0]), 1e-39f);
        EXPECT_NE(plain.layers[0].weights[2][0], 1e-38f);
        EXPECT_TRUE(testnets::SameStep(net, plain, true));
    });
}

TEST(BackPropagation, OutputsAreTheResponseBeforeTheUpdate)
{
    TNeuralNet net = MakeNet({10, 6, 4});
    const auto pattern = testnets::RetinaPattern(10, 0.5, 2);
    const auto target = testnets::OneHot(4, 0);
    TNeuralNet probe(net);
    probe.ForwardBytes(pattern.data());
    net.TrainBytes(pattern.data(), target.data(), 0.1f, 0.0f);
    const std::vector<float> seen(net.outputs, net.outputs + 4);
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(seen[i], probe.outputs[i]);
    net.ForwardBytes(pattern.data());
    EXPECT_NE(std::vector<float>(net.outputs, net.outputs + 4), seen);
}

TEST(BackPropagation, TrainFloatScalesBothArraysInPlace)
{
    testnets::PinnedClock clock(3);
    TNeuralNet net(2, {2, 3, 2}, 0.68f, 0.25f, 0.5f, 2.0f, 0.5f);
    std::vector<float> values = {1.0f, -1.0f, 1.0f};
    std::vector<float> target = {1.0f, 0.0f};
    TNeuralNet plain(net);
    std::vector<float> plainValues = values, plainTarget = target;
    net.TrainFloat(values.data(), target.data(), 0.5f, 0.0f);
    EXPECT_EQ(values, (std::vector<float>{2.25f, -1.75f, 1.0f}));
    EXPECT_EQ(target, (std::vector<float>{1.0f, 0.5f}));
    reference::TrainFloat(plain, plainValues.data(), plainTarget.data(), 0.5f, 0.0f);
    EXPECT_TRUE(testnets::SameWeightsAndOutputs(net, plain));
}

TEST(BackPropagation, LearnsASmallClassification)
{
    TNeuralNet net = MakeNet({9, 6, 3});
    std::vector<std::vector<std::int8_t>> patterns;
    for (std::uint32_t c = 0; c < 3; ++c) {
        std::vector<std::int8_t> p(10, 0);
        for (std::uint32_t i = 0; i < 3; ++i) p[c * 3 + i] = 1;
        p[9] = 1;
        patterns.push_back(p);
    }
    for (int epoch = 0; epoch < 2000; ++epoch)
        for (std::uint32_t c = 0; c < 3; ++c)
            net.TrainBytes(patterns[c].data(), testnets::OneHot(3, c).data(), 0.1f, 0.0f);
    for (std::uint32_t c = 0; c < 3; ++c) {
        net.ForwardBytes(patterns[c].data());
        EXPECT_EQ(net.WinningOutput().index, c);
    }
}

// The vectorised, row-skipping step against the plain loops, over several
// steps, with and without momentum (momentum after steps without it too), on
// shapes around the vector widths and the fused passes' limits (64 hidden
// neurons and 32 outputs with eight lanes, 32 and 16 with four). A range of
// 60 draws weights up to +-30: most units then saturate, and some sums fall
// between the inline exponential's reach and the guards.
struct StepCase {
    std::vector<std::uint32_t> sizes;
    std::vector<float> momenta;
    float range = 0.68f;
    // Each layer its own slope, amplitude and offset; or offsets of -0.0, which units saturated below put out
    // (and the plain logistic's formulas, for an offset of +0.0, must not be taken for).
    enum { Plain, Own, NegativeZeroOffset } activations = Plain;
};

class BackPropagationIdentity : public ::testing::TestWithParam<StepCase> {};

void CheckSteps(const StepCase& c);

TEST_P(BackPropagationIdentity, BytesAndFloatsMatchThePlainLoops)
{
    testnets::ForEachKernelSet([] { CheckSteps(GetParam()); });
}

void CheckSteps(const StepCase& c)
{
    TNeuralNet net = MakeNet(c.sizes, c.range);
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        TLayer& layer = net.layers[k];
        if (c.activations == StepCase::Own) {
            layer.slope = 0.8f + 0.5f * static_cast<float>(k);
            layer.amplitude = 1.5f - 0.6f * static_cast<float>(k);
            layer.offset = -0.25f + 0.35f * static_cast<float>(k);
        } else if (c.activations == StepCase::NegativeZeroOffset) {
            layer.offset = -0.0f;
        }
    }
    TNeuralNet plain(net);
    const std::uint32_t n = c.sizes.front(), outputs = c.sizes.back();
    int step = 0;
    for (float mu : c.momenta) {
        // Three byte steps, their changes read after the last only (a step without momentum leaves its
        // changes unwritten until they are read), then a float step.
        for (int repeat = 0; repeat < 3; ++repeat, ++step) {
            const auto pattern = testnets::MixedPattern(n, step);
            const auto target = testnets::OneHot(outputs, step % outputs);
            net.TrainBytes(pattern.data(), target.data(), 0.1f, mu);
            reference::TrainBytes(plain, pattern.data(), target.data(), 0.1f, mu);
            ASSERT_TRUE(testnets::SameStep(net, plain, repeat == 2)) << "bytes, step " << step;
        }
        std::vector<float> values(n + 1, 1.0f), targetF(outputs, 0.0f);
        for (std::uint32_t i = 0; i < n; ++i) values[i] = std::cos(static_cast<float>(i * 3 + step));
        targetF[(step + 1) % outputs] = 0.9f;
        std::vector<float> plainValues = values, plainTarget = targetF;
        net.TrainFloat(values.data(), targetF.data(), 0.5f, mu);
        reference::TrainFloat(plain, plainValues.data(), plainTarget.data(), 0.5f, mu);
        ASSERT_TRUE(testnets::SameStep(net, plain, true)) << "floats, step " << step;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, BackPropagationIdentity,
                         ::testing::Values(StepCase{{1, 1, 1}, {0.0f, 0.5f, 0.0f}},
                                           StepCase{{2, 1, 3}, {0.0f, 0.9f, 0.0f}},
                                           StepCase{{5, 8, 8}, {0.0f, 0.3f}},
                                           StepCase{{9, 7, 4}, {0.0f}},
                                           StepCase{{13, 16, 17}, {0.0f, 0.5f}},
                                           StepCase{{20, 32, 16}, {0.0f}},
                                           StepCase{{70, 45, 17}, {0.0f, 0.9f}},
                                           StepCase{{64, 25, 10}, {0.0f, 0.9f, 0.0f}},
                                           StepCase{{100, 24, 10}, {0.0f}},
                                           StepCase{{100, 25, 26}, {0.0f, 0.5f, 0.0f}},
                                           StepCase{{33, 64, 32}, {0.0f, 0.9f, 0.0f}},
                                           StepCase{{33, 65, 32}, {0.0f}},
                                           StepCase{{33, 64, 33}, {0.0f}},
                                           StepCase{{400, 64, 26}, {0.0f}},
                                           StepCase{{784, 300, 26}, {0.0f, 0.9f}},
                                           StepCase{{3, 2, 1}, {0.0f, 0.9f}},
                                           StepCase{{13, 41, 9, 3}, {0.0f, 0.3f, 0.0f}},
                                           StepCase{{7, 5}, {0.2f, 0.0f}},
                                           StepCase{{100, 25, 10}, {0.0f, 0.5f, 0.0f}, 60.0f},
                                           StepCase{{400, 64, 26}, {0.0f}, 60.0f},
                                           StepCase{{13, 41, 9, 3}, {0.0f, 0.3f}, 60.0f},
                                           StepCase{{100, 25, 10}, {0.0f, 0.5f, 0.0f}, 0.68f, StepCase::Own},
                                           StepCase{{400, 64, 26}, {0.0f}, 0.68f, StepCase::Own},
                                           StepCase{{64, 25, 10}, {0.0f, 0.5f}, 60.0f, StepCase::NegativeZeroOffset}));

// Long runs on the retina shapes, as the system trains them: 100,000 steps
// of retina patterns (about 20% ones) with one-hot targets, momentum 0 and,
// for the last tenth, 0.5, with every kernel set beside one plain run; the
// changes are read every thousand steps only. Whatever a step gets wrong, the
// later steps carry. Then a tenth as many on saturated networks (range 60:
// sums far past the guards, and some between the inline exponential's reach
// and the guards). An unoptimised or sanitized build, many times slower, runs
// a tenth of the steps.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
constexpr int kLongRunSteps = 100'000;
#else
constexpr int kLongRunSteps = 10'000;
#endif
TEST(BackPropagation, LongRunsMatchThePlainLoops)
{
    struct LongRun {
        std::vector<std::uint32_t> sizes;
        float range;
        int steps;
    };
    for (const LongRun& run : {LongRun{{100, 25, 10}, 0.68f, kLongRunSteps}, {{400, 64, 26}, 0.68f, kLongRunSteps},
                               {{100, 25, 10}, 60.0f, kLongRunSteps / 10}, {{400, 64, 26}, 60.0f, kLongRunSteps / 10}}) {
        const std::vector<std::uint32_t>& sizes = run.sizes;
        const std::uint32_t n = sizes[0], classes = sizes[2];
        std::vector<std::vector<std::int8_t>> patterns;
        for (std::uint32_t p = 0; p < 64; ++p) patterns.push_back(testnets::RetinaPattern(n, 0.2, p));
        TNeuralNet plain = MakeNet(sizes, run.range);
        std::size_t passes = 0;
        testnets::ForEachKernelSet([&] { ++passes; }, true);
        std::vector<TNeuralNet> nets(passes, plain);  // one per pass of ForEachKernelSet
        const int kSteps = run.steps;
        for (int step = 0; step < kSteps; ++step) {
            const float mu = step < kSteps / 10 * 9 ? 0.0f : 0.5f;
            const auto& pattern = patterns[step % patterns.size()];
            const auto target = testnets::OneHot(classes, step % classes);
            reference::TrainBytes(plain, pattern.data(), target.data(), 0.1f, mu);
            std::size_t which = 0;
            testnets::ForEachKernelSet(
                [&] {
                    TNeuralNet& net = nets[which++];
                    net.TrainBytes(pattern.data(), target.data(), 0.1f, mu);
                    if (step % 1000 != 999) return;
                    ASSERT_TRUE(testnets::SameStep(net, plain, true)) << n << ", range " << run.range << ", step " << step;
                },
                true);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}
