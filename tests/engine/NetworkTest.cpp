// TNeuralNet: construction, forward passes, error, winner, copying, and
// the sizes no caller should pass.

#include "ReferenceNet.h"
#include "TestNets.h"

#include <new>

using testnets::MakeNet;
using testnets::PinnedClock;

TEST(Network, LayersBuiltInTheSameSecondDrawTheSameNumbers)
{
    TNeuralNet net = MakeNet({30, 20, 10}, 0.68f, 4242);
    // Layer 1's weights in row order repeat the first weights of layer 0 in row order.
    std::vector<float> first, second;
    for (std::uint32_t i = 0; i <= 30; ++i)
        for (std::uint32_t j = 0; j < 20; ++j) first.push_back(net.layers[0].weights[i][j]);
    for (std::uint32_t i = 0; i <= 20; ++i)
        for (std::uint32_t j = 0; j < 10; ++j) second.push_back(net.layers[1].weights[i][j]);
    first.resize(second.size());
    EXPECT_EQ(first, second);

    TNeuralNet later = MakeNet({30, 20, 10}, 0.68f, 4243);
    EXPECT_NE(later.layers[0].weights[0][0] == net.layers[0].weights[0][0] &&
                  later.layers[0].weights[0][1] == net.layers[0].weights[0][1] &&
                  later.layers[0].weights[1][0] == net.layers[0].weights[1][0],
              true);
}

TEST(Network, FloatForwardScalesTheCallersVectorButNotTheBias)
{
    PinnedClock clock(9);
    TNeuralNet net(2, {3, 2, 1}, 0.68f, 0.5f, 0.0f, 2.0f, 1.0f);
    std::vector<float> values = {1.0f, -0.25f, 3.0f, 1.0f};
    TNeuralNet plain(net);
    std::vector<float> plainValues = values;
    net.Forward(values.data());
    EXPECT_EQ(values, (std::vector<float>{2.5f, 0.0f, 6.5f, 1.0f}));
    reference::Forward(plain, plainValues.data());
    EXPECT_TRUE(testnets::SameWeightsAndOutputs(net, plain));
}

// Shapes around the vector widths and the fused passes' limits, one layer to
// three, bytes from -4 to 4 and a retina pattern of 0 and 1.
void CheckForwardPasses()
{
    for (const std::vector<std::uint32_t>& sizes :
         {std::vector<std::uint32_t>{100, 25, 10}, {400, 64, 26}, {1, 1, 1}, {3, 2, 1}, {64, 25, 10}, {20, 32, 16},
          {33, 64, 32}, {33, 65, 33}, {784, 300, 26}, {17, 33, 9, 5}, {5, 1}}) {
        TNeuralNet net = MakeNet(sizes, 1.5f);
        TNeuralNet plain(net);
        for (std::uint32_t seed = 0; seed < 3; ++seed) {
            const auto pattern = seed == 2 ? testnets::RetinaPattern(sizes[0], 0.2, seed)
                                           : testnets::BytePattern(sizes[0], -4, 4, seed);
            net.ForwardBytes(pattern.data());
            reference::ForwardBytes(plain, pattern.data());
            ASSERT_TRUE(testnets::SameWeightsAndOutputs(net, plain));
            std::vector<float> values(sizes[0] + 1, 1.0f);
            for (std::uint32_t i = 0; i < sizes[0]; ++i) values[i] = std::sin(static_cast<float>(i + seed)) * 2.0f;
            std::vector<float> plainValues = values;
            net.Forward(values.data());
            reference::Forward(plain, plainValues.data());
            ASSERT_TRUE(testnets::SameWeightsAndOutputs(net, plain));
        }
    }
}

TEST(Network, ForwardPassesMatchThePlainLoopsBitForBit)
{
    testnets::ForEachKernelSet(CheckForwardPasses);
}

