#pragma once

// Mini-batch training of a network of any kinds of units (engine/Units.h)
// with SGD with momentum or Adam.
//
// One step on a batch of B samples (byte patterns as TNeuralNet reads them,
// the bias byte last; byte targets, 1 for the class and 0 otherwise):
//
//  1. Forward pass of every sample: each unit's sum is +0.0 plus w[i][j] x[i]
//     over its inputs i in order, the bias row last (input 1), then the unit.
//  2. Error terms of the output layer, divided by B (the mean over the batch,
//     as PyTorch's mean loss gives):
//       softmax (cross-entropy):      (y - t) / B
//       logistic (squared error):     ((1 - y + O) (y - O) A s (y - t)) / B, as TNeuralNet::TrainBytes
//       tanh (squared error):         ((1 - y y) (y - t)) / B
//       relu (squared error):         (y > 0 ? y - t : 0) / B
//     with A and O the amplitude and offset of layer 0 and s the layer's slope
//     (products left to right as written).
//  3. Error terms of hidden layer k from those of layer k+1 and its weights
//     before the step: S = +0.0 + sum over the units i of layer k+1, in order,
//     of d[i] w[j][i], then logistic (1 - y + O) (y - O) A s S, tanh
//     (1 - y y) S, relu y > 0 ? S : 0.
//  4. The gradient of each weight, g[i][j] = +0.0 + d_0[j] x_0[i] +
//     d_1[j] x_1[i] + ... in sample order (SGD: with (1 - mu) d in place of
//     d), and with L2 (l2 != 0) g += l2 w for every weight but the bias
//     row's (SGD: ((1 - mu) l2) w).
//  5. The update, weight by weight:
//       SGD:  c = (g + c mu) (-rate); w = w + c; c is the network's change
//             (TNeuralNet::changes), as TrainBytes keeps it.
//       Adam: m = b1 m + (1 - b1) g; v = b2 v + (1 - b2) (g g);
//             w = w + (-step m) / (sqrt(v) rs + eps), with step = rate /
//             (1 - b1^t) and rs = 1 / sqrt(1 - b2^t) worked out in double for
//             the step's count t (1 for the first) and rounded to float: the
//             formula w -= rate (m / (1 - b1^t)) / (sqrt(v / (1 - b2^t)) + eps).
//
// All arithmetic is single precision, operation by operation (no fused
// multiply-add), so the results are the same bit for bit on every kernel set
// and for one thread or two; a batch of one on a network of logistic layers
// with SGD is TNeuralNet::TrainBytes's step, bit for bit (its weights; the
// changes equal in value: the sums start from +0.0 where the classic step's
// start from the first product, which changes at most the sign of a zero
// change). Inputs and error terms of 0 are skipped in the sums, which is
// exact for finite weights and error terms: a sum that starts from +0.0 is
// never -0.0, and adding +-0.0 leaves any other sum as it is. The trainer
// allocates nothing after construction.
// It does not write the network's outputs or deltas.

#include "engine/NeuralNet.h"
#include "engine/Optimiser.h"
#include "engine/Units.h"
#include "engine/WorkerPair.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TBatchTrainer {
public:
    // Trains net (kept by reference: it must outlive the trainer and keep its shape and its layers' kinds,
    // which are read here). Throws std::invalid_argument for a network of no layers, kinds that ValidKinds
    // refuses, a batch of 0 or a thread count other than 1 and 2.
    TBatchTrainer(TNeuralNet& net, const TOptimiserSettings& settings);
    ~TBatchTrainer();

    // One step on count samples, 1 <= count <= settings.batch: patterns[s] holds inputCount + 1 bytes,
    // targets[s] outputCount bytes. Outputs then hold the batch's response before the update.
    void Step(const std::int8_t* const* patterns, const std::int8_t* const* targets, std::size_t count);
    // The forward pass of count samples (1 <= count <= settings.batch).
    void Forward(const std::int8_t* const* patterns, std::size_t count);
    // The outputs of sample s of the last pass or step: outputCount floats.
    const float* Outputs(std::size_t s) const;
    // The mean loss of the last step's batch (cross-entropy or half the squared error), in double.
    double LastLoss() const { return loss_; }

    const TOptimiserSettings& Settings() const { return settings_; }
    // Adam's count of steps taken, and its moments m and v of layer k (the shape of its weights; empty with
    // SGD, whose state is the network's changes). Writable, so that a saved state can be taken up again.
    std::uint64_t AdamSteps() const { return adamSteps_; }
    void SetAdamSteps(std::uint64_t steps) { adamSteps_ = steps; }
    const TWeightMatrix& FirstMoments(std::size_t k) const { return layers_[k].m; }
    const TWeightMatrix& SecondMoments(std::size_t k) const { return layers_[k].v; }
    TWeightMatrix& FirstMoments(std::size_t k) { return layers_[k].m; }
    TWeightMatrix& SecondMoments(std::size_t k) { return layers_[k].v; }

private:
    struct TLayerWork {
        TUnitKind kind;
        std::size_t rows = 0;       // inputs + bias row
        std::size_t units = 0;
        std::size_t stride = 0;     // of the weights, the error terms
        std::size_t outStride = 0;  // of the outputs: room for the bias input 1.0 after the units
        engine_detail::TFloatBuffer y;        // batch x outStride: sums, then outputs
        engine_detail::TFloatBuffer d;        // batch x stride: error terms, 0.0 beyond units
        engine_detail::TFloatBuffer factors;  // SGD with momentum: (1 - mu) d
        engine_detail::TFloatBuffer wt;       // layers 1 and up: units x (previous layer's stride), w transposed
        std::vector<std::uint32_t> inputRows, inputCounts;  // non-zero inputs per block of samples
        std::vector<std::uint32_t> termRows, termCounts;    // non-zero error terms per block of samples
        std::vector<std::uint32_t> gradientSamples, gradientCounts;  // samples with non-zero inputs per block of rows
        TWeightMatrix m, v;                   // Adam's moments
    };

    void ConvertInputs(const std::int8_t* const* patterns, std::size_t count);
    void ForwardPass(std::size_t count, bool training);
    void Softmax(TLayerWork& layer, std::size_t count);
    void OutputTerms(const std::int8_t* const* targets, std::size_t count);
    void BackwardAndUpdate(std::size_t count);
    void HiddenTerms(std::size_t k, std::size_t count, std::size_t c0, std::size_t c1);
    const float* Inputs(std::size_t k, std::size_t& stride) const;

    TNeuralNet& net_;
    TOptimiserSettings settings_;
    std::vector<TLayerWork> layers_;
    engine_detail::TFloatBuffer x_;  // batch x xStride_: layer 0's inputs as floats
    std::size_t xStride_ = 0;
    std::vector<std::uint8_t> flags_;  // room for the lists' flags
    std::uint64_t adamSteps_ = 0;
    double loss_ = 0.0;
    std::unique_ptr<TWorkerPair> workers_;
};
