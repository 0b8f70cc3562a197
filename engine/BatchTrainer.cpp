#include "engine/BatchTrainer.h"

#include "engine/BatchKernels.h"
#include "engine/Exp.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

using engine_kernels::kSampleBlock;

constexpr std::size_t kLanes = TWeightMatrix::kLanes;

std::size_t RoundUp(std::size_t n, std::size_t to)
{
    return (n + to - 1) / to * to;
}

// Part `part` of [0, total) split in `parts` at multiples of quantum.
void SplitRange(std::size_t total, std::size_t quantum, unsigned part, unsigned parts, std::size_t& begin,
                std::size_t& end)
{
    const std::size_t units = (total + quantum - 1) / quantum;
    begin = std::min(total, units * part / parts * quantum);
    end = std::min(total, units * (part + 1) / parts * quantum);
}

// flags[0..n) = whether x[0..n) != 0, left to right.
void Compact(const std::uint8_t* flags, std::size_t n, std::uint32_t* list, std::uint32_t& count)
{
    std::uint32_t c = 0;
    for (std::size_t i = 0; i < n; ++i) {
        list[c] = static_cast<std::uint32_t>(i);
        c += flags[i];
    }
    count = c;
}

// The lists of rows < rows with a non-zero x[s][row] for some sample s of each block of kSampleBlock;
// flags holds rows bytes.
void ListRows(const float* x, std::size_t stride, std::size_t rows, std::size_t count, std::uint32_t* lists,
              std::uint32_t* counts, std::uint8_t* flags)
{
    for (std::size_t b = 0; b * kSampleBlock < count; ++b) {
        const std::size_t s0 = b * kSampleBlock, s1 = std::min(count, s0 + kSampleBlock);
        std::fill_n(flags, rows, std::uint8_t{0});
        for (std::size_t s = s0; s < s1; ++s) {
            const float* xs = x + s * stride;
            for (std::size_t i = 0; i < rows; ++i) flags[i] |= static_cast<std::uint8_t>(xs[i] != 0.0f);
        }
        Compact(flags, rows, lists + b * rows, counts[b]);
    }
}

// The lists of samples s < count with a non-zero x[s][i] in some row i < rows of each block of
// kSampleBlock rows; flags holds count bytes for each block.
void ListSamples(const float* x, std::size_t stride, std::size_t rows, std::size_t count, std::size_t listStride,
                 std::uint32_t* lists, std::uint32_t* counts, std::uint8_t* flags)
{
    const std::size_t blocks = (rows + kSampleBlock - 1) / kSampleBlock, whole = rows / kSampleBlock;
    for (std::size_t s = 0; s < count; ++s) {
        const float* xs = x + s * stride;
        for (std::size_t b = 0; b < whole; ++b) {
            const float* q = xs + b * kSampleBlock;
            flags[b * count + s] = (q[0] != 0.0f) | (q[1] != 0.0f) | (q[2] != 0.0f) | (q[3] != 0.0f);
        }
        if (whole < blocks) {
            bool any = false;
            for (std::size_t i = whole * kSampleBlock; i < rows; ++i) any |= xs[i] != 0.0f;
            flags[whole * count + s] = any;
        }
    }
    for (std::size_t b = 0; b < blocks; ++b) Compact(flags + b * count, count, lists + b * listStride, counts[b]);
}

// w transposed: t[j][i] = w[i][j] for rows i < rows and columns j in [c0, c1), in tiles that keep the
// reads and writes of both within a few cache lines.
void Transpose(const TWeightMatrix& w, std::size_t rows, std::size_t c0, std::size_t c1, float* t,
               std::size_t tStride)
{
    constexpr std::size_t kTile = 16;
    for (std::size_t i0 = 0; i0 < rows; i0 += kTile)
        for (std::size_t j = c0; j < c1; ++j) {
            float* out = t + j * tStride;
            for (std::size_t i = i0; i < std::min(rows, i0 + kTile); ++i) out[i] = w[i][j];
        }
}

engine_kernels::TBatchUnit BatchUnit(TUnitKind kind)
{
    switch (kind) {
    case TUnitKind::Tanh: return engine_kernels::TBatchUnit::Tanh;
    case TUnitKind::Relu: return engine_kernels::TBatchUnit::Relu;
    default: return engine_kernels::TBatchUnit::Logistic;
    }
}

engine_kernels::TActivation ActivationOf(const TLayer& layer)
{
    const float limit = layer.slope == 1.0f ? 100.0f : 100.0f / layer.slope;
    return {limit, -limit, -layer.slope, layer.amplitude, layer.offset, engine_detail::ChosenExp()};
}

