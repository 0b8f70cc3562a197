#pragma once

// The multilayer perceptron: TLayer (one fully connected layer of logistic
// units) and TNeuralNet (a stack of layers with back-propagation and
// stochastic training).
//
// All network quantities are 32-bit floats and all counts unsigned 32-bit.
// The engine validates nothing: the arrays handed to it must have the lengths
// that follow from the layer sizes (a byte pattern or float input vector holds
// inputCount + 1 elements of the first layer, the last one being the bias
// element 1; a target holds outputCount elements).
//
// Forward passes, error measures and training steps allocate nothing, and
// give bit for bit the results of plain loops over rows and columns in the
// documented order. Where a byte input is 0 they skip its row, and with
// momentum 0 a training step does not read the stored changes (momentum times
// a finite change is a zero); both are exact for finite weights and changes
// (stochastic training checks, and falls back to the plain trials otherwise),
// except that a change, or a weight of +-0.0, may come out as the other zero.

#include "engine/Kernels.h"

#include "engine/Units.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace engine_detail {

// Allocator for 32-byte aligned float storage (whole vector registers).
template <class T>
struct TAlignedAllocator {
    using value_type = T;
    static constexpr std::align_val_t alignment{32};
    TAlignedAllocator() noexcept = default;
    template <class U>
    TAlignedAllocator(const TAlignedAllocator<U>&) noexcept {}
    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(::operator new(n * sizeof(T), alignment));
    }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, alignment); }
    template <class U>
    bool operator==(const TAlignedAllocator<U>&) const noexcept { return true; }
};

using TFloatBuffer = std::vector<float, TAlignedAllocator<float>>;

} // namespace engine_detail

// A weight block of rows x columns floats in one contiguous allocation.
// Rows are Stride() floats apart (the column count rounded up to whole vector
// registers); the padding columns hold 0.0 and belong to no neuron.
class TWeightMatrix {
public:
    // Lanes per vector register; the row stride is a multiple of it.
    static constexpr std::size_t kLanes = 8;

    // An empty block of no rows.
    TWeightMatrix() = default;
    // rows x columns weights, all 0.0. Throws std::bad_alloc when the size does not fit in memory.
    TWeightMatrix(std::size_t rows, std::size_t columns);

    // Row i: columns 0..Columns()-1 are the weights from input i to each neuron.
    float* operator[](std::size_t row) noexcept { return data_.data() + row * stride_; }
    // Row i, read-only.
    const float* operator[](std::size_t row) const noexcept { return data_.data() + row * stride_; }

    // Number of rows (inputs plus the bias row).
    std::size_t Rows() const noexcept { return rows_; }
    // Number of columns (neurons).
    std::size_t Columns() const noexcept { return columns_; }
    // Distance in floats between the starts of two rows.
    std::size_t Stride() const noexcept { return stride_; }
    // The whole block, Rows() * Stride() floats.
    float* Data() noexcept { return data_.data(); }
    // The whole block, read-only.
    const float* Data() const noexcept { return data_.data(); }

private:
    std::size_t rows_ = 0;
    std::size_t columns_ = 0;
    std::size_t stride_ = 0;
    engine_detail::TFloatBuffer data_;
};

// One layer of inputCount inputs and neuronCount logistic neurons.
class TLayer {
public:
    // Seeds the generator from the seed clock, then draws every weight (bias row included, row by row)
    // as k*0.001 - initialRange/2 with k uniform in 0..trunc(1000*initialRange)-1 (all 0.0 when that is 0).
    TLayer(std::uint32_t inputCount, std::uint32_t neuronCount, float initialRange);

    // The transfer function: amplitude+offset above 100/slope, offset below -100/slope,
    // else offset + amplitude/(1 + e^(-slope*x)).
    float Activation(float x) const;
    // Computes outputs[0..neuronCount-1] from inputCount+1 floats (the last is the bias input).
    void Forward(const float* x);
    // Computes outputs[0..neuronCount-1] from inputCount+1 signed bytes read as integers.
    void ForwardBytes(const std::int8_t* x);

    float slope = 1.0f;             // activation slope s
    float amplitude = 1.0f;         // activation amplitude A
    float offset = 0.0f;            // activation offset O
    TUnitKind kind = TUnitKind::Logistic;  // the units (engine/Units.h): the passes and steps of TNeuralNet
                                           // take every layer as logistic; TBatchTrainer reads the kind
    std::uint32_t inputCount = 0;   // n, inputs not counting the bias
    std::uint32_t neuronCount = 0;  // m
    TWeightMatrix weights;          // weights[i][j]: input i to neuron j; row n is the bias row
    std::vector<float> outputs;     // m+1 floats: the neuron outputs of the last pass, then 1.0

private:
    friend class TNeuralNet;
    engine_detail::TFloatBuffer sums_;        // Stride() floats: weighted sums of the last pass
    engine_detail::TFloatBuffer scratch_;     // Stride() floats: room for the activation
    std::vector<std::uint32_t> activeRows_;   // rows with a non-zero byte in the last ForwardBytes (not those
                                              // of a network's fused pass)
    std::size_t activeCount_ = 0;             // entries of activeRows_ in use
    std::vector<std::uint64_t> activeBits_;   // the same rows as a bit set, 64 rows a word
};

