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

namespace {

// Whether the fit of this shape is worth doing: enough targets for the
// unknowns, and not more work than MaxFitWork.
bool FitPossible(std::uint32_t count, std::uint32_t trainLength, std::uint32_t windowSize)
{
    const std::uint32_t end = std::min(trainLength, count);
    const std::size_t unknowns = static_cast<std::size_t>(windowSize) + 1;
    if (end <= windowSize || end - windowSize < unknowns)
        return false;
    const std::size_t rows = end - windowSize;
    return static_cast<double>(rows) * static_cast<double>(unknowns) * static_cast<double>(unknowns) / 2.0 <=
           MaxFitWork;
}

// Adds the targets t = from .. to-1, each with the true window before it,
// to the normal equations over the columns: the window's values, then 1.
void Gather(const float* values, std::uint32_t windowSize, std::uint32_t from, std::uint32_t to,
            std::vector<double>& gram, std::vector<double>& right, std::vector<double>& row)
{
    const std::size_t unknowns = static_cast<std::size_t>(windowSize) + 1;
    for (std::size_t t = from; t < to; ++t) {
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
}

std::optional<TAutoregression> Solve(std::vector<double>& gram, const std::vector<double>& right,
                                     std::uint32_t windowSize)
{
    const std::size_t unknowns = static_cast<std::size_t>(windowSize) + 1;
    double trace = 0.0;
    for (std::size_t i = 0; i < unknowns; ++i) {
        trace += gram[i * unknowns + i];
        for (std::size_t k = 0; k < i; ++k)
            gram[k * unknowns + i] = gram[i * unknowns + k];
    }
    // The intercept's column alone makes the trace at least the number of rows.
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
                                                 std::uint32_t trainLength, std::uint32_t windowSize)
{
    if (!FitPossible(count, trainLength, windowSize))
        return std::nullopt;
    const std::size_t unknowns = static_cast<std::size_t>(windowSize) + 1;
    std::vector<double> gram(unknowns * unknowns, 0.0);
    std::vector<double> right(unknowns, 0.0);
    std::vector<double> row(unknowns);
    Gather(values, windowSize, windowSize, std::min(trainLength, count), gram, right, row);
    return Solve(gram, right, windowSize);
}

TSeriesBaselines SeriesBaselines(const float* values, std::uint32_t count, std::uint32_t trainLength,
                                 std::uint32_t windowSize, double unit)
{
    TBaselineSteps steps(values, count, trainLength, windowSize, unit);
    steps.Step(std::numeric_limits<std::uint64_t>::max());
    return steps.Result();
}

TBaselineSteps::TBaselineSteps(const float* values, std::uint32_t count, std::uint32_t trainLength,
                               std::uint32_t windowSize, double unit)
    : values_(values),
      count_(count),
      trainLength_(trainLength),
      windowSize_(windowSize),
      unit_(unit),
      done_(false)
{
    fitting_ = FitPossible(count, trainLength, windowSize);
    next_ = windowSize;
    end_ = fitting_ ? std::min(trainLength, count) : windowSize;
    if (fitting_) {
        const std::size_t unknowns = static_cast<std::size_t>(windowSize) + 1;
        gram_.assign(unknowns * unknowns, 0.0);
        right_.assign(unknowns, 0.0);
        row_.assign(unknowns, 0.0);
    }
}

std::uint64_t TBaselineSteps::WindowWork() const
{
    const std::uint64_t unknowns = std::uint64_t{windowSize_} + 1;
    return unknowns * (unknowns + 1) / 2;
}

bool TBaselineSteps::Step(std::uint64_t windows)
{
    if (done_)
        return true;
    const std::uint64_t take = std::min<std::uint64_t>(windows, end_ - next_);
    if (take > 0) {
        Gather(values_, windowSize_, next_, next_ + static_cast<std::uint32_t>(take), gram_, right_, row_);
        next_ += static_cast<std::uint32_t>(take);
        if (next_ < end_ || windows == take)
            return false; // the solution and the measures take a step of their own
    }
    Finish();
    return true;
}

void TBaselineSteps::Finish()
{
    const std::uint32_t start = HeldOutStart(trainLength_, windowSize_);
    const std::uint32_t points = count_ > start ? count_ - start : 0;
    TMeanError naiveOneStep(unit_), naiveClosed(unit_);
    for (std::uint32_t i = start; i < count_; ++i) {
        naiveOneStep.Add(values_[i - 1], values_[i]);
        naiveClosed.Add(values_[start - 1], values_[i]);
    }
    result_ = {};
    result_.naive = {naiveOneStep.Mean(), naiveClosed.Mean(), points};
    result_.autoregression = {NotANumber, NotANumber, points};
    if (fitting_) {
        if (const std::optional<TAutoregression> fit = Solve(gram_, right_, windowSize_)) {
            result_.fitted = true;
            result_.autoregression = AutoregressionErrors(*fit, values_, count_, trainLength_, windowSize_, unit_);
        }
    }
    std::vector<double>().swap(gram_);
    std::vector<double>().swap(right_);
    std::vector<double>().swap(row_);
    done_ = true;
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