// The settings of this step's update (Adam's count of steps goes up by one).
engine_kernels::TUpdate UpdateOf(const TOptimiserSettings& settings, std::uint64_t adamSteps)
{
    engine_kernels::TUpdate u{};
    u.adam = settings.kind == TOptimiserKind::Adam;
    if (u.adam) {
        const double t = static_cast<double>(adamSteps);
        u.b1 = settings.beta1;
        u.c1 = 1.0f - settings.beta1;
        u.b2 = settings.beta2;
        u.c2 = 1.0f - settings.beta2;
        const double correction1 = 1.0 - std::pow(static_cast<double>(settings.beta1), t);
        const double correction2 = 1.0 - std::pow(static_cast<double>(settings.beta2), t);
        u.negStep = static_cast<float>(-(static_cast<double>(settings.rate) / correction1));
        u.rs = static_cast<float>(1.0 / std::sqrt(correction2));
        u.eps = settings.epsilon;
        u.l2 = settings.l2;
    } else {
        u.mu = settings.momentum;
        u.negEta = -settings.rate;
        u.l2 = (1.0f - settings.momentum) * settings.l2;
    }
    return u;
}

} // namespace

TBatchTrainer::TBatchTrainer(TNeuralNet& net, const TOptimiserSettings& settings) : net_(net), settings_(settings)
{
    if (net.layers.empty() || !ValidKinds(net))
        throw std::invalid_argument("the network has no layers, or its unit kinds do not fit it");
    if (settings.batch == 0 || (settings.threads != 1 && settings.threads != 2))
        throw std::invalid_argument("the batch must hold a sample, and one or two threads do the work");
    const std::size_t batch = settings.batch;
    const std::size_t blocks = (batch + kSampleBlock - 1) / kSampleBlock;
    xStride_ = RoundUp(net.layers[0].weights.Rows(), kLanes);
    x_.assign(batch * xStride_, 0.0f);
    const bool adam = settings.kind == TOptimiserKind::Adam;
    layers_.resize(net.layers.size());
    for (std::size_t k = 0; k < layers_.size(); ++k) {
        const TLayer& layer = net.layers[k];
        TLayerWork& work = layers_[k];
        work.kind = layer.kind;
        work.rows = layer.weights.Rows();
        work.units = layer.neuronCount;
        work.stride = layer.weights.Stride();
        work.outStride = RoundUp(work.units + 1, kLanes);
        work.y.assign(batch * work.outStride, 0.0f);
        work.d.assign(batch * work.stride, 0.0f);
        if (!adam && settings.momentum != 0.0f) work.factors.assign(batch * work.stride, 0.0f);
        if (k > 0) work.wt.assign(work.units * layers_[k - 1].stride, 0.0f);
        work.inputRows.assign(blocks * work.rows, 0);
        work.inputCounts.assign(blocks, 0);
        work.termRows.assign(blocks * work.units, 0);
        work.termCounts.assign(blocks, 0);
        work.gradientSamples.assign((work.rows + kSampleBlock - 1) / kSampleBlock * batch, 0);
        work.gradientCounts.assign((work.rows + kSampleBlock - 1) / kSampleBlock, 0);
        if (adam) {
            work.m = TWeightMatrix(work.rows, work.units);
            work.v = TWeightMatrix(work.rows, work.units);
        }
    }
    std::size_t flags = 0;
    for (const TLayerWork& work : layers_) flags = std::max(flags, work.gradientSamples.size() + work.rows);
    flags_.assign(flags, 0);
    workers_ = std::make_unique<TWorkerPair>(settings.threads);
}

TBatchTrainer::~TBatchTrainer() = default;

const float* TBatchTrainer::Inputs(std::size_t k, std::size_t& stride) const
{
    if (k == 0) {
        stride = xStride_;
        return x_.data();
    }
    stride = layers_[k - 1].outStride;
    return layers_[k - 1].y.data();
}

const float* TBatchTrainer::Outputs(std::size_t s) const
{
    const TLayerWork& last = layers_.back();
    return last.y.data() + s * last.outStride;
}

// The patterns' bytes as floats, once per batch.
void TBatchTrainer::ConvertInputs(const std::int8_t* const* patterns, std::size_t count)
{
    const std::size_t rows = layers_[0].rows;
    for (std::size_t s = 0; s < count; ++s) {
        float* x = x_.data() + s * xStride_;
        for (std::size_t i = 0; i < rows; ++i) x[i] = static_cast<float>(patterns[s][i]);
    }
}

