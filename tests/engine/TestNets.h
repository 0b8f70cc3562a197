#pragma once

// Helpers shared by the engine tests: pinned seeding clock, random
// patterns, and bit-for-bit comparison of two networks.

#include "engine/Exp.h"
#include "engine/Kernels.h"
#include "engine/NeuralNet.h"
#include "engine/Random.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace testnets {

// Pins the seeding clock for the lifetime of the object.
class PinnedClock {
public:
    explicit PinnedClock(std::time_t now) { SetSeedClock([now] { return now; }); }
    ~PinnedClock() { SetSeedClock({}); }
    PinnedClock(const PinnedClock&) = delete;
    PinnedClock& operator=(const PinnedClock&) = delete;
};

// Runs body with every kernel this machine can run: each kernel set the CPU
// runs (baseline four lanes, AVX2 and AVX-512 eight lanes), each with the
// exponential calibrated for this C library (inline in vector lanes where a
// kernel set has it) and with the library's own, and (unless fusedOnly) each
// of those with the fused two-layer passes and with the separate kernels
// alone: all must give the same bits.
template <class Body>
void ForEachKernelSet(Body body, bool fusedOnly = false)
{
    using engine_detail::TExpKind;
    using engine_kernels::TKernelSet;
    const TExpKind calibrated = engine_detail::ChosenExp();
    for (TKernelSet set : {TKernelSet::Avx512, TKernelSet::Avx2, TKernelSet::Baseline}) {
        if (!engine_kernels::Runs(set)) continue;
        for (bool library : {false, true}) {
            for (bool separate : {false, true}) {
                if (separate && fusedOnly) continue;
                static const char* const kNames[] = {"baseline kernels", "AVX2 kernels", "AVX-512 kernels"};
                SCOPED_TRACE(std::string(kNames[static_cast<int>(set)]) +
                             (library ? ", library exponential" : ", calibrated exponential") +
                             (separate ? ", separate kernels only" : ""));
                engine_kernels::ForceKernelSet(set);
                engine_detail::ForceExp(library ? TExpKind::Library : calibrated);
                engine_kernels::ForceSeparateKernels(separate);
                body();
                engine_kernels::ForceKernelSet(std::nullopt);
                engine_detail::ForceExp(calibrated);
                engine_kernels::ForceSeparateKernels(false);
            }
        }
    }
}

// A network built at a fixed second, so that two calls give equal weights.
inline TNeuralNet MakeNet(const std::vector<std::uint32_t>& sizes, float range = 0.68f, std::time_t when = 1000)
{
    PinnedClock clock(when);
    return TNeuralNet(static_cast<std::uint32_t>(sizes.size() - 1), sizes, range, 0, 0, 1, 1);
}

// A retina-like byte pattern: n cells, about `ones` of them 1, then the bias byte 1.
inline std::vector<std::int8_t> RetinaPattern(std::uint32_t n, double ones, std::uint32_t seed)
{
    std::mt19937 gen(seed);
    std::bernoulli_distribution cell(ones);
    std::vector<std::int8_t> pattern(n + 1);
    for (std::uint32_t i = 0; i < n; ++i) pattern[i] = cell(gen) ? 1 : 0;
    pattern[n] = 1;
    return pattern;
}

// Bytes in lo..hi (zeros included), then the bias byte 1.
inline std::vector<std::int8_t> BytePattern(std::uint32_t n, int lo, int hi, std::uint32_t seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> cell(lo, hi);
    std::vector<std::int8_t> pattern(n + 1);
    for (std::uint32_t i = 0; i < n; ++i) pattern[i] = static_cast<std::int8_t>(cell(gen));
    pattern[n] = 1;
    return pattern;
}

inline std::vector<std::int8_t> OneHot(std::uint32_t n, std::uint32_t index)
{
    std::vector<std::int8_t> target(n, 0);
    target[index] = 1;
    return target;
}

// The pattern of a training step in tests that mix kinds: bytes from -1 to 2,
// a retina of 0 and 1, or grey bytes 0..127 (sums far past the guards), by
// step.
inline std::vector<std::int8_t> MixedPattern(std::uint32_t n, int step)
{
    const auto seed = static_cast<std::uint32_t>(step);
    switch (step % 3) {
    case 0: return BytePattern(n, -1, 2, seed);
    case 1: return RetinaPattern(n, 0.3, seed);
    default: return BytePattern(n, 0, 127, seed);
    }
}

// Equal bits, or both NaN (NaN payloads may legitimately differ).
inline bool Same(float a, float b)
{
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b) || (std::isnan(a) && std::isnan(b));
}

// All weights of a network, layer by layer, row by row.
inline std::vector<float> Weights(const TNeuralNet& net)
{
    std::vector<float> all;
    for (const TLayer& layer : net.layers)
        for (std::size_t i = 0; i < layer.weights.Rows(); ++i)
            all.insert(all.end(), layer.weights[i], layer.weights[i] + layer.weights.Columns());
    return all;
}

// Every weight and every layer output equal bit for bit.
inline ::testing::AssertionResult SameWeightsAndOutputs(const TNeuralNet& a, const TNeuralNet& b)
{
    for (std::size_t k = 0; k < a.layers.size(); ++k) {
        const TLayer& la = a.layers[k];
        const TLayer& lb = b.layers[k];
        for (std::uint32_t i = 0; i <= la.inputCount; ++i)
            for (std::uint32_t j = 0; j < la.neuronCount; ++j)
                if (!Same(la.weights[i][j], lb.weights[i][j]))
                    return ::testing::AssertionFailure()
                           << "weight [" << k << "][" << i << "][" << j << "]: " << la.weights[i][j] << " vs "
                           << lb.weights[i][j];
        for (std::uint32_t j = 0; j <= la.neuronCount; ++j)
            if (!Same(la.outputs[j], lb.outputs[j]))
                return ::testing::AssertionFailure() << "output [" << k << "][" << j << "]: " << la.outputs[j]
                                                     << " vs " << lb.outputs[j];
    }
    return ::testing::AssertionSuccess();
}

// Every weight, every layer output, every error term but the bias units' (which nothing reads) equal bit
// for bit, and every change equal in value (a row the step skips holds 0.0 where the plain loop wrote
// -0.0); the changes read as a const network's, as the project file reads them.
inline ::testing::AssertionResult SameStep(const TNeuralNet& a, const TNeuralNet& b, bool withChanges)
{
    if (auto same = SameWeightsAndOutputs(a, b); !same) return same;
    for (std::size_t k = 0; k < a.deltas.size(); ++k)
        for (std::size_t j = 0; j + 1 < a.deltas[k].size(); ++j)
            if (!Same(a.deltas[k][j], b.deltas[k][j]))
                return ::testing::AssertionFailure() << "error term [" << k << "][" << j << "]: " << a.deltas[k][j]
                                                     << " vs " << b.deltas[k][j];
    if (!withChanges) return ::testing::AssertionSuccess();
    for (std::size_t k = 0; k < a.changes.size(); ++k) {
        const TWeightMatrix& ca = a.changes[k].weights;
        const TWeightMatrix& cb = b.changes[k].weights;
        for (std::size_t i = 0; i < ca.Rows(); ++i)
            for (std::size_t j = 0; j < ca.Columns(); ++j)
                if (!(ca[i][j] == cb[i][j] || (std::isnan(ca[i][j]) && std::isnan(cb[i][j]))))
                    return ::testing::AssertionFailure() << "change [" << k << "][" << i << "][" << j << "]: " << ca[i][j]
                                                         << " vs " << cb[i][j];
    }
    return ::testing::AssertionSuccess();
}

} // namespace testnets