TEST(Network, ErrorIsTheL1DistanceWithSignedByteTargets)
{
    TNeuralNet net = MakeNet({4, 3, 3}, 0.0f);  // every output 0.5
    const std::vector<std::int8_t> pattern = {1, 0, 1, 1, 1};
    const std::vector<std::int8_t> target = {1, -1, 0};
    EXPECT_EQ(net.ErrorBytes(pattern.data(), target.data()), 0.5f + 1.5f + 0.5f);
    std::vector<float> values = {0.1f, 0.2f, 0.3f, 0.4f, 1.0f};
    const std::vector<float> floatTarget = {0.25f, 0.5f, 2.0f};
    net.Forward(values.data());
    EXPECT_EQ(net.OutputError(floatTarget.data()), 0.25f + 0.0f + 1.5f);
}

TEST(Network, OutputErrorMeasuresTheLastPassWithoutRunningTheNetwork)
{
    TNeuralNet net = MakeNet({5, 4, 2});
    const auto pattern = testnets::BytePattern(5, 0, 1, 4);
    const std::vector<std::int8_t> target = {0, 1};
    const std::vector<float> floatTarget = {0.0f, 1.0f};
    const float before = net.ErrorBytes(pattern.data(), target.data());
    net.TrainBytes(pattern.data(), target.data(), 5.0f, 0.0f);
    // Right after a step it still measures the outputs computed at the start of that step.
    EXPECT_EQ(net.OutputError(floatTarget.data()), before);
    EXPECT_NE(net.ErrorBytes(pattern.data(), target.data()), before);
}

TEST(Network, WinnerIsTheFirstStrictlyGreatestOutputAboveZero)
{
    TNeuralNet net = MakeNet({2, 3}, 0.0f);
    std::vector<float>& y = net.layers[0].outputs;
    y = {0.2f, 0.7f, 0.7f, 1.0f};
    net.outputs = y.data();
    TWinner winner = net.WinningOutput();
    EXPECT_EQ(winner.index, 1u);
    EXPECT_EQ(winner.value, 0.7f);
    y = {0.0f, 0.0f, 0.0f, 1.0f};
    winner = net.WinningOutput();
    EXPECT_EQ(winner.index, 0u);
    EXPECT_EQ(winner.value, 0.0f);
    y = {-0.5f, -0.1f, -0.2f, 1.0f};
    EXPECT_EQ(net.WinningOutput().index, 0u);
    y = {0.1f, 0.05f, 0.3f, 1.0f};
    EXPECT_EQ(net.WinningOutput().index, 2u);
    EXPECT_EQ(net.WinningOutput().value, 0.3f);
}

TEST(Network, CopiesAndMovesKeepTheirOutputsOnTheirOwnLayers)
{
    TNeuralNet net = MakeNet({6, 4, 3});
    const auto pattern = testnets::BytePattern(6, 0, 1, 2);
    net.ForwardBytes(pattern.data());
    TNeuralNet copy(net);
    EXPECT_EQ(copy.outputs, copy.layers.back().outputs.data());
    EXPECT_EQ(copy.outputs[2], net.outputs[2]);
    TNeuralNet moved(std::move(copy));
    EXPECT_EQ(moved.outputs, moved.layers.back().outputs.data());
    EXPECT_EQ(copy.layerCount, 0u);  // NOLINT(bugprone-use-after-move): the moved-from net is empty
    EXPECT_EQ(copy.outputCount, 0u);
    EXPECT_NE(copy.outputs, nullptr);
    TNeuralNet assigned = MakeNet({2, 2});
    assigned = net;
    EXPECT_EQ(assigned.outputs, assigned.layers.back().outputs.data());
    assigned.layers[1].weights[0][0] += 1.0f;
    EXPECT_NE(assigned.layers[1].weights[0][0], net.layers[1].weights[0][0]);
    assigned.TrainBytes(pattern.data(), testnets::OneHot(3, 0).data(), 0.1f, 0.0f);
}