void TBatchTrainer::Forward(const std::int8_t* const* patterns, std::size_t count)
{
    ConvertInputs(patterns, count);
    ForwardPass(count, false);
}

// Layer by layer: the sums and the units of each part's columns on its own thread (softmax, which needs a
// whole row, after both); in a training step each part also writes its columns of the weights transposed,
// as the back sums of the step read them.
void TBatchTrainer::ForwardPass(std::size_t count, bool training)
{
    const engine_kernels::TBatchKernels& kernels = engine_kernels::ActiveBatch();
    for (std::size_t k = 0; k < layers_.size(); ++k) {
        TLayerWork& layer = layers_[k];
        const TLayer& net = net_.layers[k];
        std::size_t xStride = 0;
        const float* x = Inputs(k, xStride);
        ListRows(x, xStride, layer.rows, count, layer.inputRows.data(), layer.inputCounts.data(), flags_.data());
        const engine_kernels::TRowLists lists{layer.inputRows.data(), layer.inputCounts.data(), layer.rows};
        const engine_kernels::TActivation activation = ActivationOf(net);
        const std::size_t previousStride = k > 0 ? layers_[k - 1].stride : 0;
        auto part = [&](unsigned p) {
            std::size_t c0, c1;
            SplitRange(layer.stride, 2 * kLanes, p, workers_->Parts(), c0, c1);
            if (c0 == c1) return;
            kernels.outerSums(x, xStride, count, lists, net.weights.Data(), layer.stride, c0, c1, layer.y.data(),
                              layer.outStride);
            if (layer.kind != TUnitKind::Softmax)
                kernels.activateColumns(BatchUnit(layer.kind), activation, layer.y.data(), layer.outStride, count,
                                        c0, c1);
            if (!training || k == 0) return;
            Transpose(net.weights, layer.rows - 1, c0, std::min(c1, layer.units), layer.wt.data(), previousStride);
        };
        workers_->Run(part);
        if (layer.kind == TUnitKind::Softmax) Softmax(layer, count);
        for (std::size_t s = 0; s < count; ++s) layer.y[s * layer.outStride + layer.units] = 1.0f;
    }
}

// Row by row: the first greatest sum, e^(z - max) with the library's exponential, their sum in order, and
// each divided by the sum.
void TBatchTrainer::Softmax(TLayerWork& layer, std::size_t count)
{
    for (std::size_t s = 0; s < count; ++s) {
        float* y = layer.y.data() + s * layer.outStride;
        float top = y[0];
        for (std::size_t j = 1; j < layer.units; ++j) top = y[j] > top ? y[j] : top;
        float sum = 0.0f;
        for (std::size_t j = 0; j < layer.units; ++j) {
            y[j] = std::exp(y[j] - top);
            sum += y[j];
        }
        for (std::size_t j = 0; j < layer.units; ++j) y[j] = y[j] / sum;
    }
}

void TBatchTrainer::Step(const std::int8_t* const* patterns, const std::int8_t* const* targets, std::size_t count)
{
    ConvertInputs(patterns, count);
    ForwardPass(count, true);
    OutputTerms(targets, count);
    BackwardAndUpdate(count);
}

// The output layer's error terms (engine/BatchTrainer.h), 0.0 beyond the units, and the batch's mean loss.
void TBatchTrainer::OutputTerms(const std::int8_t* const* targets, std::size_t count)
{
    TLayerWork& layer = layers_.back();
    const TLayer& net = net_.layers.back();
    const float a = net_.layers[0].amplitude, o = net_.layers[0].offset, slope = net.slope;
    const float batch = static_cast<float>(count);
    double loss = 0.0;
    for (std::size_t s = 0; s < count; ++s) {
        const float* y = layer.y.data() + s * layer.outStride;
        float* d = layer.d.data() + s * layer.stride;
        for (std::size_t j = 0; j < layer.units; ++j) {
            const float t = static_cast<float>(targets[s][j]);
            float term;
            switch (layer.kind) {
            case TUnitKind::Softmax: term = y[j] - t; break;
            case TUnitKind::Tanh: term = (1.0f - y[j] * y[j]) * (y[j] - t); break;
            case TUnitKind::Relu: term = y[j] > 0.0f ? y[j] - t : 0.0f; break;
            default: term = (1.0f - y[j] + o) * (y[j] - o) * a * slope * (y[j] - t); break;
            }
            d[j] = term / batch;
            const double e = static_cast<double>(y[j]) - t;
            loss += layer.kind == TUnitKind::Softmax ? (t != 0.0f ? -t * std::log(static_cast<double>(y[j])) : 0.0)
                                                     : 0.5 * e * e;
        }
        for (std::size_t j = layer.units; j < layer.stride; ++j) d[j] = 0.0f;
    }
    loss_ = loss / static_cast<double>(count);
}

