#include "project/SeriesHeldOut.h"

#include "project/SeriesMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double NotANumber = std::numeric_limits<double>::quiet_NaN();

// The largest fit worth its time: multiply-adds of the normal equations.
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
bool SolveCholesky(std::vector<double>& a, std::vector<double>& b, std::size_t size)
{
    for (std::size_t j = 0; j < size; ++j) {
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

std::optional<TAutoregression> FitAutoregression(const float* values, std::uint32_t count,
                                                 std::uint32_t trainLength, std::uint32_t windowSize)
{
    const std::uint32_t end = std::min(trainLength, count);
    const std::size_t unknowns = static_cast<std::size_t>(windowSize) + 1;
    if (end <= windowSize || end - windowSize < unknowns)
        return std::nullopt;
    const std::size_t rows = end - windowSize;
    if (static_cast<double>(rows) * static_cast<double>(unknowns) * static_cast<double>(unknowns) / 2.0
        > MaxFitWork)
        return std::nullopt;

    // Normal equations over the columns: the window's values, then 1.
    std::vector<double> gram(unknowns * unknowns, 0.0);
    std::vector<double> right(unknowns, 0.0);
    std::vector<double> row(unknowns);
    for (std::size_t t = windowSize; t < end; ++t) {
        for (std::size_t k = 0; k < windowSize; ++k)
            row[k] = values[t - windowSize + k];
        row[windowSize] = 1.0;
        const double target = values[t];
        for (std::size_t i = 0; i < unknowns; ++i) {
            right[i] += row[i] * target;
            for (std::size_t k = 0; k <= i; ++k)
                gram[i * unknowns + k] += row[i] * row[k];
        }
    }
    double trace = 0.0;
    for (std::size_t i = 0; i < unknowns; ++i) {
        trace += gram[i * unknowns + i];
        for (std::size_t k = 0; k < i; ++k)
            gram[k * unknowns + i] = gram[i * unknowns + k];
    }
    // The intercept's column alone makes the trace at least `rows`.
    for (double ridge = trace / static_cast<double>(unknowns) * 1e-12; ridge < trace; ridge *= 1000.0) {
        std::vector<double> a = gram;
        std::vector<double> b = right;
        for (std::size_t i = 0; i < unknowns; ++i)
            a[i * unknowns + i] += ridge;
        if (SolveCholesky(a, b, unknowns)) {
            TAutoregression fit;
            fit.intercept = b[windowSize];
            fit.weights.assign(b.begin(), b.begin() + windowSize);
            return fit;
        }
    }
    return std::nullopt;
}

TSeriesBaselines SeriesBaselines(const float* values, std::uint32_t count, std::uint32_t trainLength,
                                 std::uint32_t windowSize, double unit)
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
    const std::optional<TAutoregression> fit = FitAutoregression(values, count, trainLength, windowSize);
    if (!fit)
        return baselines;
    baselines.fitted = true;
    TMeanError oneStep(unit), closed(unit);
    std::vector<float> reproduction(values, values + count);
    std::vector<float> window(windowSize);
    for (std::uint32_t i = start; i < count; ++i) {
        oneStep.Add(fit->Predict(values + (i - windowSize)), values[i]);
        for (std::uint32_t o = 0; o < windowSize; ++o) {
            const std::uint32_t point = i - windowSize + o;
            window[o] = point < trainLength ? values[point] : reproduction[point];
        }
        reproduction[i] = static_cast<float>(fit->Predict(window.data()));
        closed.Add(reproduction[i], values[i]);
    }
    baselines.autoregression = {oneStep.Mean(), closed.Mean(), points};
    return baselines;
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
