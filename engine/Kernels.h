#pragma once

// Vector kernels of the engine, built twice: for the x86-64 baseline (SSE2,
// four lanes) and for AVX2 with FMA (eight lanes; FMA only for the fused
// exponential's explicit multiply-adds). Both do the same single-precision
// operations in the same order for every lane, so they give identical
// results; the faster one is chosen once, at the first use.
//
// Weight blocks are rows of `stride` floats (a multiple of 8), 32-byte
// aligned; sums, factors and scratch buffers hold `stride` floats.

#include "engine/Exp.h"

#include <cstddef>
#include <cstdint>

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

// What the fused step of a two-layer network on a byte pattern reads and writes. Layer 0 has rows0 input rows
// (the last one the bias) and `hidden` neurons, layer 1 hidden + 1 rows and `outputs` neurons. y0 and y1 are
// the layers' outputs (y0[hidden] is the bias input of layer 1, read only), d0 and d1 their error terms
// (hidden + 1 and outputs floats written). rows and bits take the non-zero bytes as listNonZero gives them.
// dirty marks the layer-0 change rows that may hold a non-zero value (all of them when allDirty); a training
// step clears every such row whose byte is 0 and leaves dirty equal to bits.
struct TByteStep {
    const std::int8_t* pattern;
    const std::int8_t* target;
    std::size_t rows0;
    std::size_t hidden;
    std::size_t outputs;
    float* w0;
    float* c0;
    std::size_t stride0;
    float* w1;
    float* c1;
    std::size_t stride1;
    TActivation a0;
    TActivation a1;
    float amplitude;  // of layer 0, for the error terms of both layers
    float offset;     // of layer 0, likewise
    float slope0;
    float slope1;
    float negEta;
    float* y0;
    float* y1;
    float* d0;
    float* d1;
    std::uint32_t* rows;
    std::uint64_t* bits;
    std::uint64_t* dirty;
    bool allDirty;
};

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
    // With momentum 0: for rows[0..count), c = -eta * (f * x[row]), then w = w + c. That is the value
    // updateByteRows gives with mu = 0 wherever the old c is finite (mu * c is a zero, which changes
    // at most the sign of a zero change), without reading c.
    void (*stepByteRows)(float* w, float* c, std::size_t stride, const std::uint32_t* rows, std::size_t count,
                         const std::int8_t* x, const float* f, float negEta);
    // The same for rows 0..rows-1 with float inputs.
    void (*stepFloatRows)(float* w, float* c, std::size_t stride, std::size_t rows, const float* x, const float* f,
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
    // The forward pass of a two-layer network in one go, for the shapes this kernel set has it for (hidden
    // 25 / outputs 10 and hidden 64 / outputs 26, with the inline exponential): outputs, rows and bits as
    // accumulateByteRows, activate and listNonZero give them. Returns the count of non-zero bytes, or
    // kNoFusedStep (having done nothing) for any other network.
    std::size_t (*forwardTwoLayers)(const TByteStep& s);
    // The forward pass, error terms and momentum-0 update of a two-layer network in one go, for the same
    // shapes: the results of the separate kernels bit for bit, change rows cleared as the dirty bits say.
    // Returns as forwardTwoLayers.
    std::size_t (*trainTwoLayers)(const TByteStep& s);
};

inline constexpr std::size_t kNoFusedStep = ~std::size_t{0};

// The kernels in use.
const TKernels& Active();

// Tests only: use the baseline kernels even where AVX2 is available (true), or choose again (false).
void ForceBaseline(bool baseline);

// Whether the AVX2 kernels are the ones in use.
bool UsingAvx2();

// Whether this CPU can run the AVX2 kernels (it has AVX2 and FMA).
bool CpuRunsAvx2Kernels();

// The two builds. The AVX2 table is used only when kAvx2Built and CpuRunsAvx2Kernels().
extern const TKernels kBaselineKernels;
extern const TKernels kAvx2Kernels;
extern const bool kAvx2Built;

} // namespace engine_kernels