// Error terms of hidden layer k, in place over its back sums, for columns [c0, c1); 0.0 beyond the units.
void TBatchTrainer::HiddenTerms(std::size_t k, std::size_t count, std::size_t c0, std::size_t c1)
{
    TLayerWork& layer = layers_[k];
    const float a = net_.layers[0].amplitude, o = net_.layers[0].offset, slope = net_.layers[k].slope;
    const std::size_t units = std::min(c1, layer.units);
    for (std::size_t s = 0; s < count; ++s) {
        const float* y = layer.y.data() + s * layer.outStride;
        float* d = layer.d.data() + s * layer.stride;
        switch (layer.kind) {
        case TUnitKind::Tanh:
            for (std::size_t j = c0; j < units; ++j) d[j] = (1.0f - y[j] * y[j]) * d[j];
            break;
        case TUnitKind::Relu:
            for (std::size_t j = c0; j < units; ++j) d[j] = y[j] > 0.0f ? d[j] : 0.0f;
            break;
        default:
            for (std::size_t j = c0; j < units; ++j) d[j] = (1.0f - y[j] + o) * (y[j] - o) * a * slope * d[j];
            break;
        }
        for (std::size_t j = std::max(c0, layer.units); j < c1; ++j) d[j] = 0.0f;
    }
}

// From the output layer down: in one run of both parts, the back sums and error terms of layer k-1 (split
// by its columns) and the update of layer k (split by rows), which are independent: the back sums read the
// weights as transposed before the step.
void TBatchTrainer::BackwardAndUpdate(std::size_t count)
{
    const engine_kernels::TBatchKernels& kernels = engine_kernels::ActiveBatch();
    const bool adam = settings_.kind == TOptimiserKind::Adam;
    if (adam) ++adamSteps_;
    engine_kernels::TUpdate u = UpdateOf(settings_, adamSteps_);
    const float keep = 1.0f - settings_.momentum;
    for (std::size_t k = layers_.size(); k-- > 0;) {
        TLayerWork& layer = layers_[k];
        TWeightMatrix& w = net_.layers[k].weights;
        u.l2Rows = layer.rows - 1;
        const float* d = layer.d.data();
        if (!layer.factors.empty()) {
            for (std::size_t e = 0; e < count * layer.stride; ++e) layer.factors[e] = keep * layer.d[e];
            d = layer.factors.data();
        }
        float* s1 = adam ? layer.m.Data() : net_.changes[k].weights.Data();
        float* s2 = adam ? layer.v.Data() : nullptr;
        std::size_t xStride = 0;
        const float* x = Inputs(k, xStride);
        if (k > 0)
            ListRows(layer.d.data(), layer.stride, layer.units, count, layer.termRows.data(), layer.termCounts.data(),
                     flags_.data());
        const engine_kernels::TRowLists terms{layer.termRows.data(), layer.termCounts.data(), layer.units};
        const std::size_t batch = settings_.batch;
        ListSamples(x, xStride, layer.rows, count, batch, layer.gradientSamples.data(), layer.gradientCounts.data(),
                    flags_.data());
        const engine_kernels::TRowLists samples{layer.gradientSamples.data(), layer.gradientCounts.data(), batch};
        auto part = [&](unsigned p) {
            const unsigned parts = workers_->Parts();
            if (k > 0) {
                TLayerWork& below = layers_[k - 1];
                std::size_t c0, c1;
                SplitRange(below.stride, 2 * kLanes, p, parts, c0, c1);
                if (c0 != c1) {
                    kernels.outerSums(layer.d.data(), layer.stride, count, terms, layer.wt.data(), below.stride, c0,
                                      c1, below.d.data(), below.stride);
                    HiddenTerms(k - 1, count, c0, c1);
                }
            }
            std::size_t r0, r1;
            SplitRange(layer.rows, kSampleBlock, p, parts, r0, r1);
            if (r0 != r1)
                kernels.gradientUpdate(x, xStride, d, layer.stride, samples, r0, r1, w.Data(), s1, s2, layer.stride, u);
        };
        workers_->Run(part);
    }
}
