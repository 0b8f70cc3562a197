#include "engine/NeuralNet.h"

#include "engine/Exp.h"
#include "engine/Kernels.h"
#include "engine/Random.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

// Arithmetic notes.
//
// Every weighted sum is accumulated in single precision, input by input in
// row order, exactly as a plain double loop over rows and columns does it.
// The kernels (engine/Kernels.h) compute many neurons at once, one vector
// lane per neuron, which keeps that order for each neuron. An input that is
// exactly 0 adds a product of +-0.0 to a sum that is never -0.0 (sums start
// at +0.0, and x + y is -0.0 only when both are), so skipping it is exact.
// The engine is compiled with floating-point contraction off (no fused
// multiply-add), which engine/CMakeLists.txt enforces.

namespace {

using engine_kernels::TActivation;

const float kNoOutputs[1] = {1.0f};

std::size_t PaddedWidth(std::size_t columns)
{
    constexpr std::size_t pad = TWeightMatrix::kLanes;
    if (columns > std::numeric_limits<std::size_t>::max() - pad) throw std::bad_alloc();
    return (columns + pad - 1) / pad * pad;
}

bool SameBits(float a, float b)
{
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// The trial step of the stochastic algorithm for a draw r in 0..32767.
float TrialStep(std::uint32_t r, float stepWidth)
{
    return (static_cast<float>(r) / 32767.0f - 0.5f) * stepWidth;
}

// 100 / s, without the division when s is 1.
float Limit(float slope)
{
    return slope == 1.0f ? 100.0f : 100.0f / slope;
}

// 0 where the layer has the plain logistic 1 / (1 + e^-x), as a network is built: slope 1, amplitude 1 and
// offset +0.0, compared as bit patterns (1.0f has one).
std::uint32_t NotPlainBits(const TLayer& layer)
{
    constexpr std::uint32_t kOne = std::bit_cast<std::uint32_t>(1.0f);
    return (std::bit_cast<std::uint32_t>(layer.slope) ^ kOne) | (std::bit_cast<std::uint32_t>(layer.amplitude) ^ kOne) |
           std::bit_cast<std::uint32_t>(layer.offset);
}

TActivation ActivationOf(const TLayer& layer, engine_detail::TExpKind exp = engine_detail::ChosenExp())
{
    const float limit = Limit(layer.slope);
    return {limit, -limit, -layer.slope, layer.amplitude, layer.offset, exp};
}

// d[j] = (1 - y[j] + O) * (y[j] - O) * A * s * sums[j] for j = 0..m, four at a time where the arrays
// allow (each lane does the scalar operations); padded[0..m) = d[0..m).
void HiddenTerms(const float* y, const float* sums, float amplitude, float offset, float s, float* d, float* padded,
                 std::size_t m)
{
    typedef float TQuad __attribute__((vector_size(16)));
    std::size_t j = 0;
    for (; j + 4 <= m; j += 4) {
        TQuad yq, sq;
        __builtin_memcpy(&yq, y + j, sizeof yq);
        __builtin_memcpy(&sq, sums + j, sizeof sq);
        const TQuad term = (1.0f - yq + offset) * (yq - offset) * amplitude * s * sq;
        __builtin_memcpy(d + j, &term, sizeof term);
        __builtin_memcpy(padded + j, &term, sizeof term);
    }
    for (; j <= m; ++j) {
        d[j] = (1.0f - y[j] + offset) * (y[j] - offset) * amplitude * s * sums[j];
        if (j < m) padded[j] = d[j];
    }
}

bool AllFinite(const TWeightMatrix& weights)
{
    bool finite = true;
    for (std::size_t i = 0; i < weights.Rows(); ++i) {
        const float* row = weights[i];
        for (std::size_t j = 0; j < weights.Columns(); ++j) finite &= std::isfinite(row[j]);
    }
    return finite;
}

} // namespace

// ---------------------------------------------------------------------------
// TWeightMatrix

TWeightMatrix::TWeightMatrix(std::size_t rows, std::size_t columns)
    : rows_(rows), columns_(columns), stride_(PaddedWidth(columns))
{
    if (stride_ != 0 && rows_ > data_.max_size() / stride_) throw std::bad_alloc();
    data_.assign(rows_ * stride_, 0.0f);
}

// ---------------------------------------------------------------------------
// TLayer

TLayer::TLayer(std::uint32_t inputCount, std::uint32_t neuronCount, float initialRange)
    : inputCount(inputCount),
      neuronCount(neuronCount),
      weights(static_cast<std::size_t>(inputCount) + 1, neuronCount),
      outputs(static_cast<std::size_t>(neuronCount) + 1, 0.0f),
      sums_(weights.Stride(), 0.0f),
      scratch_(weights.Stride(), 0.0f),
      activeRows_(weights.Rows(), 0),
      activeBits_((weights.Rows() + 63) / 64, 0)
{
    RandomSeedFromClock();
    // N = trunc(1000 * range); a negative, NaN or sub-thousandth range draws nothing.
    const float scaled = 1000.0f * initialRange;
    std::uint32_t n = 0;
    if (scaled >= 4294967296.0f)
        n = std::numeric_limits<std::uint32_t>::max();
    else if (scaled >= 1.0f)
        n = static_cast<std::uint32_t>(scaled);
    const float half = initialRange * 0.5f;
    for (std::size_t i = 0; i < weights.Rows(); ++i) {
        float* row = weights[i];
        for (std::size_t j = 0; j < neuronCount; ++j) {
            const std::uint32_t k = n != 0 ? RandomBelow(n) : 0;
            row[j] = static_cast<float>(k) * 0.001f - half;
        }
    }
    outputs[neuronCount] = 1.0f;
}

float TLayer::Activation(float x) const
{
    const float limit = Limit(slope);
    if (x > limit) return amplitude + offset;
    if (x < -limit) return offset;
    return offset + amplitude / (1.0f + std::exp(-slope * x));
}

void TLayer::Forward(const float* x)
{
    const engine_kernels::TKernels& kernels = engine_kernels::Active();
    kernels.accumulateFloatRows(weights.Data(), weights.Stride(), 0, weights.Rows(), x, nullptr, sums_.data());
    kernels.activate(ActivationOf(*this), sums_.data(), scratch_.data(), outputs.data(), neuronCount);
}

void TLayer::ForwardBytes(const std::int8_t* x)
{
    const engine_kernels::TKernels& kernels = engine_kernels::Active();
    activeCount_ = kernels.listNonZero(x, weights.Rows(), activeRows_.data(), activeBits_.data());
    kernels.accumulateByteRows(weights.Data(), weights.Stride(), activeRows_.data(), activeCount_, x,
                               sums_.data());
    kernels.activate(ActivationOf(*this), sums_.data(), scratch_.data(), outputs.data(), neuronCount);
}

// ---------------------------------------------------------------------------
// TNeuralNet: construction and copying

TNeuralNet::TNeuralNet(std::uint32_t layerCount, const std::vector<std::uint32_t>& sizes,
                       float initialRange, float inputOffset, float targetOffset, float inputScale,
                       float targetScale)
    : layerCount(layerCount),
      inputOffset(inputOffset),
      targetOffset(targetOffset),
      inputScale(inputScale),
      targetScale(targetScale)
{
    auto size = [&sizes](std::size_t k) -> std::uint32_t { return k < sizes.size() ? sizes[k] : 0; };
    layers.reserve(layerCount);
    deltas.reserve(layerCount);
    changes.layers_.reserve(layerCount);
    for (std::size_t k = 0; k < layerCount; ++k) {
        changes.layers_.emplace_back(size(k), size(k + 1), 0.0f);
        layers.emplace_back(size(k), size(k + 1), initialRange);
    }
    changes.Prepare();
    outputCount = layerCount != 0 ? size(layerCount) : 0;
    for (std::size_t k = 0; k < layerCount; ++k)
        deltas.emplace_back(static_cast<std::size_t>(size(k + 1)) + 1, 0.0f);
    AllocateScratch();
    PointOutputs();
}

TNeuralNet::TNeuralNet(const TNeuralNet& other)
    : layerCount(other.layerCount),
      layers(other.layers),
      deltas(other.deltas),
      changes(other.changes),
      inputOffset(other.inputOffset),
      targetOffset(other.targetOffset),
      inputScale(other.inputScale),
      targetScale(other.targetScale),
      outputCount(other.outputCount),
      scratch_(other.scratch_)
{
    PointOutputs();
}

TNeuralNet::TNeuralNet(TNeuralNet&& other) noexcept
    : layerCount(other.layerCount),
      layers(std::move(other.layers)),
      deltas(std::move(other.deltas)),
      changes(std::move(other.changes)),
      inputOffset(other.inputOffset),
      targetOffset(other.targetOffset),
      inputScale(other.inputScale),
      targetScale(other.targetScale),
      outputCount(other.outputCount),
      scratch_(std::move(other.scratch_))
{
    PointOutputs();
    other.Empty();
}

TNeuralNet& TNeuralNet::operator=(const TNeuralNet& other)
{
    if (this != &other) *this = TNeuralNet(other);
    return *this;
}

TNeuralNet& TNeuralNet::operator=(TNeuralNet&& other) noexcept
{
    if (this != &other) {
        layerCount = other.layerCount;
        layers = std::move(other.layers);
        deltas = std::move(other.deltas);
        changes = std::move(other.changes);
        inputOffset = other.inputOffset;
        targetOffset = other.targetOffset;
        inputScale = other.inputScale;
        targetScale = other.targetScale;
        outputCount = other.outputCount;
        scratch_ = std::move(other.scratch_);
        PointOutputs();
        other.Empty();
    }
    return *this;
}

// Leaves a moved-from network as a valid network of no layers.
void TNeuralNet::Empty() noexcept
{
    layers.clear();
    changes = TChangeLayers{};
    deltas.clear();
    layerCount = 0;
    outputCount = 0;
    scratch_ = TScratch{};
    PointOutputs();
}

void TNeuralNet::PointOutputs() noexcept
{
    outputs = layers.empty() ? kNoOutputs : layers.back().outputs.data();
}

void TNeuralNet::AllocateScratch()
{
    TScratch s;
    std::size_t widest = 0;
    for (const TLayer& layer : layers) {
        const std::size_t stride = layer.weights.Stride();
        widest = std::max(widest, stride);
        s.paddedDeltas.emplace_back(stride, 0.0f);
        s.columnPrefix.emplace_back(stride, 0.0f);
        engine_detail::TFloatBuffer trial(layer.outputs.size(), 0.0f);
        trial.back() = 1.0f;
        s.trialOutputs.push_back(std::move(trial));
    }
    s.factors.assign(widest, 0.0f);
    std::size_t widestRows = 0;
    for (const TLayer& layer : layers) widestRows = std::max(widestRows, layer.outputs.size());
    s.backSums.assign(widestRows + 3, 0.0f);
    s.rowPrefix.assign(widest, 0.0f);
    const std::size_t inputRows = layers.empty() ? 0 : layers[0].weights.Rows();
    s.allRows.resize(inputRows);
    for (std::size_t i = 0; i < inputRows; ++i) s.allRows[i] = static_cast<std::uint32_t>(i);
    scratch_ = std::move(s);
}

// ---------------------------------------------------------------------------
// TNeuralNet: forward passes, errors, winner

void TNeuralNet::ForwardBytes(const std::int8_t* pattern)
{
    if (layers.empty()) return;
    if (FusedTwoLayerPass(pattern, nullptr, 0.0f, 0.0f)) return;
    layers[0].ForwardBytes(pattern);
    for (std::size_t k = 1; k < layers.size(); ++k) layers[k].Forward(layers[k - 1].outputs.data());
    PointOutputs();
}

void TNeuralNet::Forward(float* values)
{
    if (layers.empty()) return;
    const std::uint32_t n = layers[0].inputCount;
    for (std::uint32_t i = 0; i < n; ++i) values[i] = values[i] * inputScale + inputOffset;
    layers[0].Forward(values);
    for (std::size_t k = 1; k < layers.size(); ++k) layers[k].Forward(layers[k - 1].outputs.data());
    PointOutputs();
}

float TNeuralNet::CurrentError(const std::int8_t* target) const
{
    float error = 0.0f;
    for (std::uint32_t i = 0; i < outputCount; ++i)
        error += std::fabs(outputs[i] - static_cast<float>(target[i]));
    return error;
}

float TNeuralNet::ErrorBytes(const std::int8_t* pattern, const std::int8_t* target)
{
    ForwardBytes(pattern);
    return CurrentError(target);
}

float TNeuralNet::OutputError(const float* target) const
{
    float error = 0.0f;
    for (std::uint32_t i = 0; i < outputCount; ++i) error += std::fabs(outputs[i] - target[i]);
    return error;
}

TWinner TNeuralNet::WinningOutput() const
{
    TWinner winner;
    for (std::uint32_t i = 0; i < outputCount; ++i) {
        if (outputs[i] > winner.value) {
            winner.value = outputs[i];
            winner.index = i;
        }
    }
    return winner;
}

// ---------------------------------------------------------------------------
// TNeuralNet: back-propagation

void TNeuralNet::TrainBytes(const std::int8_t* pattern, const std::int8_t* target, float learningRate,
                            float momentum)
{
    if (layers.empty()) return;
    if (momentum == 0.0f) {
        if (!FusedTwoLayerPass(pattern, target, learningRate, 0.0f)) {
            ForwardBytes(pattern);
            ErrorTerms(target, nullptr);
            StepWithoutMomentum(pattern, learningRate);
        }
        changes.pending_.negEta = -learningRate;
        changes.pending_.any = true;
        return;
    }
    // Momentum carries every previous change into the new one.
    std::vector<TLayer>& c = changes.Writable();
    if (FusedTwoLayerPass(pattern, target, learningRate, momentum)) return;
    ForwardBytes(pattern);
    ErrorTerms(target, nullptr);
    TWeightMatrix& w = layers[0].weights;
    engine_kernels::Active().updateByteRows(w.Data(), c[0].weights.Data(), w.Stride(), scratch_.allRows.data(),
                                            w.Rows(), pattern, Factors(0, momentum), -learningRate, momentum);
    UpdateUpperLayers(learningRate, momentum);
}

// The weight updates of a step without momentum after its error terms: each change is -eta times the error
// term times the input (momentum times the previous change, a zero, is left out). A row whose byte is 0 gets
// the change +-0.0 and keeps its weights, so only the rows with a non-zero byte are worked on. The changes
// are left in the compact form of TChangeLayers.
void TNeuralNet::StepWithoutMomentum(const std::int8_t* pattern, float learningRate)
{
    const engine_kernels::TKernels& kernels = engine_kernels::Active();
    TChangeLayers::TPending& pending = changes.pending_;
    const float negEta = -learningRate;
    for (std::size_t k = 0; k < layers.size(); ++k) {
        TLayer& layer = layers[k];
        TWeightMatrix& w = layer.weights;
        float* f = pending.factors[k].data();
        std::copy_n(scratch_.paddedDeltas[k].data(), w.Stride(), f);
        if (k == 0) {
            std::copy_n(pattern, w.Rows(), pending.pattern.data());
            kernels.applyByteRows(w.Data(), w.Stride(), layer.activeRows_.data(), layer.activeCount_, pattern, f,
                                  negEta);
        } else {
            float* x = pending.inputs[k].data();
            std::copy_n(layers[k - 1].outputs.data(), w.Rows(), x);
            kernels.applyFloatRows(w.Data(), w.Stride(), w.Rows(), x, f, negEta);
        }
    }
}

namespace {

// What a fused pass reads of a layer; the slope and error terms only a training step.
// plain: the pass is one for plain logistic layers, which reads no activation.
void FillView(engine_kernels::TLayerView& view, TLayer& layer, engine_detail::TExpKind exp, bool plain)
{
    view.weights = layer.weights.Data();
    view.rows = layer.weights.Rows();
    view.neurons = layer.neuronCount;
    view.outputs = layer.outputs.data();
    if (!plain) view.activation = ActivationOf(layer, exp);
}

} // namespace

// Chooses the fused pass and the float step for the network's shape and the kernels and exponential in use
// (none where these have none), for the two-layer passes and steps to take as long as these stay as they are.
[[gnu::noinline]] void TNeuralNet::ChooseTwoLayerKernels()
{
    TTwoLayerChoice choice;
    choice.changes = engine_detail::gChoiceChanges.load(std::memory_order_relaxed);
    choice.hidden = layers[0].neuronCount;
    choice.outputs = layers[1].neuronCount;
    choice.exp = engine_detail::ChosenExp();
    if (engine_kernels::FusedPassesAllowed()) {
        const engine_kernels::TKernels& kernels = engine_kernels::Active();
        choice.pass = kernels.fusedPass(choice.hidden, choice.outputs, choice.exp, false);
        choice.plainPass = kernels.fusedPass(choice.hidden, choice.outputs, choice.exp, true);
        choice.floatStep = kernels.floatStep(choice.hidden, choice.outputs, choice.exp, false);
        choice.plainFloatStep = kernels.floatStep(choice.hidden, choice.outputs, choice.exp, true);
    }
    twoLayer_ = choice;
    floatArguments_.lower.neurons = choice.hidden;
    floatArguments_.upper.neurons = choice.outputs;
}

// The choice for a network of two layers as it is now.
[[gnu::always_inline]] inline const TNeuralNet::TTwoLayerChoice& TNeuralNet::TwoLayerKernels()
{
    if (twoLayer_.hidden != layers[0].neuronCount || twoLayer_.outputs != layers[1].neuronCount ||
        twoLayer_.changes != engine_detail::gChoiceChanges.load(std::memory_order_relaxed)) [[unlikely]]
        ChooseTwoLayerKernels();
    return twoLayer_;
}

// The forward pass (target null) or the training step of a two-layer network in one kernel call, where the
// kernel set has one for its shape; false, with nothing done, elsewhere. With momentum the changes must have
// been written out.
[[gnu::always_inline]] inline bool TNeuralNet::FusedTwoLayerPass(const std::int8_t* pattern, const std::int8_t* target,
                                                                  float learningRate, float momentum)
{
    if (layers.size() != 2) return false;
    TLayer& first = layers[0];
    TLayer& second = layers[1];
    const TTwoLayerChoice& choice = TwoLayerKernels();
    const bool plain = (NotPlainBits(first) | NotPlainBits(second)) == 0;
    const engine_kernels::TFusedPass pass = plain ? choice.plainPass : choice.pass;
    if (pass == nullptr) return false;
    const engine_detail::TExpKind exp = choice.exp;
    // Only the fields the pass reads are filled: a forward pass reads none of a step's, a plain pass no
    // activation, slope, amplitude or offset.
    engine_kernels::TByteStep step;
    step.pattern = pattern;
    step.bits = first.activeBits_.data();
    FillView(step.lower, first, exp, plain);
    FillView(step.upper, second, exp, plain);
    if (target != nullptr) {
        TChangeLayers::TPending& pending = changes.pending_;
        step.target = target;
        step.lower.deltas = deltas[0].data();
        step.upper.deltas = deltas[1].data();
        if (!plain) {
            step.lower.slope = first.slope;
            step.upper.slope = second.slope;
            step.amplitude = first.amplitude;
            step.offset = first.offset;
        }
        step.negEta = -learningRate;
        step.momentum = momentum;
        step.lowerFactors = pending.factors[0].data();
        step.patternCopy = pending.pattern.data();
        step.upperFactors = pending.factors[1].data();
        step.upperInputs = pending.inputs[1].data();
        step.lowerChanges = changes.layers_[0].weights.Data();
        step.upperChanges = changes.layers_[1].weights.Data();
    }
    first.activeCount_ = pass(step, target != nullptr);
    PointOutputs();
    return true;
}

// ---------------------------------------------------------------------------
// The float step
//
// The series window trains a network of n inputs, 2 hidden neurons and 1
// output, all with slope 1, amplitude 1 and offset +0.0, one window at a
// time; each step depends on the weights the step before wrote, so its time
// is the length of one chain of dependent operations. The kernel sets have
// float steps that keep that chain short for two-layer networks of such
// layers whose layers' neurons fit in the vectors they keep them in
// (Kernels.h); every other network takes the general step.

namespace {

// field = value, unless it holds that already.
template <class T>
[[gnu::always_inline]] inline void Refresh(T& field, T value)
{
    if (field != value) [[unlikely]] field = value;
}

// The layer's fields of a view but its neuron count, which the two-layer choice sets.
[[gnu::always_inline]] inline void Refresh(engine_kernels::TLayerView& view, TLayer& layer, float* deltas)
{
    Refresh(view.weights, layer.weights.Data());
    Refresh(view.rows, layer.weights.Rows());
    Refresh(view.outputs, layer.outputs.data());
    Refresh(view.deltas, deltas);
}

} // namespace

// What the float step reads of the network's storage. The arguments are kept from one step to the next and
// rewritten only where they have changed: a step that reads what was stored just before the call, on its way
// into the chain of dependent operations, takes about a tenth longer on the series network.
[[gnu::always_inline]] inline const engine_kernels::TFloatStep& TNeuralNet::FloatStepArguments()
{
    engine_kernels::TFloatStep& s = floatArguments_;
    std::vector<TLayer>& c = changes.Writable();
    Refresh(s.lower, layers[0], deltas[0].data());
    Refresh(s.upper, layers[1], deltas[1].data());
    Refresh(s.lowerChanges, c[0].weights.Data());
    Refresh(s.upperChanges, c[1].weights.Data());
    return s;
}

// The training step of a two-layer network in one kernel call, where the kernel set has one for its shape;
// false, with nothing done, elsewhere.
[[gnu::always_inline]] inline bool TNeuralNet::FloatTwoLayerStep(float* values, float* target, float learningRate,
                                                                 float momentum)
{
    if (layers.size() != 2) return false;
    const TTwoLayerChoice& choice = TwoLayerKernels();
    const bool plain = (NotPlainBits(layers[0]) | NotPlainBits(layers[1])) == 0;
    const engine_kernels::TFloatStepKernel step = plain ? choice.plainFloatStep : choice.floatStep;
    if (step == nullptr) return false;
    PointOutputs();
    step(FloatStepArguments(), values, target, inputScale, inputOffset, targetScale, targetOffset, -learningRate,
         momentum);
    return true;
}

void TNeuralNet::TrainFloat(float* values, float* target, float learningRate, float momentum)
{
    if (!FloatTwoLayerStep(values, target, learningRate, momentum))
        TrainFloatGeneral(values, target, learningRate, momentum);
}

void TNeuralNet::TrainFloatGeneral(float* values, float* target, float learningRate, float momentum)
{
    if (layers.empty()) return;
    for (std::uint32_t i = 0; i < outputCount; ++i) target[i] = target[i] * targetScale + targetOffset;
    std::vector<TLayer>& c = changes.Writable();
    Forward(values);
    ErrorTerms(nullptr, target);
    TWeightMatrix& w = layers[0].weights;
    engine_kernels::Active().updateFloatRows(w.Data(), c[0].weights.Data(), w.Stride(), w.Rows(), values,
                                             Factors(0, momentum), -learningRate, momentum);
    UpdateUpperLayers(learningRate, momentum);
}

// The error terms of every layer after the step's forward pass, for a byte or a float target.
void TNeuralNet::ErrorTerms(const std::int8_t* byteTarget, const float* floatTarget)
{
    const std::size_t last = layers.size() - 1;
    const float amplitude = layers[0].amplitude;
    const float offset = layers[0].offset;
    {
        const TLayer& layer = layers[last];
        const float s = layer.slope;
        float* d = deltas[last].data();
        float* padded = scratch_.paddedDeltas[last].data();
        for (std::uint32_t i = 0; i < layer.neuronCount; ++i) {
            const float y = layer.outputs[i];
            const float t = byteTarget ? static_cast<float>(byteTarget[i]) : floatTarget[i];
            const float term = (1.0f - y + offset) * (y - offset) * amplitude * s * (y - t);
            d[i] = term;
            padded[i] = term;
        }
    }
    // Hidden layers, from the weights before this step.
    const engine_kernels::TKernels& kernels = engine_kernels::Active();
    for (std::size_t k = last; k-- > 0;) {
        const TLayer& layer = layers[k];
        const TWeightMatrix& next = layers[k + 1].weights;
        const std::size_t m = layer.neuronCount;
        const float s = layer.slope;
        float* d = deltas[k].data();
        float* padded = scratch_.paddedDeltas[k].data();
        float* sums = scratch_.backSums.data();
        kernels.backSums(next.Data(), next.Stride(), m + 1, scratch_.paddedDeltas[k + 1].data(), layers[k + 1].neuronCount,
                         sums);
        HiddenTerms(layer.outputs.data(), sums, amplitude, offset, s, d, padded, m);
    }
}

// (1 - momentum) * D[j] for every column of layer k (0.0 in the padding), shared by every row.
const float* TNeuralNet::Factors(std::size_t k, float momentum)
{
    const float keep = 1.0f - momentum;
    const float* d = scratch_.paddedDeltas[k].data();
    float* f = scratch_.factors.data();
    const std::size_t stride = layers[k].weights.Stride();
    for (std::size_t j = 0; j < stride; ++j) f[j] = keep * d[j];
    return f;
}

// Changes and weights of layers 1 and up, every change stored (the changes must be written out). All error
// terms are known, and no later computation of the step reads a weight, so each change is applied as soon
// as it is computed.
void TNeuralNet::UpdateUpperLayers(float learningRate, float momentum)
{
    const engine_kernels::TKernels& kernels = engine_kernels::Active();
    for (std::size_t k = 1; k < layers.size(); ++k) {
        TWeightMatrix& w = layers[k].weights;
        kernels.updateFloatRows(w.Data(), changes.layers_[k].weights.Data(), w.Stride(), w.Rows(),
                                layers[k - 1].outputs.data(), Factors(k, momentum), -learningRate, momentum);
    }
}

// ---------------------------------------------------------------------------
// TChangeLayers

void TChangeLayers::Prepare()
{
    TPending p;
    for (const TLayer& layer : layers_) {
        p.factors.emplace_back(layer.weights.Stride(), 0.0f);
        p.inputs.emplace_back((layer.weights.Rows() + 7) / 8 * 8 + 8, 0.0f);
    }
    const std::size_t rows = layers_.empty() ? 0 : layers_[0].weights.Rows();
    p.pattern.assign((rows + 63) / 64 * 64, 0);
    pending_ = std::move(p);
    rows_.assign(rows, 0);
    stale_.assign(rows, 0);
    active_.assign((rows + 63) / 64, 0);
    dirty_.assign((rows + 63) / 64, 0);  // the change layers are built with range 0: every change is 0.0
    allDirty_ = false;
}

void TChangeLayers::WriteOut() const
{
    const engine_kernels::TKernels& kernels = engine_kernels::Active();
    TPending& p = pending_;
    const float negEta = p.negEta;
    // Layer 0: the rows of the pattern's non-zero bytes, and 0.0 in every other row that may hold a change.
    TWeightMatrix& c = layers_[0].weights;
    const std::size_t rows = c.Rows();
    const std::size_t count = kernels.listNonZero(p.pattern.data(), rows, rows_.data(), active_.data());
    std::size_t stale = 0;
    for (std::size_t word = 0; word < active_.size(); ++word) {
        const std::size_t left = rows - word * 64;
        const std::uint64_t all = left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
        std::uint64_t bits = (allDirty_ ? all : dirty_[word]) & ~active_[word];
        for (; bits != 0; bits &= bits - 1)
            stale_[stale++] = static_cast<std::uint32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
        dirty_[word] = active_[word];
    }
    kernels.zeroRows(c.Data(), c.Stride(), stale_.data(), stale);
    kernels.writeByteChanges(c.Data(), c.Stride(), rows_.data(), count, p.pattern.data(), p.factors[0].data(),
                             negEta);
    allDirty_ = false;
    for (std::size_t k = 1; k < layers_.size(); ++k) {
        TWeightMatrix& ck = layers_[k].weights;
        kernels.writeFloatChanges(ck.Data(), ck.Stride(), ck.Rows(), p.inputs[k].data(), p.factors[k].data(), negEta);
    }
    p.any = false;
}

// ---------------------------------------------------------------------------
// TNeuralNet: stochastic training

void TNeuralNet::PerturbWeight(std::uint32_t k, std::uint32_t i, std::uint32_t j,
                               const std::int8_t* pattern, const std::int8_t* target, float stepWidth)
{
    const float before = ErrorBytes(pattern, target);
    const float step = TrialStep(Random15(), stepWidth);
    float& weight = layers[k].weights[i][j];
    weight = weight + step;
    const float after = ErrorBytes(pattern, target);
    if (after > before) weight = weight - step;
}

// PerturbWeight with the step already drawn.
void TNeuralNet::LiteralTrial(std::uint32_t k, std::uint32_t i, std::uint32_t j, const std::int8_t* pattern,
                              const std::int8_t* target, float step)
{
    const float before = ErrorBytes(pattern, target);
    float& weight = layers[k].weights[i][j];
    weight = weight + step;
    const float after = ErrorBytes(pattern, target);
    if (after > before) weight = weight - step;
}

void TNeuralNet::TrainStochastic(const std::int8_t* pattern, const std::int8_t* target, float stepWidth)
{
    if (layers.empty()) return;
    TTrialPosition resume{0, 0, 0};
    bool usable = std::isfinite(stepWidth);
    for (const TLayer& layer : layers) usable = usable && AllFinite(layer.weights);
    if (usable && FastStochasticPass(pattern, target, stepWidth, resume)) return;
    // The literal trials, from `resume` on.
    for (std::uint32_t k = resume.k; k < layers.size(); ++k) {
        const TWeightMatrix& w = layers[k].weights;
        for (std::size_t i = k == resume.k ? resume.i : 0; i < w.Rows(); ++i) {
            for (std::size_t j = (k == resume.k && i == resume.i) ? resume.j : 0; j < w.Columns(); ++j)
                PerturbWeight(k, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j), pattern, target,
                              stepWidth);
        }
    }
}

