#pragma once
// The arithmetic of the time-series windows, free of any display: the range
// and scaling of a series, the training windows cut into a sequence, one
// training epoch, the reproduction and forecast, and the picture's geometry.
//
// Throughout, w is the window size (the network's input count), n the number
// of values and `trainLength` the number of leading values trained on.

#include "engine/NeuralNet.h"
#include "images/PatternRing.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// The loaded time series: `count` values (0 before the first load), scaled
// to 0..1 in place by every load. `values` holds at least `count` elements.
struct TSeriesBuffer {
    std::int32_t count = 0;
    std::unique_ptr<float[]> values;
};

// The smallest and the largest value of a series.
struct TSeriesRange {
    float min = 0.0f;
    float max = 0.0f;
};

// The range of values[0 .. count-1]; count must be at least 1.
TSeriesRange FindSeriesRange(const float* values, std::size_t count);

// Scales values[0 .. count-1] to 0..1 in place: (v - min) / (max - min),
// computed in extended precision and stored as floats. A range of no width
// leaves every value 0 instead of dividing by zero.
void ScaleSeries(float* values, std::size_t count, TSeriesRange range);

// Appends to the sequence one element per window position j = 0 .. n-w-1:
// cells values[j .. j+w-1] truncated toward zero, then the bias cell 1, with
// class index values[j+w] truncated. Nothing when n <= w.
void CutSeriesWindows(const float* values, std::uint32_t count, std::uint32_t windowSize, PatternRing& sequence);

// Bytes the windows of a series take in the training sequence, elements'
// bookkeeping included: what CutSeriesWindows will allocate, near enough.
std::uint64_t SeriesWindowBytes(std::uint32_t count, std::uint32_t windowSize);

// The error figures of one epoch, in normalised units.
struct TEpochErrors {
    float minError = 200000000.0f; // smallest window error; 2e8 when no window was trained
    float maxError = 0.0f;         // largest window error; 0 when no window was trained
    float lastError = 0.0f;        // error of the window trained last; unchanged when none
    std::uint32_t windows = 0;     // windows trained
};

// Number of training windows of an epoch: trainLength - w, or 0 when
// trainLength <= w.
std::uint32_t EpochWindowCount(std::uint32_t trainLength, std::uint32_t windowSize);

// One training epoch: for i = 0 .. trainLength-w-1 in order, one TrainFloat
// step (learning rate 0.5, momentum 0) on the window values[i .. i+w-1]
// with target values[i+w]; the error of each step is the distance of the
// output it computed before the weights changed. `windowInputs` holds w + 1
// floats and ends with the bias input 1 afterwards; `targetValue` one float.
// `lastError` is the error carried over when the epoch trains no window.
TEpochErrors TrainSeriesEpoch(TNeuralNet& net, const float* values, std::uint32_t trainLength,
                              std::uint32_t windowSize, float* windowInputs, float* targetValue,
                              float lastError);

// The network's reproduction and forecast of the whole series into
// reproduction[0 .. n-1]: the first w points are the series itself, every
// further point m + w the network's answer to the window m .. m+w-1. With
// `fromFirstWindow` every window is made of earlier answers (after the first
// w true values); otherwise a window takes the true value of each point
// before trainLength and the earlier answer from trainLength on.
// `windowInputs` holds w + 1 floats; its bias input is set to 1. The
// weights do not change.
void ReproduceSeries(TNeuralNet& net, const float* values, std::uint32_t count, std::uint32_t trainLength,
                     std::uint32_t windowSize, bool fromFirstWindow, float* windowInputs, float* reproduction);

// The forecast of `horizon` points past the end of the series into
// forecast[0 .. horizon-1]: the first from the last w values, each further
// one from the window that takes the earlier answers for the points the
// series does not have. `windowInputs` holds w + 1 floats; w must not
// exceed n. The weights do not change.
void ForecastPastEnd(TNeuralNet& net, const float* values, std::uint32_t count, std::uint32_t windowSize,
                     std::uint32_t horizon, float* windowInputs, float* forecast);

// The picture: 500 pixels wide for the whole series, 255 for the range.
inline constexpr int SeriesPictureWidth = 500;
inline constexpr int SeriesPictureHeight = 255;

// Horizontal distance between neighbouring points: 500 / (n - 1) as a float.
// n must be at least 2.
float SeriesStep(std::uint32_t count);
// Column of point i: i * step truncated toward zero.
int SeriesX(std::uint32_t index, float step);
// Row of a value scaled to 0..1: u * 255 truncated toward zero (the smallest
// value at the top).
int SeriesY(float scaled);
