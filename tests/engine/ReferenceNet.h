#pragma once

// The engine's operations written as plain loops, one weight at a time, in
// the documented order, on the public members of a TNeuralNet. The tests
// compare the engine's vectorised, row-skipping and incremental code paths
// with these, bit for bit; the engine benchmark uses them as the baseline.

#include "engine/NeuralNet.h"
#include "engine/Random.h"

#include <cmath>
#include <cstdint>

namespace reference {

template <class Input>
void LayerForward(TLayer& layer, const Input* x)
{
    for (std::uint32_t j = 0; j < layer.neuronCount; ++j) {
        float sum = 0;
        for (std::uint32_t i = 0; i <= layer.inputCount; ++i) sum += layer.weights[i][j] * x[i];
        layer.outputs[j] = layer.Activation(sum);
    }
}

inline void ForwardBytes(TNeuralNet& net, const std::int8_t* pattern)
{
    LayerForward(net.layers[0], pattern);
    for (std::uint32_t k = 1; k < net.layerCount; ++k) LayerForward(net.layers[k], net.layers[k - 1].outputs.data());
}

inline void Forward(TNeuralNet& net, float* values)
{
    for (std::uint32_t i = 0; i < net.layers[0].inputCount; ++i)
        values[i] = values[i] * net.inputScale + net.inputOffset;
    LayerForward(net.layers[0], values);
    for (std::uint32_t k = 1; k < net.layerCount; ++k) LayerForward(net.layers[k], net.layers[k - 1].outputs.data());
}

template <class Target>
float Error(const TNeuralNet& net, const Target* target)
{
    const std::vector<float>& y = net.layers[net.layerCount - 1].outputs;
    float error = 0;
    for (std::uint32_t i = 0; i < net.outputCount; ++i) error += std::fabs(y[i] - target[i]);
    return error;
}

inline float ErrorBytes(TNeuralNet& net, const std::int8_t* pattern, const std::int8_t* target)
{
    ForwardBytes(net, pattern);
    return Error(net, target);
}

// Error terms, changes and weight updates after the forward pass; x is layer 0's input.
template <class Input, class Target>
void BackPropagate(TNeuralNet& net, const Input* x, const Target* t, float eta, float mu)
{
    const std::uint32_t L = net.layerCount;
    const float A = net.layers[0].amplitude;
    const float O = net.layers[0].offset;
    TLayer& out = net.layers[L - 1];
    for (std::uint32_t i = 0; i < out.neuronCount; ++i) {
        const float y = out.outputs[i];
        net.deltas[L - 1][i] = (1 - y + O) * (y - O) * A * out.slope * (y - t[i]);
    }
    for (std::uint32_t k = L - 1; k-- > 0;) {
        TLayer& layer = net.layers[k];
        for (std::uint32_t j = 0; j <= layer.neuronCount; ++j) {
            float sum = 0;
            for (std::uint32_t i = 0; i < net.layers[k + 1].neuronCount; ++i)
                sum += net.deltas[k + 1][i] * net.layers[k + 1].weights[j][i];
            const float y = layer.outputs[j];
            net.deltas[k][j] = (1 - y + O) * (y - O) * A * layer.slope * sum;
        }
    }
    for (std::uint32_t i = 0; i <= net.layers[0].inputCount; ++i)
        for (std::uint32_t j = 0; j < net.layers[0].neuronCount; ++j)
            net.changes[0].weights[i][j] =
                -eta * ((1 - mu) * net.deltas[0][j] * x[i] + mu * net.changes[0].weights[i][j]);
    for (std::uint32_t k = 1; k < L; ++k)
        for (std::uint32_t i = 0; i <= net.layers[k].inputCount; ++i)
            for (std::uint32_t j = 0; j < net.layers[k].neuronCount; ++j)
                net.changes[k].weights[i][j] =
                    -eta * (mu * net.changes[k].weights[i][j] +
                            (1 - mu) * net.deltas[k][j] * net.layers[k - 1].outputs[i]);
    for (std::uint32_t k = 0; k < L; ++k)
        for (std::uint32_t i = 0; i <= net.layers[k].inputCount; ++i)
            for (std::uint32_t j = 0; j < net.layers[k].neuronCount; ++j)
                net.layers[k].weights[i][j] = net.layers[k].weights[i][j] + net.changes[k].weights[i][j];
}

inline void TrainBytes(TNeuralNet& net, const std::int8_t* pattern, const std::int8_t* target, float eta,
                       float mu)
{
    ForwardBytes(net, pattern);
    BackPropagate(net, pattern, target, eta, mu);
}

inline void TrainFloat(TNeuralNet& net, float* values, float* target, float eta, float mu)
{
    for (std::uint32_t i = 0; i < net.outputCount; ++i) target[i] = target[i] * net.targetScale + net.targetOffset;
    Forward(net, values);
    BackPropagate(net, values, target, eta, mu);
}

inline void PerturbWeight(TNeuralNet& net, std::uint32_t k, std::uint32_t i, std::uint32_t j,
                          const std::int8_t* pattern, const std::int8_t* target, float w)
{
    const float e0 = ErrorBytes(net, pattern, target);
    const std::uint32_t r = Random15();
    const float dw = (static_cast<float>(r) / 32767.0f - 0.5f) * w;
    net.layers[k].weights[i][j] = net.layers[k].weights[i][j] + dw;
    const float e1 = ErrorBytes(net, pattern, target);
    if (e1 > e0) net.layers[k].weights[i][j] = net.layers[k].weights[i][j] - dw;
}

inline void TrainStochastic(TNeuralNet& net, const std::int8_t* pattern, const std::int8_t* target, float w)
{
    for (std::uint32_t k = 0; k < net.layerCount; ++k)
        for (std::uint32_t i = 0; i <= net.layers[k].inputCount; ++i)
            for (std::uint32_t j = 0; j < net.layers[k].neuronCount; ++j)
                PerturbWeight(net, k, i, j, pattern, target, w);
}

} // namespace reference