// The stochastic pass with the network's state kept up to date trial by trial instead of two
// full forward passes per trial. The state is: the outputs of every layer for the current
// weights, the error they give, for the layer being tried the sums of each neuron over the
// rows before the current one (columnPrefix), and for the layer after it the sums over the
// rows before the current column (rowPrefix). A trial on weight [i][j] of layer k changes
// only neuron j of layer k and, through it, the layers after k; its sums are completed from
// those prefixes in their original order, so every trial sees exactly the error a full
// forward pass would give. A trial whose input is 0 changes no output at all and is kept.
//
// Returns false when a weight became infinite or NaN: the shortcuts assume finite weights, so
// the caller goes on with the literal trials from `resume`.
bool TNeuralNet::FastStochasticPass(const std::int8_t* pattern, const std::int8_t* target, float stepWidth,
                                    TTrialPosition& resume)
{
    const engine_kernels::TKernels& kernels = engine_kernels::Active();
    ForwardBytes(pattern);
    float error = CurrentError(target);
    TLayer& first = layers[0];
    first.activeCount_ = kernels.listNonZero(pattern, first.weights.Rows(), first.activeRows_.data(),
                                             first.activeBits_.data());
    const std::uint32_t* active = layers[0].activeRows_.data();
    const std::size_t activeCount = layers[0].activeCount_;

    // The very last trial leaves its own outputs in the layers, kept or not.
    std::size_t finalLayer = layers.size();
    for (std::size_t k = layers.size(); k-- > 0;) {
        if (layers[k].neuronCount != 0) {
            finalLayer = k;
            break;
        }
    }

    for (std::uint32_t k = 0; k < layers.size(); ++k) {
        TLayer& layer = layers[k];
        TWeightMatrix& w = layer.weights;
        const std::uint32_t m = layer.neuronCount;
        if (m == 0) continue;
        const std::uint32_t rows = static_cast<std::uint32_t>(w.Rows());
        const bool hasNext = k + 1 < layers.size();
        const TWeightMatrix* nextWeights = hasNext ? &layers[k + 1].weights : nullptr;
        const std::size_t nextStride = hasNext ? nextWeights->Stride() : 0;
        float* columnPrefix = scratch_.columnPrefix[k].data();
        std::fill_n(columnPrefix, w.Stride(), 0.0f);
        const float* x = k == 0 ? nullptr : layers[k - 1].outputs.data();

        // Trials on a row whose input is 0: each step is drawn and kept.
        auto idleRow = [&](std::uint32_t i) {
            float* row = w[i];
            for (std::uint32_t j = 0; j < m; ++j) {
                const float step = TrialStep(Random15(), stepWidth);
                const float trial = row[j] + step;
                if (!std::isfinite(trial)) {
                    LiteralTrial(k, i, j, pattern, target, step);
                    resume = {k, i, j + 1};
                    return false;
                }
                row[j] = trial;
            }
            return true;
        };

        // Trials on a row with a non-zero input xi; for layer 0, suffix is the position in the
        // list of active rows just after row i.
        auto busyRow = [&](std::uint32_t i, float xi, std::size_t suffix) {
            if (hasNext) std::fill_n(scratch_.rowPrefix.data(), nextStride, 0.0f);
            float* row = w[i];
            for (std::uint32_t j = 0; j < m; ++j) {
                const float step = TrialStep(Random15(), stepWidth);
                const float old = row[j];
                const float trial = old + step;
                if (!std::isfinite(trial)) {
                    LiteralTrial(k, i, j, pattern, target, step);
                    resume = {k, i, j + 1};
                    return false;
                }
                bool changed = false;
                float y = 0.0f;
                const float trialError = EvaluateTrial(k, i, j, trial, pattern, target, suffix, error, changed, y);
                if (!changed) {
                    row[j] = trial;  // no output moves: the error stays, and so does the step
                } else if (trialError > error) {
                    const float undone = trial - step;
                    row[j] = undone;
                    if (k == finalLayer && i + 1 == rows && j + 1 == m) {
                        CommitTrial(k, j, y);  // the outputs of the last pass are the trial's
                        return true;
                    }
                    if (!SameBits(undone, old)) {
                        // Adding and subtracting the step did not give the weight back.
                        if (!std::isfinite(undone)) {
                            resume = {k, i, j + 1};
                            return false;
                        }
                        bool changedBack = false;
                        float yBack = 0.0f;
                        error = EvaluateTrial(k, i, j, undone, pattern, target, suffix, error, changedBack, yBack);
                        if (changedBack) CommitTrial(k, j, yBack);
                    }
                } else {
                    row[j] = trial;
                    error = trialError;
                    CommitTrial(k, j, y);
                }
                if (hasNext)
                    kernels.addScaledRow(scratch_.rowPrefix.data(), (*nextWeights)[j], layer.outputs[j], nextStride);
            }
            kernels.addScaledRow(columnPrefix, row, xi, w.Stride());
            return true;
        };

        if (k == 0) {
            std::uint32_t i = 0;
            for (std::size_t p = 0; p <= activeCount; ++p) {
                const std::uint32_t next = p < activeCount ? active[p] : rows;
                for (; i < next; ++i)
                    if (!idleRow(i)) return false;
                if (p == activeCount) break;
                if (!busyRow(i, static_cast<float>(pattern[i]), p + 1)) return false;
                ++i;
            }
        } else {
            for (std::uint32_t i = 0; i < rows; ++i) {
                const bool done = x[i] == 0.0f ? idleRow(i) : busyRow(i, x[i], 0);
                if (!done) return false;
            }
        }
    }
    return true;
}

