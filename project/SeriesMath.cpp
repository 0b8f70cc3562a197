#include "project/SeriesMath.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A float truncated toward zero into the range of an integer type; values
// outside that range (or not a number) are held at its bounds (0 for NaN).
template <class Int, class Real>
Int Truncate(Real value, Int low, Int high)
{
    if (!(value == value))
        return 0;
    if (value <= static_cast<Real>(low))
        return low;
    if (value >= static_cast<Real>(high))
        return high;
    return static_cast<Int>(value);
}

} // namespace

TSeriesRange FindSeriesRange(const float* values, std::size_t count)
{
    TSeriesRange range{values[0], values[0]};
    for (std::size_t i = 0; i < count; ++i) {
        if (range.min > values[i])
            range.min = values[i];
        if (!(range.max >= values[i]))
            range.max = values[i];
    }
    return range;
}

void ScaleSeries(float* values, std::size_t count, TSeriesRange range)
{
    const long double low = range.min;
    const long double width = static_cast<long double>(range.max) - low;
    if (!(width > 0.0L)) {
        std::fill(values, values + count, 0.0f);
        return;
    }
    for (std::size_t i = 0; i < count; ++i)
        values[i] = static_cast<float>((static_cast<long double>(values[i]) - low) / width);
}

void CutSeriesWindows(const float* values, std::uint32_t count, std::uint32_t windowSize, PatternRing& sequence)
{
    if (count <= windowSize)
        return;
    TAbsImage work(windowSize + 1);
    for (std::uint32_t j = 0; j < count - windowSize; ++j) {
        for (std::uint32_t k = 0; k < windowSize; ++k)
            work.Cells[k] = Truncate<std::int8_t>(values[j + k], std::int8_t{-128}, std::int8_t{127});
        work.SetClassIndex(Truncate<std::int32_t>(values[j + windowSize], std::int32_t{-2147483647 - 1}, std::int32_t{2147483647}));
        work.Cells[windowSize] = 1;
        sequence.Add(work, work.GetClassIndex());
    }
}

std::uint64_t SeriesWindowBytes(std::uint32_t count, std::uint32_t windowSize)
{
    if (count <= windowSize)
        return 0;
    // Each element: the image object and its cell buffer, each a heap block
    // with its own header, the buffer rounded up to whole 16-byte units.
    const std::uint64_t cells = (static_cast<std::uint64_t>(windowSize) + 2 + 15) / 16 * 16;
    const std::uint64_t element = sizeof(TAbsImage) + 2 * 16 + cells;
    return static_cast<std::uint64_t>(count - windowSize) * element;
}

std::uint32_t EpochWindowCount(std::uint32_t trainLength, std::uint32_t windowSize)
{
    return trainLength > windowSize ? trainLength - windowSize : 0;
}

TEpochErrors TrainSeriesEpoch(TNeuralNet& net, const float* values, std::uint32_t trainLength,
                              std::uint32_t windowSize, float* windowInputs, float* targetValue,
                              float lastError)
{
    constexpr float learningRate = 0.5f;
    constexpr float momentum = 0.0f;
    windowInputs[windowSize] = 1.0f;
    TEpochErrors errors;
    errors.lastError = lastError;
    errors.windows = EpochWindowCount(trainLength, windowSize);
    for (std::uint32_t i = 0; i < errors.windows; ++i) {
        std::memcpy(windowInputs, values + i, windowSize * sizeof(float));
        targetValue[0] = values[i + windowSize];
        net.TrainFloat(windowInputs, targetValue, learningRate, momentum);
        errors.lastError = net.OutputError(targetValue);
        if (!(errors.maxError >= errors.lastError))
            errors.maxError = errors.lastError;
        if (errors.minError > errors.lastError)
            errors.minError = errors.lastError;
    }
    return errors;
}

void ReproduceSeries(TNeuralNet& net, const float* values, std::uint32_t count, std::uint32_t trainLength,
                     std::uint32_t windowSize, bool fromFirstWindow, float* windowInputs, float* reproduction)
{
    windowInputs[windowSize] = 1.0f;
    std::copy(values, values + std::min(windowSize, count), reproduction);
    for (std::uint32_t m = 0; m + windowSize < count; ++m) {
        for (std::uint32_t o = 0; o < windowSize; ++o) {
            const std::uint32_t point = m + o;
            windowInputs[o] = !fromFirstWindow && point < trainLength ? values[point] : reproduction[point];
        }
        net.Forward(windowInputs);
        reproduction[m + windowSize] = net.outputs[0];
    }
}

void ForecastPastEnd(TNeuralNet& net, const float* values, std::uint32_t count, std::uint32_t windowSize,
                     std::uint32_t horizon, float* windowInputs, float* forecast)
{
    windowInputs[windowSize] = 1.0f;
    for (std::uint32_t h = 0; h < horizon; ++h) {
        // Point count + h; its window runs from count + h - w.
        for (std::uint32_t o = 0; o < windowSize; ++o) {
            const std::uint64_t point = std::uint64_t{count} + h - windowSize + o;
            windowInputs[o] = point < count ? values[point] : forecast[point - count];
        }
        net.Forward(windowInputs);
        forecast[h] = net.outputs[0];
    }
}

float SeriesStep(std::uint32_t count)
{
    return static_cast<float>(static_cast<double>(SeriesPictureWidth) / static_cast<double>(count - 1u));
}

int SeriesX(std::uint32_t index, float step)
{
    return Truncate<int>(static_cast<double>(index) * step, -1000000, 1000000);
}

int SeriesY(float scaled)
{
    return Truncate<int>(scaled * static_cast<float>(SeriesPictureHeight), -1000000, 1000000);
}
