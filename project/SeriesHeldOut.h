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

#include <cstdint>
#include <optional>
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

// Fits the autoregression of window w by least squares to the targets
// t = w .. trainLength-1 (trainLength limited to n), each with the true
// window before it. None when there are fewer targets than the w + 1
// unknowns. A series whose windows do not tell the weights apart (a
// constant one, say) gets the smallest weights that fit: the normal
// equations carry a ridge far below the data's own scale.
std::optional<TAutoregression> FitAutoregression(const float* values, std::uint32_t count,
                                                 std::uint32_t trainLength, std::uint32_t windowSize);

// The yardsticks of a series.
struct TSeriesBaselines {
    THeldOutErrors naive;       // one-step: the point before; closed-loop: the last value before the held-out part
    THeldOutErrors autoregression; // NaN figures when it could not be fitted
    bool fitted = false;
};

TSeriesBaselines SeriesBaselines(const float* values, std::uint32_t count, std::uint32_t trainLength,
                                 std::uint32_t windowSize, double unit);

// The yardsticks computed a bounded piece at a time, so that a window can
// make them between its other work without holding the program: the fit's
// normal equations gather a number of training windows per step, and the
// last step solves them and measures both yardsticks. The values must stay
// in place until it is done.
class TBaselineSteps {
public:
    TBaselineSteps() = default;
    TBaselineSteps(const float* values, std::uint32_t count, std::uint32_t trainLength, std::uint32_t windowSize,
                   double unit);

    // Gathers at most `windows` more training windows, or finishes; true
    // when the yardsticks are ready.
    bool Step(std::uint64_t windows);
    bool Done() const { return done_; }
    // The result; valid once Done().
    const TSeriesBaselines& Result() const { return result_; }
    // Work of gathering one window, in multiply-adds: a step of `windows`
    // windows costs about windows * WindowWork().
    std::uint64_t WindowWork() const;

private:
    void Finish();

    const float* values_ = nullptr;
    std::uint32_t count_ = 0;
    std::uint32_t trainLength_ = 0;
    std::uint32_t windowSize_ = 0;
    double unit_ = 0.0;
    std::uint32_t next_ = 0; // the next target gathered
    std::uint32_t end_ = 0;  // one past the last target
    bool fitting_ = false;
    std::vector<double> gram_;
    std::vector<double> right_;
    std::vector<double> row_;
    bool done_ = true;
    TSeriesBaselines result_;
};

// The network's figures. `windowInputs` holds w + 1 floats, `reproduction`
// n floats (it is left holding the closed-loop reproduction of the whole
// series). The weights do not change.
THeldOutErrors NetworkHeldOutErrors(TNeuralNet& net, const float* values, std::uint32_t count,
                                    std::uint32_t trainLength, std::uint32_t windowSize, double unit,
                                    float* windowInputs, float* reproduction);
