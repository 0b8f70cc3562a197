#pragma once

// The mini-batch step of engine/BatchTrainer.h written as plain loops, one
// value at a time, in the documented order, on the public members of a
// TNeuralNet. The tests compare the trainer's kernels with these, bit for
// bit, and check these against numerical gradients.

#include "engine/NeuralNet.h"
#include "engine/Optimiser.h"
#include "engine/Units.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace batchref {

using TRows = std::vector<std::vector<float>>;  // [sample][element]

// What a pass over a batch leaves: each layer's outputs (the bias input 1.0 after the units) and error terms.
struct TPass {
    std::vector<TRows> y;  // [layer][sample][unit], units + 1 floats
    std::vector<TRows> d;  // [layer][sample][unit]
};

// Adam's moments, [layer][row * units + column], and its count of steps.
struct TAdamState {
    std::vector<std::vector<float>> m, v;
    std::uint64_t t = 0;
};

inline float Unit(TUnitKind kind, const TLayer& layer, float x)
{
    switch (kind) {
    case TUnitKind::Relu: return x > 0.0f ? x : 0.0f;
    case TUnitKind::Tanh: {
        const float e = std::exp(-2.0f * std::fabs(x));
        return std::copysign((1.0f - e) / (1.0f + e), x);
    }
    default: return layer.Activation(x);
    }
}

inline void Softmax(std::vector<float>& z, std::uint32_t m)
{
    float top = z[0];
    for (std::uint32_t j = 1; j < m; ++j)
        if (z[j] > top) top = z[j];
    float sum = 0.0f;
    for (std::uint32_t j = 0; j < m; ++j) {
        z[j] = std::exp(z[j] - top);
        sum += z[j];
    }
    for (std::uint32_t j = 0; j < m; ++j) z[j] = z[j] / sum;
}

// Layer 0's inputs as floats: each pattern's bytes, the bias byte included.
inline TRows Inputs(const TNeuralNet& net, const std::vector<std::vector<std::int8_t>>& patterns)
{
    TRows x;
    for (const auto& p : patterns) x.emplace_back(p.begin(), p.begin() + net.layers[0].inputCount + 1);
    return x;
}

inline TPass Forward(const TNeuralNet& net, const TRows& x0)
{
    TPass pass;
    const TRows* x = &x0;
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const TLayer& layer = net.layers[k];
        const TUnitKind kind = layer.kind;
        TRows y;
        for (const std::vector<float>& in : *x) {
            std::vector<float> out(layer.neuronCount + 1, 1.0f);
            for (std::uint32_t j = 0; j < layer.neuronCount; ++j) {
                float sum = 0.0f;
                for (std::uint32_t i = 0; i <= layer.inputCount; ++i) sum += layer.weights[i][j] * in[i];
                out[j] = kind == TUnitKind::Softmax ? sum : Unit(kind, layer, sum);
            }
            if (kind == TUnitKind::Softmax) Softmax(out, layer.neuronCount);
            y.push_back(std::move(out));
        }
        pass.y.push_back(std::move(y));
        x = &pass.y.back();
    }
    return pass;
}

// The derivative factor of a hidden or output unit with output y (engine/BatchTrainer.h), times e.
inline float Slope(const TNeuralNet& net, std::size_t k, float y, float e)
{
    const TUnitKind kind = net.layers[k].kind;
    const float a = net.layers[0].amplitude, o = net.layers[0].offset, s = net.layers[k].slope;
    switch (kind) {
    case TUnitKind::Softmax: return e;
    case TUnitKind::Tanh: return (1.0f - y * y) * e;
    case TUnitKind::Relu: return y > 0.0f ? e : 0.0f;
    default: return (1.0f - y + o) * (y - o) * a * s * e;
    }
}

// The error terms of every layer after Forward, for byte targets.
inline void ErrorTerms(const TNeuralNet& net, TPass& pass,
                       const std::vector<std::vector<std::int8_t>>& targets)
{
    const std::size_t L = net.layers.size(), B = targets.size();
    pass.d.assign(L, TRows(B));
    for (std::size_t s = 0; s < B; ++s) {
        const std::uint32_t m = net.layers[L - 1].neuronCount;
        for (std::uint32_t j = 0; j < m; ++j) {
            const float y = pass.y[L - 1][s][j];
            const float t = static_cast<float>(targets[s][j]);
            pass.d[L - 1][s].push_back(Slope(net, L - 1, y, y - t) / static_cast<float>(B));
        }
        for (std::size_t k = L - 1; k-- > 0;) {
            const TLayer& next = net.layers[k + 1];
            for (std::uint32_t j = 0; j < net.layers[k].neuronCount; ++j) {
                float sum = 0.0f;
                for (std::uint32_t i = 0; i < next.neuronCount; ++i) sum += pass.d[k + 1][s][i] * next.weights[j][i];
                pass.d[k][s].push_back(Slope(net, k, pass.y[k][s][j], sum));
            }
        }
    }
}