// Sizes no caller passes, but a dialog lets a user type: nothing may crash or
// touch memory outside a buffer (the sanitizer build checks the latter).
TEST(Network, ZeroLayersIsAnEmptyNetworkThatDoesNothing)
{
    PinnedClock clock(1);
    TNeuralNet net(0, {5}, 0.68f, 0, 0, 1, 1);
    EXPECT_EQ(net.layerCount, 0u);
    EXPECT_EQ(net.outputCount, 0u);
    EXPECT_TRUE(net.layers.empty());
    ASSERT_NE(net.outputs, nullptr);
    const std::int8_t pattern[1] = {1};
    std::int8_t target[1] = {1};
    float values[1] = {1.0f};
    float floatTarget[1] = {1.0f};
    net.ForwardBytes(pattern);
    net.Forward(values);
    EXPECT_EQ(net.ErrorBytes(pattern, target), 0.0f);
    EXPECT_EQ(net.OutputError(floatTarget), 0.0f);
    EXPECT_EQ(net.WinningOutput().index, 0u);
    net.TrainBytes(pattern, target, 0.1f, 0.0f);
    net.TrainFloat(values, floatTarget, 0.1f, 0.0f);
    net.TrainStochastic(pattern, target, 0.1f);
    EXPECT_EQ(floatTarget[0], 1.0f);
}

TEST(Network, ZeroSizedLayersAndMissingSizesWork)
{
    PinnedClock clock(1);
    // A hidden layer of no neurons: the next layer sees only its bias.
    TNeuralNet hollow(2, {3, 0, 2}, 0.68f, 0, 0, 1, 1);
    EXPECT_EQ(hollow.outputCount, 2u);
    const std::vector<std::int8_t> pattern = {1, 1, 0, 1};
    const std::vector<std::int8_t> target = {1, 0};
    hollow.ForwardBytes(pattern.data());
    EXPECT_EQ(hollow.outputs[0], hollow.layers[1].Activation(hollow.layers[1].weights[0][0]));
    hollow.TrainBytes(pattern.data(), target.data(), 0.1f, 0.5f);
    hollow.TrainStochastic(pattern.data(), target.data(), 0.1f);

    // No inputs: the pattern is the bias byte alone.
    TNeuralNet blind(1, {0, 3}, 0.68f, 0, 0, 1, 1);
    const std::int8_t bias[1] = {1};
    const std::int8_t target3[3] = {0, 1, 0};
    blind.TrainBytes(bias, target3, 0.1f, 0.0f);
    blind.TrainStochastic(bias, target3, 0.1f);
    EXPECT_EQ(blind.outputCount, 3u);

    // Sizes shorter than layerCount + 1: the missing ones count as 0.
    TNeuralNet shortSizes(3, {4}, 0.68f, 0, 0, 1, 1);
    ASSERT_EQ(shortSizes.layers.size(), 3u);
    EXPECT_EQ(shortSizes.layers[0].inputCount, 4u);
    EXPECT_EQ(shortSizes.layers[0].neuronCount, 0u);
    EXPECT_EQ(shortSizes.layers[2].neuronCount, 0u);
    EXPECT_EQ(shortSizes.outputCount, 0u);
    const std::vector<std::int8_t> five = {1, 0, 1, 0, 1};
    shortSizes.TrainBytes(five.data(), nullptr, 0.1f, 0.0f);
    shortSizes.TrainStochastic(five.data(), nullptr, 0.1f);
    EXPECT_EQ(shortSizes.WinningOutput().index, 0u);

    TNeuralNet none(2, {}, 0.68f, 0, 0, 1, 1);
    EXPECT_EQ(none.outputCount, 0u);
    none.ForwardBytes(bias);
}

TEST(Network, SizesBeyondMemoryThrowInsteadOfOverflowing)
{
    PinnedClock clock(1);
    EXPECT_THROW(TNeuralNet(1, {0xFFFFFFFFu, 0xFFFFFFFFu}, 0.68f, 0, 0, 1, 1), std::bad_alloc);
}
