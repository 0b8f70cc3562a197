#include "project/SeriesHeldOut.h"

#include "project/SeriesMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double NotANumber = std::numeric_limits<double>::quiet_NaN();

// The largest fit made: the unknowns' matrix is at most MaxUnknowns squared
// doubles, and gathering and solving take at most MaxFitWork multiply-adds.
constexpr std::size_t MaxUnknowns = 2048;
constexpr double MaxFitWork = 4e9;

// Sums |forecast - value| over the held-out points, as a mean in the
// file's units.
class TMeanError {
public:
    explicit TMeanError(double unit)
        : unit_(unit)
    {
    }
    void Add(double forecast, float value)
    {
        sum_ += std::fabs(forecast - static_cast<double>(value));
        ++points_;
    }
    double Mean() const { return points_ == 0 ? NotANumber : sum_ / static_cast<double>(points_) * unit_; }

private:
    double unit_;
    double sum_ = 0.0;
    std::uint64_t points_ = 0;
};

// Solves the symmetric positive definite system a x = b in place by
// Cholesky's method; false when a pivot is not positive.
bool SolveCholesky(std::vector<double>& a, std::vector<double>& b, std::size_t size, const TCancel* cancel)
{
    for (std::size_t j = 0; j < size; ++j) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            return false;
        double pivot = a[j * size + j];
        for (std::size_t k = 0; k < j; ++k)
            pivot -= a[j * size + k] * a[j * size + k];
        if (!(pivot > 0.0))
            return false;
        const double root = std::sqrt(pivot);
        a[j * size + j] = root;
        for (std::size_t i = j + 1; i < size; ++i) {
            double sum = a[i * size + j];
            for (std::size_t k = 0; k < j; ++k)
                sum -= a[i * size + k] * a[j * size + k];
            a[i * size + j] = sum / root;
        }
    }
    for (std::size_t i = 0; i < size; ++i) {
        double sum = b[i];
        for (std::size_t k = 0; k < i; ++k)
            sum -= a[i * size + k] * b[k];
        b[i] = sum / a[i * size + i];
    }
    for (std::size_t i = size; i-- > 0;) {
        double sum = b[i];
        for (std::size_t k = i + 1; k < size; ++k)
            sum -= a[k * size + i] * b[k];
        b[i] = sum / a[i * size + i];
    }
    return true;
}

} // namespace

std::uint32_t HeldOutStart(std::uint32_t trainLength, std::uint32_t windowSize)
{
    return std::max({trainLength, windowSize, 1u});
}

double TAutoregression::Predict(const float* window) const
{
    double sum = intercept;
    for (std::size_t k = 0; k < weights.size(); ++k)
        sum += weights[k] * static_cast<double>(window[k]);
    return sum;
}

