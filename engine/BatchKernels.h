#pragma once

// Vector kernels of the mini-batch trainer (engine/BatchTrainer.h), built for
// each kernel set of engine/Kernels.h from BatchKernelsImpl.inc, which
// KernelsImpl.inc includes; each set's TKernels::batch points to them. Every kernel
// does the same single-precision operations in the same order for each
// element on every set, so all sets give identical results.
//
// A batch is a block of rows, one per sample, `stride` floats apart (a
// multiple of 8), 32-byte aligned. Column ranges [c0, c1) are multiples of 8
// floats. Register blocking is the kernel set's own: sums are worked out for
// kSampleBlock samples (or inputs) at a time and a few vectors of columns,
// each element's sum in its documented order, so the blocking does not show
// in the results.

#include "engine/Kernels.h"

#include <cstddef>
#include <cstdint>

namespace engine_kernels {

// Samples (forward and back sums) or weight rows (gradients) worked on at a time. The lists of non-zero
// rows handed to outerSums are per block of this many samples.
inline constexpr std::size_t kSampleBlock = 4;

// The non-zero inputs of each block of kSampleBlock samples: block b lists, in increasing order, the rows
// i for which some sample s of the block has x[s][i] != 0, counts[b] entries at rows + b * listStride. Or,
// for gradients, the other way round: block b of kSampleBlock rows lists the samples with a non-zero input
// in one of its rows.
struct TRowLists {
    const std::uint32_t* rows;
    const std::uint32_t* counts;
    std::size_t listStride;  // entries between the starts of two blocks' lists
};

// The update of one step, for a block of weights whose gradient g the kernel has just summed.
struct TUpdate {
    bool adam;
    std::size_t l2Rows;   // rows i < l2Rows get the L2 term (the bias row does not)
    float l2;             // g += l2 * w (SGD: (1 - mu) times its L2 factor); left out when 0
    // SGD: c = (g + c * mu) * negEta, w = w + c.
    float mu, negEta;
    // Adam: m = b1 * m + c1 * g; v = b2 * v + c2 * (g * g); w = w + (negStep * m) / (sqrt(v) * rs + eps).
    float b1, c1, b2, c2, negStep, rs, eps;
};

// The unit of a layer for activateColumns (softmax is done by the trainer, row by row).
enum class TBatchUnit : std::uint8_t { Logistic, Tanh, Relu };

struct TBatchKernels {
    // out[s][c] = +0.0 + the sum over the listed rows i, in increasing order, of w[i][c] * x[s][i], for
    // samples 0..samples-1 and columns [c0, c1). Rows left out of a block's list have x == 0 for each of its
    // samples: their products (+-0.0, with finite weights) change no such sum.
    void (*outerSums)(const float* x, std::size_t xStride, std::size_t samples, const TRowLists& lists,
                      const float* w, std::size_t wStride, std::size_t c0, std::size_t c1, float* out,
                      std::size_t outStride);
    // y[s][c] = the unit's output for the sum y[s][c], in place, for columns [c0, c1). Logistic as
    // TLayer::Activation with a (the guards included); tanh and relu as engine/Units.h.
    void (*activateColumns)(TBatchUnit unit, const TActivation& a, float* y, std::size_t stride,
                            std::size_t samples, std::size_t c0, std::size_t c1);
    // For rows [r0, r1) of w (r0 a multiple of kSampleBlock) and every column of the stride: g[i][c] = +0.0 +
    // the sum over the samples s listed for the block of kSampleBlock rows that holds i, in increasing order,
    // of d[s][c] * x[s][i]; then the update u of w (and its state: c for SGD, m and v for Adam, each with w's
    // shape) with g. Samples left out of a block's list have x == 0 in each of its rows: their products
    // (+-0.0, with finite error terms) change no such sum.
    void (*gradientUpdate)(const float* x, std::size_t xStride, const float* d, std::size_t dStride,
                           const TRowLists& samples, std::size_t r0, std::size_t r1, float* w, float* s1, float* s2,
                           std::size_t stride, const TUpdate& u);
};

// The batch kernels of the kernel set in use (engine_kernels::ActiveSet()).
inline const TBatchKernels& ActiveBatch()
{
    return *Active().batch;
}

} // namespace engine_kernels
