// Stochastic training: the keep/undo rule of one trial, and the fast pass
// against the literal algorithm (two full forward passes per trial).

#include "ReferenceNet.h"
#include "TestNets.h"

#include <limits>

using testnets::MakeNet;
using testnets::SameWeightsAndOutputs;

namespace {

// The step a trial will draw next, without disturbing the sequence.
float PeekStep(std::uint64_t seed, float w)
{
    RandomSeed(seed);
    const std::uint32_t r = Random15();
    RandomSeed(seed);
    return (static_cast<float>(r) / 32767.0f - 0.5f) * w;
}

} // namespace

TEST(PerturbWeight, KeepsAStepThatDoesNotRaiseTheErrorAndSubtractsOneThatDoes)
{
    TNeuralNet net = MakeNet({6, 4, 3});
    const auto pattern = testnets::BytePattern(6, -2, 3, 7);
    const auto target = testnets::OneHot(3, 1);
    int kept = 0, undone = 0;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        const std::uint32_t k = seed % 2, i = seed % 5, j = seed % 3;
        const float step = PeekStep(seed, 0.5f);
        const float old = net.layers[k].weights[i][j];

        TNeuralNet probe(net);
        const float before = probe.ErrorBytes(pattern.data(), target.data());
        probe.layers[k].weights[i][j] = old + step;
        const float after = probe.ErrorBytes(pattern.data(), target.data());

        net.PerturbWeight(k, i, j, pattern.data(), target.data(), 0.5f);
        if (after > before) {
            ++undone;
            // The step is subtracted again, not restored from a saved copy.
            EXPECT_EQ(net.layers[k].weights[i][j], (old + step) - step);
        } else {
            ++kept;
            EXPECT_EQ(net.layers[k].weights[i][j], old + step);
        }
        // The outputs are those of the trial's own pass.
        EXPECT_EQ(net.outputs[0], probe.outputs[0]);
    }
    EXPECT_GT(kept, 0);
    EXPECT_GT(undone, 0);
}

TEST(PerturbWeight, StepsSpanHalfTheWidthEitherWay)
{
    RandomSeed(5);
    float lo = 1, hi = -1;
    for (int n = 0; n < 20000; ++n) {
        const float step = (static_cast<float>(Random15()) / 32767.0f - 0.5f) * 0.1f;
        lo = std::min(lo, step);
        hi = std::max(hi, step);
    }
    EXPECT_GE(lo, -0.05f);
    EXPECT_LE(hi, 0.05f);
    EXPECT_LT(lo, -0.049f);
    EXPECT_GT(hi, 0.049f);
}

TEST(TrainStochastic, ZeroInputRowsAndWeightsWithoutInfluenceWander)
{
    // A trial that leaves the error exactly equal stays: weights of a row
    // whose input byte is 0 always take their step.
    TNeuralNet net = MakeNet({4, 3, 2});
    std::vector<std::int8_t> pattern = {1, 0, 1, 0, 1};
    const auto target = testnets::OneHot(2, 0);
    const TNeuralNet before(net);
    RandomSeed(99);
    std::vector<float> steps;
    for (int n = 0; n < 4 * 3; ++n) steps.push_back((static_cast<float>(Random15()) / 32767.0f - 0.5f) * 0.1f);
    RandomSeed(99);
    net.TrainStochastic(pattern.data(), target.data(), 0.1f);
    for (std::uint32_t j = 0; j < 3; ++j) {
        EXPECT_EQ(net.layers[0].weights[1][j], before.layers[0].weights[1][j] + steps[3 + j]);
        EXPECT_EQ(net.layers[0].weights[3][j], before.layers[0].weights[3][j] + steps[9 + j]);
    }
}

TEST(TrainStochastic, ZeroStepWidthChangesNothing)
{
    TNeuralNet net = MakeNet({10, 5, 3});
    const auto pattern = testnets::RetinaPattern(10, 0.4, 3);
    const auto target = testnets::OneHot(3, 2);
    const TNeuralNet before(net);
    net.TrainStochastic(pattern.data(), target.data(), 0.0f);
    for (std::size_t k = 0; k < 2; ++k)
        for (std::uint32_t i = 0; i <= net.layers[k].inputCount; ++i)
            for (std::uint32_t j = 0; j < net.layers[k].neuronCount; ++j)
                EXPECT_EQ(net.layers[k].weights[i][j], before.layers[k].weights[i][j]);
}

TEST(TrainStochastic, LowersTheErrorOnItsPattern)
{
    TNeuralNet net = MakeNet({25, 8, 4});
    const auto pattern = testnets::RetinaPattern(25, 0.3, 11);
    const auto target = testnets::OneHot(4, 3);
    const float start = net.ErrorBytes(pattern.data(), target.data());
    RandomSeed(3);
    for (int pass = 0; pass < 5; ++pass) net.TrainStochastic(pattern.data(), target.data(), 0.1f);
    EXPECT_LT(net.ErrorBytes(pattern.data(), target.data()), start - 0.1f);
}