// The change layers of a network: changes[k] has the shape of layer k, and
// its weights hold the change last applied to each weight of layer k (only
// the weights are used). A training step without momentum keeps its changes
// in a compact form (the error terms and the inputs they are made of) and
// writes them into the layers only when they are read here, so that the step
// itself stores no change: every access below first writes out what is
// pending, and what it shows is, value for value, what the step applied. A
// reference shows the changes as of the access that gave it; read again after
// the next training step. Non-const access may be used to write changes (a
// network read from a file): every change row then counts as possibly
// non-zero. A const access may write out, so a network's changes are not for
// several threads at once.
class TChangeLayers {
public:
    std::size_t size() const noexcept { return layers_.size(); }
    bool empty() const noexcept { return layers_.empty(); }
    TLayer& operator[](std::size_t k) { return Writable()[k]; }
    const TLayer& operator[](std::size_t k) const { return Readable()[k]; }
    TLayer* begin() { return Writable().data(); }
    TLayer* end() { return layers_.data() + layers_.size(); }
    const TLayer* begin() const { return Readable().data(); }
    const TLayer* end() const { return layers_.data() + layers_.size(); }

private:
    friend class TNeuralNet;
    // The last momentum-0 step of a byte pattern, not yet written out: layer k's change [i][j] is
    // (factors[k][j] * x[i]) * negEta (factors[k][j] * negEta where the input x[i] is 1), with x the
    // pattern's bytes for layer 0 and inputs[k] for the others; 0.0 where a byte is 0.
    struct TPending {
        bool any = false;
        float negEta = 0.0f;
        std::vector<engine_detail::TFloatBuffer> factors;  // per layer, Stride() floats, 0.0 in the padding
        std::vector<engine_detail::TFloatBuffer> inputs;   // per layer k >= 1: its inputs, rows rounded up to 8
        std::vector<std::int8_t> pattern;                  // layer 0's inputs, rounded up to 64 bytes
    };

    std::vector<TLayer>& Writable()
    {
        if (pending_.any) WriteOut();
        allDirty_ = true;
        return layers_;
    }
    const std::vector<TLayer>& Readable() const
    {
        if (pending_.any) WriteOut();
        return layers_;
    }
    // Writes the pending step into the layers and clears the layer-0 rows it leaves at 0.0.
    void WriteOut() const;
    // Sizes the compact form's storage for the layers as built: nothing pending, every change 0.0.
    void Prepare();

    mutable std::vector<TLayer> layers_;
    mutable TPending pending_;
    mutable std::vector<std::uint64_t> dirty_;   // layer-0 rows that may hold a non-zero change
    mutable bool allDirty_ = false;              // every layer-0 row may
    mutable std::vector<std::uint32_t> rows_;    // room for lists of layer-0 rows
    mutable std::vector<std::uint32_t> stale_;
    mutable std::vector<std::uint64_t> active_;  // room for a bit set of layer-0 rows
};

// The winner of the last forward pass: the first strictly greatest output, starting from 0.0.
struct TWinner {
    std::uint32_t index = 0;
    float value = 0.0f;
};

// A perceptron of layerCount layers; layer k has sizes[k] inputs and sizes[k+1] neurons.
class TNeuralNet {
public:
    // Builds, for each k, the change layer k (range 0) and then layer k (range initialRange).
    // A missing size (sizes shorter than layerCount+1) counts as 0; a network of 0 layers has
    // no outputs and every pass, error and training step on it does nothing.
    TNeuralNet(std::uint32_t layerCount, const std::vector<std::uint32_t>& sizes, float initialRange,
               float inputOffset, float targetOffset, float inputScale, float targetScale);
    // Deep copy; the copy's outputs refer to its own last layer.
    TNeuralNet(const TNeuralNet& other);
    // Takes over the other network's storage; the other keeps no layers.
    TNeuralNet(TNeuralNet&& other) noexcept;
    // Deep copy assignment.
    TNeuralNet& operator=(const TNeuralNet& other);
    // Move assignment.
    TNeuralNet& operator=(TNeuralNet&& other) noexcept;
    ~TNeuralNet() = default;

    // Runs a byte pattern (inputCount+1 bytes of layer 0) through all layers; outputs then holds the result.
    void ForwardBytes(const std::int8_t* pattern);
    // Scales values[0..n-1] in place by inputScale and inputOffset (the bias element is left alone),
    // then runs them through all layers.
    void Forward(float* values);
    // ForwardBytes(pattern), then the sum of |outputs[i] - target[i]| in float, targets read as integers.
    float ErrorBytes(const std::int8_t* pattern, const std::int8_t* target);
    // The sum of |outputs[i] - target[i]| for the outputs of the last pass, without running the network.
    float OutputError(const float* target) const;
    // The first strictly greatest output of the last pass and its value; index 0, value 0.0
    // when no output exceeds 0.0.
    TWinner WinningOutput() const;