// The error the network would have with weight [i][j] of layer k set to trialWeight, all else
// as it is (see FastStochasticPass for the state this relies on). changed is false when the
// neuron's output does not change at all (the error is then currentError); otherwise
// trialOutput is its new output and trialOutputs hold the new outputs of the later layers.
float TNeuralNet::EvaluateTrial(std::uint32_t k, std::uint32_t i, std::uint32_t j, float trialWeight,
                                const std::int8_t* pattern, const std::int8_t* target, std::size_t suffix,
                                float currentError, bool& changed, float& trialOutput)
{
    const engine_kernels::TKernels& kernels = engine_kernels::Active();
    TLayer& layer = layers[k];
    const TWeightMatrix& w = layer.weights;
    float sum;
    if (k == 0) {
        sum = scratch_.columnPrefix[0][j] + trialWeight * static_cast<float>(pattern[i]);
        const std::uint32_t* active = layer.activeRows_.data();
        for (std::size_t p = suffix; p < layer.activeCount_; ++p) {
            const std::uint32_t r = active[p];
            sum += w[r][j] * static_cast<float>(pattern[r]);
        }
    } else {
        const float* x = layers[k - 1].outputs.data();
        sum = scratch_.columnPrefix[k][j] + trialWeight * x[i];
        for (std::size_t r = static_cast<std::size_t>(i) + 1; r < w.Rows(); ++r) sum += w[r][j] * x[r];
    }
    const float y = layer.Activation(sum);
    trialOutput = y;
    if (SameBits(y, layer.outputs[j])) {
        changed = false;
        return currentError;
    }
    changed = true;

    const std::size_t last = layers.size() - 1;
    if (k == last) {
        float error = 0.0f;
        for (std::uint32_t l = 0; l < outputCount; ++l) {
            const float out = l == j ? y : layer.outputs[l];
            error += std::fabs(out - static_cast<float>(target[l]));
        }
        return error;
    }

    // Layer k+1: rows 0..j-1 are in rowPrefix, row j takes the new output, rows j+1.. the current ones.
    {
        TLayer& next = layers[k + 1];
        const TWeightMatrix& wn = next.weights;
        float* sums = next.sums_.data();
        kernels.scaledRowPlus(sums, scratch_.rowPrefix.data(), wn[j], y, wn.Stride());
        kernels.accumulateFloatRows(wn.Data(), wn.Stride(), static_cast<std::size_t>(j) + 1, wn.Rows(),
                                    layer.outputs.data(), sums, sums);
        kernels.activate(ActivationOf(next), sums, next.scratch_.data(), scratch_.trialOutputs[k + 1].data(),
                         next.neuronCount);
    }
    // Any later layers: full passes over the trial outputs.
    for (std::size_t q = static_cast<std::size_t>(k) + 2; q <= last; ++q) {
        TLayer& layerQ = layers[q];
        float* sums = layerQ.sums_.data();
        kernels.accumulateFloatRows(layerQ.weights.Data(), layerQ.weights.Stride(), 0, layerQ.weights.Rows(),
                                    scratch_.trialOutputs[q - 1].data(), nullptr, sums);
        kernels.activate(ActivationOf(layerQ), sums, layerQ.scratch_.data(), scratch_.trialOutputs[q].data(),
                         layerQ.neuronCount);
    }
    float error = 0.0f;
    const float* out = scratch_.trialOutputs[last].data();
    for (std::uint32_t l = 0; l < outputCount; ++l) error += std::fabs(out[l] - static_cast<float>(target[l]));
    return error;
}

// Makes the last evaluated trial (a changed one) the current state of the layer outputs.
void TNeuralNet::CommitTrial(std::uint32_t k, std::uint32_t j, float trialOutput)
{
    layers[k].outputs[j] = trialOutput;
    for (std::size_t q = static_cast<std::size_t>(k) + 1; q < layers.size(); ++q)
        std::copy_n(scratch_.trialOutputs[q].data(), layers[q].neuronCount, layers[q].outputs.data());
}
