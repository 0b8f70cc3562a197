#include "project/SeriesTraining.h"

#include <algorithm>

void TSeriesTrainer::Reset()
{
    last_ = {};
    forecastValid_ = false;
    baselines_.reset();
}

const TSeriesEpochReport& TSeriesTrainer::TrainEpoch(TNeuralNet& net, const TSeriesView& series)
{
    windowInputs_.resize(static_cast<std::size_t>(series.windowSize) + 1);
    targetValue_.resize(1);
    last_.errors = TrainSeriesEpoch(net, series.values, series.trainLength, series.windowSize, windowInputs_.data(),
                                    targetValue_.data(), last_.errors.lastError);
    ++last_.epoch;
    last_.windows = last_.errors.windows;
    last_.maxError = series.ErrorInUnits(last_.errors.maxError);
    last_.minError = series.ErrorInUnits(last_.errors.minError);
    return last_;
}

const TSeriesForecast& TSeriesTrainer::Forecast(TNeuralNet& net, const TSeriesView& series, bool fromFirstWindow,
                                                std::uint64_t weights)
{
    if (forecastValid_ && forecastWeights_ == weights && forecast_.fromFirstWindow == fromFirstWindow &&
        forecast_.reproduction.size() == series.count)
        return forecast_;
    oneStepInputs_.resize(static_cast<std::size_t>(series.windowSize) + 1);
    forecast_.reproduction.resize(series.count);
    // The held-out errors: NetworkHeldOutErrors leaves the closed-loop
    // reproduction, which is the picture's unless the picture runs from the
    // first window.
    float* closed = forecast_.reproduction.data();
    if (fromFirstWindow) {
        closedLoop_.resize(series.count);
        closed = closedLoop_.data();
    }
    forecast_.heldOut = NetworkHeldOutErrors(net, series.values, series.count, series.trainLength, series.windowSize,
                                             series.unit, oneStepInputs_.data(), closed);
    if (fromFirstWindow)
        ReproduceSeries(net, series.values, series.count, series.trainLength, series.windowSize, true,
                        oneStepInputs_.data(), forecast_.reproduction.data());
    forecast_.fromFirstWindow = fromFirstWindow;
    forecastWeights_ = weights;
    forecastValid_ = true;
    return forecast_;
}

const TSeriesBaselines* TSeriesTrainer::Baselines(const TSeriesView& series, bool wait)
{
    if (!baselines_)
        baselines_ = std::make_unique<TBaselineJob>(series.values, series.count, series.trainLength,
                                                    series.windowSize, series.unit);
    return wait ? &baselines_->Wait() : baselines_->Result();
}