namespace {

// Whether the fit of this shape is worth doing: enough targets for the
// unknowns, and not more than MaxUnknowns of them nor MaxFitWork.
bool FitPossible(std::uint32_t count, std::uint32_t trainLength, std::uint32_t windowSize)
{
    const std::uint32_t end = std::min(trainLength, count);
    const std::size_t unknowns = static_cast<std::size_t>(windowSize) + 1;
    if (end <= windowSize || end - windowSize < unknowns || unknowns > MaxUnknowns)
        return false;
    const double rows = end - windowSize;
    const double n = static_cast<double>(unknowns);
    return rows * n + n * n * n / 6.0 <= MaxFitWork;
}

// The normal equations of the fit, over the columns: the window's values,
// then 1. With n = end - w targets and s = t - w, entry (i, k) of the
// window's columns is the sum over s < n of x[s+i] x[s+k], and the right
// side of column i the sum of x[s+i] x[s+w]: all of them sums of lagged
// products, so the first row of lags is gathered over the targets and every
// further entry follows along its diagonal, (i+1, k+1) being (i, k) less
// the product that leaves at the front and plus the one that comes at the
// end. Work: n (w + 1) for the first row, w^2 / 2 for the rest.
bool NormalEquations(const float* x, std::uint32_t end, std::uint32_t windowSize, std::vector<double>& gram,
                     std::vector<double>& right, const TCancel* cancel)
{
    const std::size_t w = windowSize;
    const std::size_t unknowns = w + 1;
    const std::size_t n = end - windowSize;
    // h[i][k], i <= k <= w: the sum over s < n of x[s+i] x[s+k]; column w is
    // the target.
    std::vector<double> h(unknowns * unknowns, 0.0);
    constexpr std::size_t chunk = 4096;
    for (std::size_t s0 = 0; s0 < n; s0 += chunk) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            return false;
        const std::size_t s1 = std::min(n, s0 + chunk);
        for (std::size_t d = 0; d <= w; ++d) {
            double sum = 0.0;
            for (std::size_t s = s0; s < s1; ++s)
                sum += static_cast<double>(x[s]) * static_cast<double>(x[s + d]);
            h[d] += sum;
        }
    }
    for (std::size_t i = 1; i <= w; ++i)
        for (std::size_t k = i; k <= w; ++k)
            h[i * unknowns + k] = h[(i - 1) * unknowns + (k - 1)] -
                                  static_cast<double>(x[i - 1]) * static_cast<double>(x[k - 1]) +
                                  static_cast<double>(x[n + i - 1]) * static_cast<double>(x[n + k - 1]);
    // The sums of each column: x[s+i] over s < n, one after the other.
    std::vector<double> sums(unknowns, 0.0);
    for (std::size_t s = 0; s < n; ++s)
        sums[0] += x[s];
    for (std::size_t i = 1; i <= w; ++i)
        sums[i] = sums[i - 1] - static_cast<double>(x[i - 1]) + static_cast<double>(x[n + i - 1]);

    gram.assign(unknowns * unknowns, 0.0);
    right.assign(unknowns, 0.0);
    for (std::size_t i = 0; i < w; ++i) {
        for (std::size_t k = i; k < w; ++k)
            gram[i * unknowns + k] = gram[k * unknowns + i] = h[i * unknowns + k];
        gram[i * unknowns + w] = gram[w * unknowns + i] = sums[i];
        right[i] = h[i * unknowns + w];
    }
    gram[w * unknowns + w] = static_cast<double>(n);
    right[w] = sums[w];
    return true;
}

std::optional<TAutoregression> Solve(const std::vector<double>& gram, const std::vector<double>& right,
                                     std::uint32_t windowSize, const TCancel* cancel)
{
    const std::size_t unknowns = static_cast<std::size_t>(windowSize) + 1;
    double trace = 0.0;
    for (std::size_t i = 0; i < unknowns; ++i)
        trace += gram[i * unknowns + i];
    // The intercept's column alone makes the trace at least the number of rows.
    for (double ridge = trace / static_cast<double>(unknowns) * 1e-12; ridge < trace; ridge *= 1000.0) {
        std::vector<double> a = gram;
        std::vector<double> b = right;
        for (std::size_t i = 0; i < unknowns; ++i)
            a[i * unknowns + i] += ridge;
        if (SolveCholesky(a, b, unknowns, cancel)) {
            TAutoregression fit;
            fit.intercept = b[windowSize];
            fit.weights.assign(b.begin(), b.begin() + windowSize);
            return fit;
        }
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            break;
    }
    return std::nullopt;
}

// The autoregression's two held-out errors.
THeldOutErrors AutoregressionErrors(const TAutoregression& fit, const float* values, std::uint32_t count,
                                    std::uint32_t trainLength, std::uint32_t windowSize, double unit)
{
    const std::uint32_t start = HeldOutStart(trainLength, windowSize);
    TMeanError oneStep(unit), closed(unit);
    std::vector<float> reproduction(values, values + count);
    std::vector<float> window(windowSize);
    for (std::uint32_t i = start; i < count; ++i) {
        oneStep.Add(fit.Predict(values + (i - windowSize)), values[i]);
        for (std::uint32_t o = 0; o < windowSize; ++o) {
            const std::uint32_t point = i - windowSize + o;
            window[o] = point < trainLength ? values[point] : reproduction[point];
        }
        reproduction[i] = static_cast<float>(fit.Predict(window.data()));
        closed.Add(reproduction[i], values[i]);
    }
    return {oneStep.Mean(), closed.Mean(), count > start ? count - start : 0};
}

} // namespace

