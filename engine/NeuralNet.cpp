#include "engine/NeuralNet.h"

#include "engine/Random.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

// Arithmetic notes.
//
// Every weighted sum is accumulated in single precision, input by input in
// row order, exactly as a plain double loop would do it. The kernels below
// compute many neurons at once (one vector lane per neuron), which keeps that
// order for each neuron. An input that is exactly 0 adds a product of +-0.0 to
// a sum that is never -0.0 (sums start at +0.0), so skipping it is exact.
// The engine must be compiled with floating-point contraction off (no fused
// multiply-add), which engine/CMakeLists.txt enforces.

namespace {

constexpr std::size_t kLanes = TWeightMatrix::kLanes;
constexpr std::size_t kBlockVectors = 4;  // vectors kept in registers per column block

typedef float TVec __attribute__((vector_size(kLanes * sizeof(float)), may_alias));

inline TVec& Vec(float* p) { return *reinterpret_cast<TVec*>(p); }
inline const TVec& Vec(const float* p) { return *reinterpret_cast<const TVec*>(p); }

const float kNoOutputs[1] = {1.0f};

std::size_t PaddedWidth(std::size_t columns)
{
    if (columns > std::numeric_limits<std::size_t>::max() - kLanes) throw std::bad_alloc();
    return (columns + kLanes - 1) / kLanes * kLanes;
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

// out[c..c+8V) = init (or 0) + sum over rows i in [begin, end) of w[i][c..] * x[i], in row order.
template <std::size_t V>
void FloatRowsBlock(const float* w, std::size_t stride, std::size_t begin, std::size_t end,
                    const float* x, const float* init, float* out)
{
    TVec acc[V];
    for (std::size_t v = 0; v < V; ++v) acc[v] = init ? Vec(init + v * kLanes) : TVec{};
    for (std::size_t i = begin; i < end; ++i) {
        const float xi = x[i];
        const float* row = w + i * stride;
        for (std::size_t v = 0; v < V; ++v) acc[v] += Vec(row + v * kLanes) * xi;
    }
    for (std::size_t v = 0; v < V; ++v) Vec(out + v * kLanes) = acc[v];
}

// Float input over rows [begin, end): out = init + sum of rows, for every column of the stride.
void AccumulateFloatRows(const TWeightMatrix& weights, std::size_t begin, std::size_t end,
                         const float* x, const float* init, float* out)
{
    const std::size_t stride = weights.Stride();
    const float* base = weights.Data();
    for (std::size_t c = 0; c < stride; c += kBlockVectors * kLanes) {
        const float* w = base + c;
        const float* in = init ? init + c : nullptr;
        switch (std::min(kBlockVectors, (stride - c) / kLanes)) {
        case 4: FloatRowsBlock<4>(w, stride, begin, end, x, in, out + c); break;
        case 3: FloatRowsBlock<3>(w, stride, begin, end, x, in, out + c); break;
        case 2: FloatRowsBlock<2>(w, stride, begin, end, x, in, out + c); break;
        default: FloatRowsBlock<1>(w, stride, begin, end, x, in, out + c); break;
        }
    }
}

template <std::size_t V>
void ByteRowsBlock(const float* w, std::size_t stride, std::size_t rows, const std::int8_t* x,
                   float* out)
{
    TVec acc[V];
    for (std::size_t v = 0; v < V; ++v) acc[v] = TVec{};
    for (std::size_t i = 0; i < rows; ++i) {
        if (x[i] == 0) continue;
        const float xi = static_cast<float>(x[i]);
        const float* row = w + i * stride;
        for (std::size_t v = 0; v < V; ++v) acc[v] += Vec(row + v * kLanes) * xi;
    }
    for (std::size_t v = 0; v < V; ++v) Vec(out + v * kLanes) = acc[v];
}

// Byte input over all rows: out = sum of rows with a non-zero byte, for every column of the stride.
void AccumulateByteRows(const TWeightMatrix& weights, const std::int8_t* x, float* out)
{
    const std::size_t stride = weights.Stride();
    const std::size_t rows = weights.Rows();
    const float* base = weights.Data();
    for (std::size_t c = 0; c < stride; c += kBlockVectors * kLanes) {
        const float* w = base + c;
        switch (std::min(kBlockVectors, (stride - c) / kLanes)) {
        case 4: ByteRowsBlock<4>(w, stride, rows, x, out + c); break;
        case 3: ByteRowsBlock<3>(w, stride, rows, x, out + c); break;
        case 2: ByteRowsBlock<2>(w, stride, rows, x, out + c); break;
        default: ByteRowsBlock<1>(w, stride, rows, x, out + c); break;
        }
    }
}

// One row of a back-propagation update: c = negEta * (a * x + mu * c); w = w + c.
void UpdateRow(float* w, float* c, const float* a, float x, float negEta, float mu, std::size_t stride)
{
    for (std::size_t v = 0; v < stride; v += kLanes) {
        const TVec change = (Vec(a + v) * x + Vec(c + v) * mu) * negEta;
        Vec(c + v) = change;
        Vec(w + v) = Vec(w + v) + change;
    }
}

// acc[0..stride) += row * x
void AddScaledRow(float* acc, const float* row, float x, std::size_t stride)
{
    for (std::size_t v = 0; v < stride; v += kLanes) Vec(acc + v) += Vec(row + v) * x;
}

bool AllFinite(const TWeightMatrix& weights)
{
    for (std::size_t i = 0; i < weights.Rows(); ++i) {
        const float* row = weights[i];
        for (std::size_t j = 0; j < weights.Columns(); ++j)
            if (!std::isfinite(row[j])) return false;
    }
    return true;
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
      sums_(weights.Stride(), 0.0f)
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
    if (x > 100.0f / slope) return amplitude + offset;
    if (x < -100.0f / slope) return offset;
    return offset + amplitude / (1.0f + std::exp(-slope * x));
}

void TLayer::Forward(const float* x)
{
    AccumulateFloatRows(weights, 0, weights.Rows(), x, nullptr, sums_.data());
    for (std::uint32_t j = 0; j < neuronCount; ++j) outputs[j] = Activation(sums_[j]);
}

void TLayer::ForwardBytes(const std::int8_t* x)
{
    AccumulateByteRows(weights, x, sums_.data());
    for (std::uint32_t j = 0; j < neuronCount; ++j) outputs[j] = Activation(sums_[j]);
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
    changes.reserve(layerCount);
    deltas.reserve(layerCount);
    for (std::size_t k = 0; k < layerCount; ++k) {
        changes.emplace_back(size(k), size(k + 1), 0.0f);
        layers.emplace_back(size(k), size(k + 1), initialRange);
    }
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
      paddedDeltas_(other.paddedDeltas_),
      zeroChangeRow_(other.zeroChangeRow_),
      activeInputs_(other.activeInputs_),
      columnPrefix_(other.columnPrefix_),
      trialOutputs_(other.trialOutputs_),
      rowPrefix_(other.rowPrefix_)
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
      paddedDeltas_(std::move(other.paddedDeltas_)),
      zeroChangeRow_(std::move(other.zeroChangeRow_)),
      activeInputs_(std::move(other.activeInputs_)),
      columnPrefix_(std::move(other.columnPrefix_)),
      trialOutputs_(std::move(other.trialOutputs_)),
      rowPrefix_(std::move(other.rowPrefix_))
{
    PointOutputs();
    other.layers.clear();
    other.changes.clear();
    other.deltas.clear();
    other.layerCount = 0;
    other.outputCount = 0;
    other.PointOutputs();
}

TNeuralNet& TNeuralNet::operator=(const TNeuralNet& other)
{
    if (this != &other) {
        TNeuralNet copy(other);
        *this = std::move(copy);
    }
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
        paddedDeltas_ = std::move(other.paddedDeltas_);
        zeroChangeRow_ = std::move(other.zeroChangeRow_);
        activeInputs_ = std::move(other.activeInputs_);
        columnPrefix_ = std::move(other.columnPrefix_);
        trialOutputs_ = std::move(other.trialOutputs_);
        rowPrefix_ = std::move(other.rowPrefix_);
        PointOutputs();
        other.layers.clear();
        other.changes.clear();
        other.deltas.clear();
        other.layerCount = 0;
        other.outputCount = 0;
        other.PointOutputs();
    }
    return *this;
}

void TNeuralNet::PointOutputs() noexcept
{
    outputs = layers.empty() ? kNoOutputs : layers.back().outputs.data();
}

void TNeuralNet::AllocateScratch()
{
    std::size_t widest = 0;
    paddedDeltas_.clear();
    columnPrefix_.clear();
    trialOutputs_.clear();
    for (const TLayer& layer : layers) {
        const std::size_t stride = layer.weights.Stride();
        widest = std::max(widest, stride);
        paddedDeltas_.emplace_back(stride, 0.0f);
        columnPrefix_.emplace_back(stride, 0.0f);
        engine_detail::TFloatBuffer trial(layer.outputs.size(), 0.0f);
        trial.back() = 1.0f;
        trialOutputs_.push_back(std::move(trial));
    }
    rowPrefix_.assign(widest, 0.0f);
    const std::size_t inputRows = layers.empty() ? 0 : layers[0].weights.Rows();
    // Change rows start at 0.0 (the change layers are built with range 0).
    zeroChangeRow_.assign(inputRows, 1);
    activeInputs_.assign(inputRows, 0);
}

// ---------------------------------------------------------------------------
// TNeuralNet: forward passes, errors, winner

void TNeuralNet::ForwardBytes(const std::int8_t* pattern)
{
    if (layers.empty()) return;
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

float TNeuralNet::ErrorFloat(float* values, float* target)
{
    Forward(values);
    return OutputError(target);
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
    ForwardBytes(pattern);
    BackPropagate(nullptr, pattern, target, nullptr, learningRate, momentum);
}

void TNeuralNet::TrainFloat(float* values, float* target, float learningRate, float momentum)
{
    if (layers.empty()) return;
    for (std::uint32_t i = 0; i < outputCount; ++i) target[i] = target[i] * targetScale + targetOffset;
    Forward(values);
    BackPropagate(values, nullptr, nullptr, target, learningRate, momentum);
}

// The error terms, changes and weight updates of one step, after its forward pass.
// Layer 0's input is either floatInput or bytePattern; the target is byteTarget or floatTarget.
void TNeuralNet::BackPropagate(const float* floatInput, const std::int8_t* bytePattern,
                               const std::int8_t* byteTarget, const float* floatTarget,
                               float learningRate, float momentum)
{
    const std::size_t last = layers.size() - 1;
    const float amplitude = layers[0].amplitude;
    const float offset = layers[0].offset;

    // Output error terms.
    {
        const TLayer& layer = layers[last];
        const float s = layer.slope;
        float* d = deltas[last].data();
        float* padded = paddedDeltas_[last].data();
        for (std::uint32_t i = 0; i < layer.neuronCount; ++i) {
            const float y = layer.outputs[i];
            const float t = byteTarget ? static_cast<float>(byteTarget[i]) : floatTarget[i];
            const float term = (1.0f - y + offset) * (y - offset) * amplitude * s * (y - t);
            d[i] = term;
            padded[i] = term;
        }
    }

    // Hidden error terms, from the weights before this step. Eight rows at a
    // time keep eight independent sums in flight; each is accumulated in order.
    for (std::size_t k = last; k-- > 0;) {
        const TLayer& layer = layers[k];
        const TWeightMatrix& next = layers[k + 1].weights;
        const float* dNext = paddedDeltas_[k + 1].data();
        const std::size_t m = layer.neuronCount;
        const std::size_t mNext = layers[k + 1].neuronCount;
        const float s = layer.slope;
        float* d = deltas[k].data();
        float* padded = paddedDeltas_[k].data();
        for (std::size_t j0 = 0; j0 <= m; j0 += 8) {
            const std::size_t count = std::min<std::size_t>(8, m + 1 - j0);
            float sum[8] = {0, 0, 0, 0, 0, 0, 0, 0};
            const float* rows[8];
            for (std::size_t r = 0; r < 8; ++r) rows[r] = next[j0 + std::min(r, count - 1)];
            for (std::size_t i = 0; i < mNext; ++i) {
                const float di = dNext[i];
                for (std::size_t r = 0; r < 8; ++r) sum[r] += di * rows[r][i];
            }
            for (std::size_t r = 0; r < count; ++r) {
                const std::size_t j = j0 + r;
                const float y = layer.outputs[j];
                const float term = (1.0f - y + offset) * (y - offset) * amplitude * s * sum[r];
                d[j] = term;
                if (j < m) padded[j] = term;
            }
        }
    }

    // Changes and weights, layer by layer. Every error term is known by now,
    // and no later computation of this step reads a weight, so each change is
    // applied as soon as it is computed.
    const float negEta = -learningRate;
    const float keep = 1.0f - momentum;
    const bool noMomentum = momentum == 0.0f;
    for (std::size_t k = 0; k <= last; ++k) {
        TWeightMatrix& w = layers[k].weights;
        TWeightMatrix& c = changes[k].weights;
        const std::size_t stride = w.Stride();
        // a[j] = (1 - mu) * D[j], shared by every row.
        float* a = rowPrefix_.data();
        const float* d = paddedDeltas_[k].data();
        for (std::size_t j = 0; j < stride; ++j) a[j] = keep * d[j];

        if (k == 0 && bytePattern) {
            for (std::size_t i = 0; i < w.Rows(); ++i) {
                const std::int8_t x = bytePattern[i];
                if (x == 0 && noMomentum) {
                    // The change is +-0.0 and the weight stays as it is.
                    if (!zeroChangeRow_[i]) {
                        std::fill_n(c[i], stride, 0.0f);
                        zeroChangeRow_[i] = 1;
                    }
                    continue;
                }
                zeroChangeRow_[i] = 0;
                UpdateRow(w[i], c[i], a, static_cast<float>(x), negEta, momentum, stride);
            }
        } else {
            const float* x = k == 0 ? floatInput : layers[k - 1].outputs.data();
            if (k == 0) std::fill(zeroChangeRow_.begin(), zeroChangeRow_.end(), 0);
            for (std::size_t i = 0; i < w.Rows(); ++i)
                UpdateRow(w[i], c[i], a, x[i], negEta, momentum, stride);
        }
    }
}

// ---------------------------------------------------------------------------
// TNeuralNet: stochastic training

void TNeuralNet::PerturbWeight(std::uint32_t k, std::uint32_t i, std::uint32_t j,
                               const std::int8_t* pattern, const std::int8_t* target, float stepWidth)
{
    // The step is drawn after the first error, as the trial describes; the draw does not depend on it.
    const float before = ErrorBytes(pattern, target);
    const float step = TrialStep(Random15(), stepWidth);
    float& weight = layers[k].weights[i][j];
    weight = weight + step;
    const float after = ErrorBytes(pattern, target);
    if (after > before) weight = weight - step;
}

bool TNeuralNet::StochasticFastPathUsable(float stepWidth) const
{
    if (!std::isfinite(stepWidth)) return false;
    for (const TLayer& layer : layers)
        if (!AllFinite(layer.weights)) return false;
    return true;
}

// The error the network would have with weight [i][j] of layer k set to trialWeight, all
// other weights as they are. The layer outputs hold the forward pass of the current weights
// and currentError its error; columnPrefix_[k] holds, for each neuron of layer k, the sum
// over rows 0..i-1, and rowPrefix_ (when k is not the last layer) the sums of layer k+1 over
// rows 0..j-1. The sums are completed in their original order, so the result equals that of
// a full forward pass. changed is false when the neuron's output does not change at all;
// otherwise trialOutput is its new output and trialOutputs_ hold the later layers' outputs.
float TNeuralNet::EvaluateTrial(std::uint32_t k, std::uint32_t i, std::uint32_t j, float trialWeight,
                                const std::int8_t* pattern, const std::int8_t* target,
                                float currentError, bool& changed, float& trialOutput)
{
    TLayer& layer = layers[k];
    const TWeightMatrix& w = layer.weights;
    float sum;
    if (k == 0) {
        // Only the rows with a non-zero byte; activeInputs_ lists them in order, up to activeCount_.
        sum = columnPrefix_[0][j] + trialWeight * static_cast<float>(pattern[i]);
        for (std::size_t p = activeNext_; p < activeCount_; ++p) {
            const std::uint32_t r = activeInputs_[p];
            sum += w[r][j] * static_cast<float>(pattern[r]);
        }
    } else {
        const float* x = layers[k - 1].outputs.data();
        sum = columnPrefix_[k][j] + trialWeight * x[i];
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

    // Layer k+1: rows 0..j-1 are in rowPrefix_, row j takes the new output, rows j+1.. the current ones.
    {
        TLayer& next = layers[k + 1];
        const TWeightMatrix& wn = next.weights;
        float* sums = next.sums_.data();
        const float* row = wn[j];
        for (std::size_t v = 0; v < wn.Stride(); v += kLanes)
            Vec(sums + v) = Vec(rowPrefix_.data() + v) + Vec(row + v) * y;
        AccumulateFloatRows(wn, static_cast<std::size_t>(j) + 1, wn.Rows(), layer.outputs.data(), sums,
                            sums);
        float* out = trialOutputs_[k + 1].data();
        for (std::uint32_t l = 0; l < next.neuronCount; ++l) out[l] = next.Activation(sums[l]);
    }
    // Any later layers: full passes over the trial outputs.
    for (std::size_t q = k + 2; q <= last; ++q) {
        TLayer& layerQ = layers[q];
        float* sums = layerQ.sums_.data();
        AccumulateFloatRows(layerQ.weights, 0, layerQ.weights.Rows(), trialOutputs_[q - 1].data(), nullptr,
                            sums);
        float* out = trialOutputs_[q].data();
        for (std::uint32_t l = 0; l < layerQ.neuronCount; ++l) out[l] = layerQ.Activation(sums[l]);
    }
    float error = 0.0f;
    const float* out = trialOutputs_[last].data();
    for (std::uint32_t l = 0; l < outputCount; ++l) error += std::fabs(out[l] - static_cast<float>(target[l]));
    return error;
}

// Makes the last evaluated trial (a changed one) the current state of the layer outputs.
void TNeuralNet::CommitTrial(std::uint32_t k, std::uint32_t j, float trialOutput)
{
    layers[k].outputs[j] = trialOutput;
    for (std::size_t q = static_cast<std::size_t>(k) + 1; q < layers.size(); ++q)
        std::copy_n(trialOutputs_[q].data(), layers[q].neuronCount, layers[q].outputs.data());
}

// One pass of trials with the current state kept incrementally: the outputs of every layer
// for the current weights, the error they give, and the running prefix sums described at
// EvaluateTrial. Returns false when a weight became infinite or NaN, after which the exact
// shortcuts no longer hold; resumeK/I/J is then the next trial, still to be made.
bool TNeuralNet::FastStochasticPass(const std::int8_t* pattern, const std::int8_t* target,
                                    float stepWidth, std::uint32_t& resumeK, std::uint32_t& resumeI,
                                    std::uint32_t& resumeJ)
{
    ForwardBytes(pattern);
    float error = CurrentError(target);

    const std::size_t inputRows = layers[0].weights.Rows();
    activeCount_ = 0;
    for (std::size_t i = 0; i < inputRows; ++i)
        if (pattern[i] != 0) activeInputs_[activeCount_++] = static_cast<std::uint32_t>(i);

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
        const std::size_t rows = w.Rows();
        const std::size_t stride = w.Stride();
        const bool hasNext = k + 1 < layers.size();
        const TWeightMatrix* nextWeights = hasNext ? &layers[k + 1].weights : nullptr;
        const std::size_t nextStride = hasNext ? nextWeights->Stride() : 0;
        float* columnPrefix = columnPrefix_[k].data();
        std::fill_n(columnPrefix, stride, 0.0f);
        const float* x = k == 0 ? nullptr : layers[k - 1].outputs.data();
        activeNext_ = 0;

        for (std::uint32_t i = 0; i < rows; ++i) {
            const float xi = k == 0 ? static_cast<float>(pattern[i]) : x[i];
            if (k == 0 && activeNext_ < activeCount_ && activeInputs_[activeNext_] == i) ++activeNext_;
            if (hasNext) std::fill_n(rowPrefix_.data(), nextStride, 0.0f);

            for (std::uint32_t j = 0; j < m; ++j) {
                const float step = TrialStep(Random15(), stepWidth);
                float& weight = w[i][j];
                const float old = weight;
                const float trial = old + step;
                if (!std::isfinite(trial)) {
                    LiteralTrial(k, i, j, pattern, target, step);
                    resumeK = k;
                    resumeI = i;
                    resumeJ = j + 1;
                    return false;
                }
                if (xi != 0.0f) {
                    bool changed = false;
                    float y = 0.0f;
                    const float trialError = EvaluateTrial(k, i, j, trial, pattern, target, error, changed, y);
                    if (!changed) {
                        weight = trial;  // nothing moves: the error stays, the trial stays
                    } else if (trialError > error) {
                        const float undone = trial - step;
                        weight = undone;
                        if (k == finalLayer && i + 1 == rows && j + 1 == m) {
                            CommitTrial(k, j, y);
                            return true;
                        }
                        if (!SameBits(undone, old)) {
                            // Adding and subtracting the step did not give the weight back.
                            if (!std::isfinite(undone)) {
                                resumeK = k;
                                resumeI = i;
                                resumeJ = j + 1;
                                return false;
                            }
                            bool changedBack = false;
                            float yBack = 0.0f;
                            error = EvaluateTrial(k, i, j, undone, pattern, target, error, changedBack, yBack);
                            if (changedBack) CommitTrial(k, j, yBack);
                        }
                    } else {
                        weight = trial;
                        error = trialError;
                        CommitTrial(k, j, y);
                    }
                } else {
                    weight = trial;  // an input of 0 cannot change any output
                }
                if (hasNext) AddScaledRow(rowPrefix_.data(), (*nextWeights)[j], layer.outputs[j], nextStride);
            }
            if (xi != 0.0f) AddScaledRow(columnPrefix, w[i], xi, stride);
        }
    }
    return true;
}

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
    std::uint32_t k0 = 0, i0 = 0, j0 = 0;
    if (StochasticFastPathUsable(stepWidth) && FastStochasticPass(pattern, target, stepWidth, k0, i0, j0))
        return;
    // The literal algorithm, from trial (k0, i0, j0) on.
    for (std::uint32_t k = k0; k < layers.size(); ++k) {
        const TWeightMatrix& w = layers[k].weights;
        for (std::size_t i = k == k0 ? i0 : 0; i < w.Rows(); ++i) {
            for (std::size_t j = (k == k0 && i == i0) ? j0 : 0; j < w.Columns(); ++j)
                PerturbWeight(k, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j), pattern, target,
                              stepWidth);
        }
    }
}
