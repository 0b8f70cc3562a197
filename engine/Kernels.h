#pragma once

// Vector kernels of the engine, built three times: for the x86-64 baseline
// (SSE2, four lanes), for AVX2 with FMA, BMI1 and BMI2 (eight lanes; FMA only
// for the fused exponential's explicit multiply-adds), and for the same with
// AVX-512 F, VL, BW and DQ besides (eight lanes). All do the same
// single-precision operations in the same order for every lane, so they give
// identical results; the fastest one the CPU runs is chosen once, at the
// first use.
//
// Weight blocks are rows of `stride` floats (a multiple of 8), 32-byte
// aligned; sums, factors and scratch buffers hold `stride` floats.

#include "engine/Exp.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace engine_kernels {

// The activation's parameters, worked out once per layer pass.
struct TActivation {
    float upper;     // 100 / slope
    float lower;     // -100 / slope
    float negSlope;  // -slope
    float amplitude;
    float offset;
    engine_detail::TExpKind exp;  // how e^x is computed: Fused or Separate inline where built, else the library
};

// One layer as the fused passes and float steps of a two-layer network see it.
struct TLayerView {
    float* weights;      // rows of whole vectors, as many as the neurons take (the pass's shape)
    std::size_t rows;    // inputs plus the bias row
    std::size_t neurons;
    float* outputs;      // neurons + 1 floats; the last is the bias input of the next layer (read only)
    float* deltas;       // neurons + 1 floats of error terms (layer 0) or neurons (layer 1), written by a step
    TActivation activation;
    float slope;         // read by a step
};

// What the fused passes of a two-layer network on a byte pattern read and write. bits takes the non-zero
// bytes as listNonZero gives them (the list of their rows is not written). A training step without momentum
// writes its changes nowhere: it leaves what they are made of in the pending-step buffers (TChangeLayers in
// engine/NeuralNet.h): layer 0's factors (its error terms, 0.0 in the padding), a copy of the pattern,
// layer 1's factors and its inputs (the hidden outputs with the bias input). A step with momentum reads and
// writes the changes themselves.
struct TByteStep {
    const std::int8_t* pattern;
    const std::int8_t* target;  // outputs bytes; unused by the forward pass
    TLayerView lower;
    TLayerView upper;
    float amplitude;  // of layer 0, for the error terms of both layers
    float offset;     // of layer 0, likewise
    float negEta;     // minus the learning rate
    float momentum;
    std::uint64_t* bits;
    float* lowerFactors;       // as many floats as a row of lower.weights
    std::int8_t* patternCopy;  // lower.rows rounded up to 64 bytes
    float* upperFactors;       // as many floats as a row of upper.weights
    float* upperInputs;        // upper.rows rounded up to 8 floats
    float* lowerChanges;       // with momentum: layer 0's changes, rows as those of lower.weights
    float* upperChanges;       // with momentum: layer 1's changes
};

// A fused pass of one shape of two-layer network: the forward pass (train false), reading only pattern, bits
// and of each layer weights, rows, neurons, outputs and activation, with outputs and bits as
// accumulateByteRows, activate and listNonZero give them; or the forward pass, error terms and update (train
// true), the results of the separate kernels bit for bit, without momentum the changes left in the
// pending-step buffers. Returns the count of non-zero bytes. A pass for plain logistic layers (slope 1,
// amplitude 1, offset +0.0) reads no activation, slope, amplitude or offset.
using TFusedPass = std::size_t (*)(const TByteStep& s, bool train);

// What the float step of a two-layer network of plain logistic layers (slope 1, amplitude 1, offset +0.0)
// reads of the network: the layers' storage (of each view all but the activation and the slope, and of the
// upper one not the rows either, which are lower.neurons + 1). The step writes each layer's weights, changes
// (rows as those of the weights; the changes themselves, never the pending-step buffers), outputs and error
// terms.
struct TFloatStep {
    TLayerView lower;
    TLayerView upper;
    float* lowerChanges;
    float* upperChanges;
};

// A float step of one shape of two-layer network: TNeuralNet's general step on values (lower.rows floats, the
// last the bias input) and target (upper.neurons floats), both scaled in place first (each value but the bias
// input to value * inputScale + inputOffset, each target to target * targetScale + targetOffset), with
// learning rate -negEta. Its results are those of the general step bit for bit (the rows' padding aside,
// which belongs to no neuron). The example and the rates come in registers.
using TFloatStepKernel = void (*)(const TFloatStep& s, float* values, float* target, float inputScale,
                                  float inputOffset, float targetScale, float targetOffset, float negEta,
                                  float momentum);

struct TBatchKernels;  // engine/BatchKernels.h

