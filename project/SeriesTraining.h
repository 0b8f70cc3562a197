#pragma once
// Training the series network and foretelling the series, without any
// window: the series window's training tick, its picture, the progress
// window's held-out figures and trelis-cli forecast all go through here.
// The project owns one TSeriesTrainer for its series.

#include "engine/NeuralNet.h"
#include "project/SeriesHeldOut.h"
#include "project/SeriesMath.h"

#include <cstdint>
#include <memory>
#include <vector>

// The series, its settings and the scale of its file, as the trainer reads them.
struct TSeriesView {
    const float* values = nullptr; // scaled to 0..1
    std::uint32_t count = 0;
    std::uint32_t windowSize = 0;
    std::uint32_t trainLength = 0;
    double unit = 0.0;   // max - min of the file's values
    float offset = 0.0f; // the file's smallest value

    // A scaled value in the file's units.
    double ValueInUnits(double scaled) const { return scaled * unit + offset; }
};

// What one training epoch over the series' windows did.
struct TSeriesEpochReport {
    std::uint64_t epoch = 0;    // epochs trained since the series came
    std::uint32_t windows = 0;  // windows trained
    TEpochErrors errors;        // in the scaled units, as the epoch computed them
    double maxError = 0.0;      // the largest and the smallest window error
    double minError = 0.0;      // in the units of the series file
};

// The network's reproduction and forecast of the series for its weights now.
struct TSeriesForecast {
    // The series picture's curve: the first w points are the series itself,
    // every further point the network's answer (scaled 0..1), fed as the
    // "По первому окну" box of the series window says.
    std::vector<float> reproduction;
    bool fromFirstWindow = false;
    // The held-out errors of the one-step and the closed-loop forecast, in
    // the file's units.
    THeldOutErrors heldOut;
};

class TSeriesTrainer {
public:
    // Forgets every epoch and figure: a series has come.
    void Reset();

    // One training epoch (TrainSeriesEpoch) over the series' windows.
    const TSeriesEpochReport& TrainEpoch(TNeuralNet& net, const TSeriesView& series);
    // The last epoch's report; epoch 0 before the first.
    const TSeriesEpochReport& LastEpoch() const { return last_; }

    // The forecast for the network's weights now. Computed once for each
    // `weights` version (the caller counts every change of the weights) and
    // each setting of fromFirstWindow, and shared by everyone who asks.
    const TSeriesForecast& Forecast(TNeuralNet& net, const TSeriesView& series, bool fromFirstWindow,
                                    std::uint64_t weights);

    // The yardsticks of the series, begun on the first call after a Reset
    // and made on a thread of their own; null until they are ready, unless
    // `wait` says to wait for them.
    const TSeriesBaselines* Baselines(const TSeriesView& series, bool wait);

private:
    TSeriesEpochReport last_;
    std::vector<float> windowInputs_;
    std::vector<float> targetValue_;
    std::vector<float> oneStepInputs_;
    std::vector<float> closedLoop_;
    TSeriesForecast forecast_;
    bool forecastValid_ = false;
    std::uint64_t forecastWeights_ = 0;
    std::unique_ptr<TBaselineJob> baselines_;
};
