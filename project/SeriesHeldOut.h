#pragma once
// How well a series is foretold beyond its training length, in the file's
// units: the network's one-step reproduction and closed-loop forecast, and
// two yardsticks for the same points, the naive forecast that repeats the
// last known value and a least-squares autoregression on the same window.
//
// The held-out points are those from max(trainLength, w, 1) to n - 1: every
// one of them has a full window before it. The figures are mean absolute
// errors of scaled values multiplied by `unit` (the file's max - min), so
// they read in the units of the series file. A figure over no point is NaN.
//
// One-step: each held-out point is foretold from the true values of the
// window before it. Closed-loop: a window takes the true value of every
// point before the training length and the forecaster's own earlier answer
// of every point from it on, as the series window's forecast does.

#include "engine/NeuralNet.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

// The first held-out point: max(trainLength, windowSize, 1).
std::uint32_t HeldOutStart(std::uint32_t trainLength, std::uint32_t windowSize);

// Mean absolute errors over the held-out points.
struct THeldOutErrors {
    double oneStep = 0.0;
    double closedLoop = 0.0;
    std::uint32_t points = 0; // held-out points: n - HeldOutStart, or 0
};

// An autoregression x[t] = c + a[0] x[t-w] + ... + a[w-1] x[t-1], in the
// scaled units of the series.
struct TAutoregression {
    double intercept = 0.0;
    std::vector<double> weights; // a[0 .. w-1], oldest value first
    double Predict(const float* window) const;
};

// Set from another thread to stop a fit part way.
using TCancel = std::atomic<bool>;

// Fits the autoregression of window w by least squares to the targets
// t = w .. trainLength-1 (trainLength limited to n), each with the true
// window before it. None when there are fewer targets than the w + 1
// unknowns, when the fit would be too large to be worth its time (more than
// 2048 unknowns, or more than 4e9 multiply-adds), or when `cancel` was set.
// A series whose windows do not tell the weights apart (a constant one,
// say) gets the smallest weights that fit: the normal equations carry a
// ridge far below the data's own scale.
std::optional<TAutoregression> FitAutoregression(const float* values, std::uint32_t count,
                                                 std::uint32_t trainLength, std::uint32_t windowSize,
                                                 const TCancel* cancel = nullptr);

// The yardsticks of a series.
struct TSeriesBaselines {
    THeldOutErrors naive;       // one-step: the point before; closed-loop: the last value before the held-out part
    THeldOutErrors autoregression; // NaN figures when it could not be fitted
    bool fitted = false;
};

TSeriesBaselines SeriesBaselines(const float* values, std::uint32_t count, std::uint32_t trainLength,
                                 std::uint32_t windowSize, double unit, const TCancel* cancel = nullptr);

// The yardsticks made on a thread of their own from a copy of the series,
// so that no window waits for them. Destroying the job stops the thread
// and waits for it.
class TBaselineJob {
public:
    TBaselineJob(const float* values, std::uint32_t count, std::uint32_t trainLength, std::uint32_t windowSize,
                 double unit);
    ~TBaselineJob();
    TBaselineJob(const TBaselineJob&) = delete;
    TBaselineJob& operator=(const TBaselineJob&) = delete;

    // The yardsticks once they are ready; null before.
    const TSeriesBaselines* Result() const;
    // Waits until they are ready.
    const TSeriesBaselines& Wait();

private:
    std::vector<float> values_;
    TSeriesBaselines result_;
    TCancel cancel_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// The network's figures. `windowInputs` holds w + 1 floats, `reproduction`
// n floats (it is left holding the closed-loop reproduction of the whole
// series). The weights do not change.
THeldOutErrors NetworkHeldOutErrors(TNeuralNet& net, const float* values, std::uint32_t count,
                                    std::uint32_t trainLength, std::uint32_t windowSize, double unit,
                                    float* windowInputs, float* reproduction);
