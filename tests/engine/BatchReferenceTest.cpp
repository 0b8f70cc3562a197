// The plain loops of the mini-batch step against numerical gradients of the
// loss, for every unit kind and both losses; the initial weights.

#include "BatchReference.h"
#include "TestNets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using K = TUnitKind;

// The mean loss of the batch in double: cross-entropy after softmax, half the squared error otherwise.
double Loss(const TNeuralNet& net, const batchref::TRows& x, const std::vector<std::vector<std::int8_t>>& targets)
{
    const batchref::TPass pass = batchref::Forward(net, x);
    double loss = 0;
    for (std::size_t s = 0; s < x.size(); ++s)
        for (std::uint32_t j = 0; j < net.outputCount; ++j) {
            const double y = pass.y.back()[s][j], t = targets[s][j];
            loss += net.layers.back().kind == K::Softmax ? -t * std::log(y) : 0.5 * (y - t) * (y - t);
        }
    return loss / static_cast<double>(x.size());
}

struct TGradientCase {
    const char* name;
    std::vector<TUnitKind> kinds;
};

class BatchGradient : public ::testing::TestWithParam<TGradientCase> {};

// The gradient of every weight (the error terms carry the mean's 1/B) against central differences of the
// mean loss over a batch of three.
TEST_P(BatchGradient, FollowsTheNumericalGradient)
{
    const std::vector<TUnitKind>& kinds = GetParam().kinds;
    std::vector<std::uint32_t> sizes = {5, 6, 4};
    if (kinds.size() == 3) sizes = {5, 6, 5, 4};
    TNeuralNet net = testnets::MakeNet(sizes);
    SetKinds(net, kinds);
    InitialiseWeights(net, 3);
    for (TLayer& layer : net.layers) {
        layer.slope = 0.8f;  // logistic units: any slope, amplitude 1 and offset 0
        for (std::uint32_t j = 0; j < layer.neuronCount; ++j) layer.weights[layer.inputCount][j] = 0.05f * (j + 1);
    }
    std::vector<std::vector<std::int8_t>> patterns, targets;
    for (int s = 0; s < 3; ++s) {
        patterns.push_back(testnets::BytePattern(sizes.front(), -1, 2, 40 + s));
        targets.push_back(testnets::OneHot(sizes.back(), static_cast<std::uint32_t>(s)));
    }
    const batchref::TRows x = batchref::Inputs(net, patterns);
    batchref::TPass pass = batchref::Forward(net, x);
    batchref::ErrorTerms(net, pass, targets);
    int checked = 0;
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const auto g = batchref::Gradient(net, pass, x, k, 1.0f);
        for (std::uint32_t i = 0; i <= net.layers[k].inputCount; ++i)
            for (std::uint32_t j = 0; j < net.layers[k].neuronCount; ++j) {
                const float h = 1e-2f;
                TNeuralNet plus(net), minus(net);
                plus.layers[k].weights[i][j] += h;
                minus.layers[k].weights[i][j] -= h;
                const double step = static_cast<double>(plus.layers[k].weights[i][j]) - minus.layers[k].weights[i][j];
                const double numerical = (Loss(plus, x, targets) - Loss(minus, x, targets)) / step;
                EXPECT_NEAR(g[i][j], numerical, 2e-4 + 1e-2 * std::abs(numerical)) << k << " " << i << " " << j;
                ++checked;
            }
    }
    EXPECT_GT(checked, 50);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BatchGradient,
                         ::testing::Values(TGradientCase{"ReluSoftmax", {K::Relu, K::Softmax}},
                                           TGradientCase{"TanhSoftmax", {K::Tanh, K::Softmax}},
                                           TGradientCase{"LogisticSoftmax", {K::Logistic, K::Softmax}},
                                           TGradientCase{"TanhReluSoftmax", {K::Tanh, K::Relu, K::Softmax}},
                                           TGradientCase{"ReluLogistic", {K::Relu, K::Logistic}},
                                           TGradientCase{"LogisticTanh", {K::Logistic, K::Tanh}},
                                           TGradientCase{"TanhRelu", {K::Tanh, K::Relu}}),
                         [](const ::testing::TestParamInfo<TGradientCase>& info) { return std::string(info.param.name); });

// tanh and softmax from the library's exponential: close to the true functions, over the whole range.
TEST(BatchReference, UnitsAreCloseToTheirDefinitions)
{
    const TLayer layer(1, 1, 0.0f);
    for (float x : {-100.0f, -9.0f, -1.5f, -1e-3f, -1e-7f, 0.0f, 2e-5f, 0.3f, 4.0f, 20.0f, 1e30f}) {
        EXPECT_NEAR(batchref::Unit(K::Tanh, layer, x), std::tanh(static_cast<double>(x)), 1.2e-7) << x;
        EXPECT_EQ(batchref::Unit(K::Relu, layer, x), x > 0 ? x : 0.0f) << x;
    }
    EXPECT_TRUE(std::signbit(batchref::Unit(K::Tanh, layer, -0.0f)));
    std::vector<float> z = {1000.0f, 999.0f, -1000.0f, 1000.0f};
    batchref::Softmax(z, 4);
    const double e1 = std::exp(-1.0), sum = 2 + e1;
    EXPECT_NEAR(z[0], 1 / sum, 1e-7);
    EXPECT_NEAR(z[1], e1 / sum, 1e-7);
    EXPECT_EQ(z[2], 0.0f);
    EXPECT_EQ(z[0], z[3]);
}

// He's bound for relu layers, Glorot's for the others; the same seed draws the same weights, another seed
// others; biases 0.
TEST(BatchReference, InitialWeightsFollowTheirBounds)
{
    const std::vector<TUnitKind> kinds = {K::Relu, K::Tanh, K::Softmax};
    TNeuralNet a = testnets::MakeNet({300, 200, 100, 10});
    SetKinds(a, kinds);
    TNeuralNet b(a), c(a);
    InitialiseWeights(a, 7);
    InitialiseWeights(b, 7);
    InitialiseWeights(c, 8);
    EXPECT_EQ(testnets::Weights(a), testnets::Weights(b));
    EXPECT_NE(testnets::Weights(a), testnets::Weights(c));
    const double bounds[] = {std::sqrt(6.0 / 300), std::sqrt(6.0 / 300), std::sqrt(6.0 / 110)};
    for (std::size_t k = 0; k < 3; ++k) {
        const TLayer& layer = a.layers[k];
        double largest = 0, sum = 0;
        for (std::uint32_t i = 0; i < layer.inputCount; ++i)
            for (std::uint32_t j = 0; j < layer.neuronCount; ++j) {
                const double w = layer.weights[i][j];
                largest = std::max(largest, std::abs(w));
                sum += w;
            }
        const double n = static_cast<double>(layer.inputCount) * layer.neuronCount;
        EXPECT_LT(largest, bounds[k]) << k;
        EXPECT_GT(largest, 0.99 * bounds[k]) << k;
        EXPECT_LT(std::abs(sum / n), 4 * bounds[k] / std::sqrt(3 * n)) << k;  // four standard deviations
        for (std::uint32_t j = 0; j < layer.neuronCount; ++j) EXPECT_EQ(layer.weights[layer.inputCount][j], 0.0f);
    }
}

} // namespace