// The gradient of layer k, [row][unit], summed over the samples from +0.0, each error term first multiplied
// by keep (1 - mu for SGD; 1 leaves it as it is).
inline std::vector<std::vector<float>> Gradient(const TNeuralNet& net, const TPass& pass, const TRows& x0,
                                                std::size_t k, float keep)
{
    const TLayer& layer = net.layers[k];
    const TRows& x = k == 0 ? x0 : pass.y[k - 1];
    std::vector<std::vector<float>> g(layer.inputCount + 1, std::vector<float>(layer.neuronCount));
    for (std::uint32_t i = 0; i <= layer.inputCount; ++i)
        for (std::uint32_t j = 0; j < layer.neuronCount; ++j) {
            float sum = 0.0f;
            for (std::size_t s = 0; s < x.size(); ++s) sum = sum + (keep * pass.d[k][s][j]) * x[s][i];
            g[i][j] = sum;
        }
    return g;
}

inline void SgdUpdate(TNeuralNet& net, const TPass& pass, const TRows& x0, const TOptimiserSettings& o)
{
    const float keep = 1.0f - o.momentum;
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const auto g = Gradient(net, pass, x0, k, keep);
        TLayer& layer = net.layers[k];
        TWeightMatrix& c = net.changes[k].weights;
        for (std::uint32_t i = 0; i <= layer.inputCount; ++i)
            for (std::uint32_t j = 0; j < layer.neuronCount; ++j) {
                float gij = g[i][j];
                if (o.l2 != 0.0f && i < layer.inputCount) gij = gij + (keep * o.l2) * layer.weights[i][j];
                c[i][j] = (gij + c[i][j] * o.momentum) * -o.rate;
                layer.weights[i][j] = layer.weights[i][j] + c[i][j];
            }
    }
}

inline void AdamUpdate(TNeuralNet& net, const TPass& pass, const TRows& x0, const TOptimiserSettings& o,
                       TAdamState& state)
{
    if (state.m.empty())
        for (const TLayer& layer : net.layers) {
            state.m.emplace_back(layer.weights.Rows() * layer.neuronCount, 0.0f);
            state.v.emplace_back(layer.weights.Rows() * layer.neuronCount, 0.0f);
        }
    const double t = static_cast<double>(++state.t);
    const float negStep = static_cast<float>(-(o.rate / (1.0 - std::pow(static_cast<double>(o.beta1), t))));
    const float rs = static_cast<float>(1.0 / std::sqrt(1.0 - std::pow(static_cast<double>(o.beta2), t)));
    for (std::size_t k = 0; k < net.layers.size(); ++k) {
        const auto g = Gradient(net, pass, x0, k, 1.0f);
        TLayer& layer = net.layers[k];
        for (std::uint32_t i = 0; i <= layer.inputCount; ++i)
            for (std::uint32_t j = 0; j < layer.neuronCount; ++j) {
                float& w = layer.weights[i][j];
                float& m = state.m[k][i * layer.neuronCount + j];
                float& v = state.v[k][i * layer.neuronCount + j];
                float gij = g[i][j];
                if (o.l2 != 0.0f && i < layer.inputCount) gij = gij + o.l2 * w;
                m = o.beta1 * m + (1.0f - o.beta1) * gij;
                v = o.beta2 * v + (1.0f - o.beta2) * (gij * gij);
                w = w + (negStep * m) / (std::sqrt(v) * rs + o.epsilon);
            }
    }
}

// One step of the trainer on the batch; returns the pass (outputs before the update).
inline TPass Step(TNeuralNet& net, const TOptimiserSettings& o,
                  TAdamState& state, const std::vector<std::vector<std::int8_t>>& patterns,
                  const std::vector<std::vector<std::int8_t>>& targets)
{
    const TRows x0 = Inputs(net, patterns);
    TPass pass = Forward(net, x0);
    ErrorTerms(net, pass, targets);
    if (o.kind == TOptimiserKind::Adam) AdamUpdate(net, pass, x0, o, state);
    else SgdUpdate(net, pass, x0, o);
    return pass;
}

} // namespace batchref