    // One back-propagation step on a byte example; afterwards outputs hold the response before the update.
    void TrainBytes(const std::int8_t* pattern, const std::int8_t* target, float learningRate,
                    float momentum);
    // One back-propagation step on a float example; scales the target (targetScale, targetOffset)
    // and the values (inputScale, inputOffset) in place first.
    void TrainFloat(float* values, float* target, float learningRate, float momentum);
    // One pass of stochastic trials over every weight (layer by layer, row by row, column by column)
    // for one pattern; outputs then hold the result of the very last trial.
    void TrainStochastic(const std::int8_t* pattern, const std::int8_t* target, float stepWidth);
    // One stochastic trial on weight [i][j] of layer k: add a random step in -w/2..+w/2 and
    // subtract it again if the error on the pattern grew.
    void PerturbWeight(std::uint32_t k, std::uint32_t i, std::uint32_t j, const std::int8_t* pattern,
                       const std::int8_t* target, float stepWidth);

    std::uint32_t layerCount = 0;          // L
    std::vector<TLayer> layers;            // input side first
    const float* outputs = nullptr;        // the last layer's outputs (never null)
    std::vector<std::vector<float>> deltas; // deltas[k][j]: error terms of the last step, neuronCount+1 per layer
    TChangeLayers changes;                 // changes[k].weights[i][j]: the change last applied to that weight
    float inputOffset = 0.0f;              // added to each float input after scaling
    float targetOffset = 0.0f;             // added to each float target after scaling
    float inputScale = 1.0f;               // factor applied to each float input
    float targetScale = 1.0f;              // factor applied to each float target
    std::uint32_t outputCount = 0;         // neuronCount of the last layer

private:
    // The fused pass and the float step of a two-layer network and what they were chosen for (the neuron
    // counts, and the count of changes to the kernel choice at the time); null where the kernels have none.
    struct TTwoLayerChoice {
        std::uint32_t hidden = 0;
        std::uint32_t outputs = 0;
        unsigned changes = ~0u;  // none chosen yet
        engine_detail::TExpKind exp{};
        std::size_t (*pass)(const engine_kernels::TByteStep&, bool) = nullptr;
        std::size_t (*plainPass)(const engine_kernels::TByteStep&, bool) = nullptr;  // for plain logistic layers
        engine_kernels::TFloatStepKernel floatStep = nullptr;
        engine_kernels::TFloatStepKernel plainFloatStep = nullptr;  // for plain logistic layers
    };
    struct TTrialPosition {
        std::uint32_t k, i, j;
    };
    // Working storage, allocated at construction so that no step allocates.
    struct TScratch {
        std::vector<engine_detail::TFloatBuffer> paddedDeltas;   // per layer, Stride() floats
        std::vector<engine_detail::TFloatBuffer> columnPrefix;   // per layer, Stride() floats
        std::vector<engine_detail::TFloatBuffer> trialOutputs;   // per layer, neuronCount+1 floats
        engine_detail::TFloatBuffer factors;                     // Stride() floats of the widest layer
        engine_detail::TFloatBuffer rowPrefix;                   // Stride() floats of the widest layer
        engine_detail::TFloatBuffer backSums;                    // neuronCount+1 floats of the widest layer
        std::vector<std::uint32_t> allRows;                      // 0, 1, ..., rows of layer 0 - 1
    };

    void Empty() noexcept;
    void PointOutputs() noexcept;
    void AllocateScratch();
    float CurrentError(const std::int8_t* target) const;
    void ErrorTerms(const std::int8_t* byteTarget, const float* floatTarget);
    const float* Factors(std::size_t k, float momentum);
    void UpdateUpperLayers(float learningRate, float momentum);
    void StepWithoutMomentum(const std::int8_t* pattern, float learningRate);
    void ChooseTwoLayerKernels();
    const TTwoLayerChoice& TwoLayerKernels();
    bool FusedTwoLayerPass(const std::int8_t* pattern, const std::int8_t* target, float learningRate, float momentum);
    const engine_kernels::TFloatStep& FloatStepArguments();
    bool FloatTwoLayerStep(float* values, float* target, float learningRate, float momentum);
    [[gnu::noinline]] void TrainFloatGeneral(float* values, float* target, float learningRate, float momentum);
    bool FastStochasticPass(const std::int8_t* pattern, const std::int8_t* target, float stepWidth,
                            TTrialPosition& resume);
    void LiteralTrial(std::uint32_t k, std::uint32_t i, std::uint32_t j, const std::int8_t* pattern,
                      const std::int8_t* target, float step);
    float EvaluateTrial(std::uint32_t k, std::uint32_t i, std::uint32_t j, float trialWeight,
                        const std::int8_t* pattern, const std::int8_t* target, std::size_t suffix,
                        float currentError, bool& changed, float& trialOutput);
    void CommitTrial(std::uint32_t k, std::uint32_t j, float trialOutput);

    TScratch scratch_;
    TTwoLayerChoice twoLayer_;
    engine_kernels::TFloatStep floatArguments_{};  // what the float step reads of the network, as last seen
};