// The fast pass must give exactly what one literal trial after another gives.
struct StochasticCase {
    std::vector<std::uint32_t> sizes;
    float stepWidth;
    int lo, hi;      // byte range of the patterns (retina-like when lo == hi == 1)
    int passes;
};

class StochasticIdentity : public ::testing::TestWithParam<StochasticCase> {};

void CheckPasses(const StochasticCase& c);

TEST_P(StochasticIdentity, FastPassEqualsLiteralTrials)
{
    testnets::ForEachKernelSet([] { CheckPasses(GetParam()); });
}

void CheckPasses(const StochasticCase& c)
{
    TNeuralNet fast = MakeNet(c.sizes);
    TNeuralNet literal = MakeNet(c.sizes);
    TNeuralNet engineLiteral = MakeNet(c.sizes);
    const std::uint32_t n = c.sizes.front();
    const std::uint32_t outputs = c.sizes.back();
    for (int pass = 0; pass < c.passes; ++pass) {
        const auto pattern = c.lo == 1 && c.hi == 1 ? testnets::RetinaPattern(n, 0.2, 50 + pass)
                                                    : testnets::BytePattern(n, c.lo, c.hi, 50 + pass);
        const auto target = testnets::OneHot(outputs, pass % outputs);
        RandomSeed(1234 + pass);
        fast.TrainStochastic(pattern.data(), target.data(), c.stepWidth);
        RandomSeed(1234 + pass);
        reference::TrainStochastic(literal, pattern.data(), target.data(), c.stepWidth);
        // The engine's own trial, one after another.
        RandomSeed(1234 + pass);
        for (std::uint32_t k = 0; k < engineLiteral.layerCount; ++k)
            for (std::uint32_t i = 0; i <= engineLiteral.layers[k].inputCount; ++i)
                for (std::uint32_t j = 0; j < engineLiteral.layers[k].neuronCount; ++j)
                    engineLiteral.PerturbWeight(k, i, j, pattern.data(), target.data(), c.stepWidth);
        ASSERT_TRUE(SameWeightsAndOutputs(fast, literal)) << "after pass " << pass;
        ASSERT_TRUE(SameWeightsAndOutputs(fast, engineLiteral)) << "after pass " << pass;
        EXPECT_EQ(fast.outputs, fast.layers.back().outputs.data());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, StochasticIdentity,
    ::testing::Values(StochasticCase{{100, 25, 10}, 0.1f, 1, 1, 3},     // quick-create preset, retina pattern
                      StochasticCase{{30, 9, 5}, 2.0f, -3, 4, 4},       // wide steps: many undone trials
                      StochasticCase{{12, 7, 5, 3}, 0.5f, -1, 2, 3},     // three layers
                      StochasticCase{{9, 4}, 0.3f, 0, 1, 4},             // one layer
                      StochasticCase{{16, 40, 2}, 40.0f, 0, 1, 2}));     // saturating steps

TEST(TrainStochastic, LeavesTheLastTrialsOutputsAndBiasByteZeroIsExact)
{
    // One layer whose bias byte is 0: the very last trial then has no input.
    TNeuralNet fast = MakeNet({5, 3});
    TNeuralNet literal = MakeNet({5, 3});
    const std::vector<std::int8_t> pattern = {1, 0, 2, 1, 1, 0};
    const std::vector<std::int8_t> target = {0, 1, 0};
    for (int pass = 0; pass < 3; ++pass) {
        RandomSeed(77 + pass);
        fast.TrainStochastic(pattern.data(), target.data(), 1.0f);
        RandomSeed(77 + pass);
        reference::TrainStochastic(literal, pattern.data(), target.data(), 1.0f);
        ASSERT_TRUE(SameWeightsAndOutputs(fast, literal));
    }
}

TEST(TrainStochastic, WeightsThatOverflowFallBackToTheLiteralTrials)
{
    // Steps of 1e38 push weights past the largest float in mid-pass; from then
    // on only the literal trials are exact.
    TNeuralNet fast = MakeNet({6, 4, 2});
    for (std::uint32_t j = 0; j < 4; ++j) fast.layers[0].weights[6][j] = 3.4e38f;  // the bias row
    TNeuralNet literal(fast);
    const auto pattern = testnets::BytePattern(6, 0, 2, 5);
    const auto target = testnets::OneHot(2, 1);
    RandomSeed(8);
    fast.TrainStochastic(pattern.data(), target.data(), 1.0e38f);
    RandomSeed(8);
    reference::TrainStochastic(literal, pattern.data(), target.data(), 1.0e38f);
    EXPECT_TRUE(SameWeightsAndOutputs(fast, literal));

    // A non-finite weight from the start, and an infinite step width.
    RandomSeed(9);
    fast.TrainStochastic(pattern.data(), target.data(), std::numeric_limits<float>::infinity());
    RandomSeed(9);
    reference::TrainStochastic(literal, pattern.data(), target.data(), std::numeric_limits<float>::infinity());
    EXPECT_TRUE(SameWeightsAndOutputs(fast, literal));
}
