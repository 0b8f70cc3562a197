#include "engine/Units.h"

#include "engine/NeuralNet.h"
#include "engine/Random.h"

#include <cmath>

bool ValidKinds(const TNeuralNet& net)
{
    for (std::size_t k = 0; k + 1 < net.layers.size(); ++k)
        if (net.layers[k].kind == TUnitKind::Softmax) return false;
    return true;
}

void SetKinds(TNeuralNet& net, const std::vector<TUnitKind>& kinds)
{
    for (std::size_t k = 0; k < net.layers.size() && k < kinds.size(); ++k) net.layers[k].kind = kinds[k];
}

void InitialiseWeights(TNeuralNet& net, std::uint64_t seed)
{
    constexpr std::uint32_t kSteps = 1u << 24;
    RandomSeed(seed);
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        TLayer& layer = net.layers[k];
        const double n = layer.inputCount;
        const double m = layer.neuronCount;
        const bool relu = layer.kind == TUnitKind::Relu;
        const double fans = relu ? n : n + m;
        const double a = fans > 0 ? std::sqrt(6.0 / fans) : 0.0;
        TWeightMatrix& w = layer.weights;
        for (std::size_t i = 0; i < w.Rows(); ++i) {
            float* row = w[i];
            const bool bias = i == layer.inputCount;
            for (std::size_t j = 0; j < layer.neuronCount; ++j) {
                if (bias) {
                    row[j] = 0.0f;
                    continue;
                }
                const double u = RandomBelow(kSteps);
                row[j] = static_cast<float>(a * ((2.0 * u + 1.0) / kSteps - 1.0));
            }
        }
    }
    for (TLayer& change : net.changes)
        for (std::size_t i = 0; i < change.weights.Rows(); ++i)
            for (std::size_t j = 0; j < change.neuronCount; ++j) change.weights[i][j] = 0.0f;
}