std::optional<TAutoregression> FitAutoregression(const float* values, std::uint32_t count,
                                                 std::uint32_t trainLength, std::uint32_t windowSize,
                                                 const TCancel* cancel)
{
    if (!FitPossible(count, trainLength, windowSize))
        return std::nullopt;
    std::vector<double> gram, right;
    if (!NormalEquations(values, std::min(trainLength, count), windowSize, gram, right, cancel))
        return std::nullopt;
    return Solve(gram, right, windowSize, cancel);
}

TSeriesBaselines SeriesBaselines(const float* values, std::uint32_t count, std::uint32_t trainLength,
                                 std::uint32_t windowSize, double unit, const TCancel* cancel)
{
    TSeriesBaselines baselines;
    const std::uint32_t start = HeldOutStart(trainLength, windowSize);
    const std::uint32_t points = count > start ? count - start : 0;
    TMeanError naiveOneStep(unit), naiveClosed(unit);
    for (std::uint32_t i = start; i < count; ++i) {
        naiveOneStep.Add(values[i - 1], values[i]);
        naiveClosed.Add(values[start - 1], values[i]);
    }
    baselines.naive = {naiveOneStep.Mean(), naiveClosed.Mean(), points};
    baselines.autoregression = {NotANumber, NotANumber, points};
    if (const std::optional<TAutoregression> fit = FitAutoregression(values, count, trainLength, windowSize, cancel)) {
        baselines.fitted = true;
        baselines.autoregression = AutoregressionErrors(*fit, values, count, trainLength, windowSize, unit);
    }
    return baselines;
}

TBaselineJob::TBaselineJob(const float* values, std::uint32_t count, std::uint32_t trainLength,
                           std::uint32_t windowSize, double unit)
    : values_(values, values + count)
{
    thread_ = std::thread([this, count, trainLength, windowSize, unit] {
        result_ = SeriesBaselines(values_.data(), count, trainLength, windowSize, unit, &cancel_);
        done_.store(true, std::memory_order_release);
    });
}

TBaselineJob::~TBaselineJob()
{
    if (thread_.joinable()) {
        cancel_.store(true, std::memory_order_relaxed);
        thread_.join();
    }
}

const TSeriesBaselines* TBaselineJob::Result() const
{
    return done_.load(std::memory_order_acquire) && !cancel_.load(std::memory_order_relaxed) ? &result_ : nullptr;
}

const TSeriesBaselines& TBaselineJob::Wait()
{
    if (thread_.joinable())
        thread_.join();
    return result_;
}

THeldOutErrors NetworkHeldOutErrors(TNeuralNet& net, const float* values, std::uint32_t count,
                                    std::uint32_t trainLength, std::uint32_t windowSize, double unit,
                                    float* windowInputs, float* reproduction)
{
    const std::uint32_t start = HeldOutStart(trainLength, windowSize);
    THeldOutErrors errors;
    errors.points = count > start ? count - start : 0;

    TMeanError oneStep(unit);
    windowInputs[windowSize] = 1.0f;
    for (std::uint32_t i = start; i < count; ++i) {
        std::memcpy(windowInputs, values + (i - windowSize), windowSize * sizeof(float));
        net.Forward(windowInputs);
        oneStep.Add(net.outputs[0], values[i]);
    }
    errors.oneStep = oneStep.Mean();

    ReproduceSeries(net, values, count, trainLength, windowSize, false, windowInputs, reproduction);
    TMeanError closed(unit);
    for (std::uint32_t i = start; i < count; ++i)
        closed.Add(reproduction[i], values[i]);
    errors.closedLoop = closed.Mean();
    return errors;
}