struct TKernels {
    // rows[0..count) = the indices of the non-zero bytes of x[0..n), in order; returns count. Bit i % 64 of
    // bits[i / 64] is set for the same indices (bits holds (n + 63) / 64 words, all written).
    std::size_t (*listNonZero)(const std::int8_t* x, std::size_t n, std::uint32_t* rows, std::uint64_t* bits);
    // sums[0..stride) = sum over rows[0..count) in that order of w[row][.] * x[row].
    void (*accumulateByteRows)(const float* w, std::size_t stride, const std::uint32_t* rows, std::size_t count,
                               const std::int8_t* x, float* sums);
    // sums[0..stride) = init (or 0 when null) + sum over rows begin..end-1 of w[row][.] * x[row].
    // init may be sums itself.
    void (*accumulateFloatRows)(const float* w, std::size_t stride, std::size_t begin, std::size_t end,
                                const float* x, const float* init, float* sums);
    // out[0..m) = the activation of sums[0..m); scratch holds at least m rounded up to 8 floats.
    void (*activate)(const TActivation& a, const float* sums, float* scratch, float* out, std::size_t m);
    // For rows[0..count): c = -eta * (f * x[row] + mu * c), then w = w + c, column by column.
    void (*updateByteRows)(float* w, float* c, std::size_t stride, const std::uint32_t* rows, std::size_t count,
                           const std::int8_t* x, const float* f, float negEta, float mu);
    // The same for rows 0..rows-1 with float inputs.
    void (*updateFloatRows)(float* w, float* c, std::size_t stride, std::size_t rows, const float* x,
                            const float* f, float negEta, float mu);
    // The change of a step without momentum, c = -eta * (f * x[row]) (f * -eta where x[row] is 1), added to
    // w for rows[0..count): w = w + c, column by column; c is not stored. That is the change updateByteRows
    // gives with mu = 0 wherever the old change is finite (mu * c is a zero, which changes at most the sign
    // of a zero change).
    void (*applyByteRows)(float* w, std::size_t stride, const std::uint32_t* rows, std::size_t count,
                          const std::int8_t* x, const float* f, float negEta);
    // The same for rows 0..rows-1 with float inputs (no shortcut for an input of 1).
    void (*applyFloatRows)(float* w, std::size_t stride, std::size_t rows, const float* x, const float* f,
                           float negEta);
    // The changes applyByteRows adds, written into c for rows[0..count).
    void (*writeByteChanges)(float* c, std::size_t stride, const std::uint32_t* rows, std::size_t count,
                             const std::int8_t* x, const float* f, float negEta);
    // The changes applyFloatRows adds, written into c for rows 0..rows-1.
    void (*writeFloatChanges)(float* c, std::size_t stride, std::size_t rows, const float* x, const float* f,
                              float negEta);
    // acc[0..stride) += row * x.
    void (*addScaledRow)(float* acc, const float* row, float x, std::size_t stride);
    // out[0..stride) = init + row * x.
    void (*scaledRowPlus)(float* out, const float* init, const float* row, float x, std::size_t stride);
    // out[j] = sum over i = 0..columns-1 in that order of d[i] * w[j][i], for j = 0..rows-1;
    // d[columns..stride) and the rows' padding are 0.0.
    void (*backSums)(const float* w, std::size_t stride, std::size_t rows, const float* d, std::size_t columns,
                     float* out);
    // Sets rows[0..count) of c to 0.0.
    void (*zeroRows)(float* c, std::size_t stride, const std::uint32_t* rows, std::size_t count);
    // The pass of a two-layer network of `hidden` and `outputs` neurons in one go, where both layers' sums
    // fit in the registers this kernel set keeps them in (see kFusedHiddenVectors and kFusedOutputVectors)
    // and `exp` is the inline exponential it is built with; null for any other network. See TFusedPass.
    // plain: a pass only for layers that all have slope 1, amplitude 1 and offset +0.0.
    TFusedPass (*fusedPass)(std::size_t hidden, std::size_t outputs, engine_detail::TExpKind exp, bool plain);
    // The mini-batch trainer's kernels of this set (engine/BatchKernels.h).
    const TBatchKernels* batch;
    // The float step of a two-layer network of `hidden` and `outputs` neurons, where each layer's neurons fit
    // in the vectors this kernel set keeps them in (see kFloatStepHiddenVectors and kFloatStepOutputVectors)
    // and `exp` is an inline exponential it is built with; null for any other network. See TFloatStepKernel.
    // plain: the layers all have slope 1, amplitude 1 and offset +0.0; the steps are built for those alone, so
    // there is none where plain is false.
    TFloatStepKernel (*floatStep)(std::size_t hidden, std::size_t outputs, engine_detail::TExpKind exp, bool plain);
};

// The fused passes keep up to this many vectors of hidden sums and of output sums in registers (64 hidden
// neurons and 32 outputs with eight lanes, 32 and 16 with four).
inline constexpr std::size_t kFusedHiddenVectors = 8;
inline constexpr std::size_t kFusedOutputVectors = 4;

// The float steps keep each layer's sums, outputs and error terms in this many vectors, a neuron a lane: up to
// 8 hidden neurons and 8 outputs with eight lanes, 4 and 4 with four.
inline constexpr std::size_t kFloatStepHiddenVectors = 1;
inline constexpr std::size_t kFloatStepOutputVectors = 1;

// The kernels in use.
const TKernels& Active();

// The kernel sets, the plainest first.
enum class TKernelSet { Baseline, Avx2, Avx512 };

// Whether this build has the set and this CPU (with its operating system) runs it.
bool Runs(TKernelSet set);

// The set in use.
TKernelSet ActiveSet();

// Tests only: use the given set, which must be one that Runs, or choose again (nullopt): the last set that
// Runs.
void ForceKernelSet(std::optional<TKernelSet> set);

// Tests only: let no network take the fused two-layer passes or float steps (true), so that the separate
// kernels run on every shape, or let them again (false).
void ForceSeparateKernels(bool separate);

// Whether the fused two-layer passes and float steps may be used.
bool FusedPassesAllowed();

// The three builds (on other processors than x86-64, the two last are baseline builds too, never chosen).
extern const TKernels kBaselineKernels;
extern const TKernels kAvx2Kernels;
extern const TKernels kAvx512Kernels;
extern const bool kAvx2Built;
extern const bool kAvx512Built;

} // namespace engine_kernels
