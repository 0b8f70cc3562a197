// The series arithmetic without the windows: scaling, the training windows,
// one epoch, the reproduction and forecast, the picture's geometry and the
// fast polyline.

#include "engine/NeuralNet.h"
#include "engine/Random.h"
#include "forms/SeriesMath.h"
#include "forms/SeriesPlot.h"
#include "framework/Canvas.h"
#include "images/PatternRing.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr float kMax = std::numeric_limits<float>::max();

std::vector<float> Scaled(std::vector<float> values)
{
    ScaleSeries(values.data(), values.size(), FindSeriesRange(values.data(), values.size()));
    return values;
}

// A series network of w inputs with the same weights on every run.
TNeuralNet SeriesNet(std::uint32_t w)
{
    SetSeedClock([] { return std::time_t{1234567}; });
    TNeuralNet net(2, {w, 2, 1}, 0.68f, 0.0f, 0.0f, 1.0f, 1.0f);
    SetSeedClock({});
    return net;
}

std::vector<float> Weights(const TNeuralNet& net)
{
    std::vector<float> all;
    for (const TLayer& layer : net.layers)
        for (std::size_t i = 0; i < layer.weights.Rows(); ++i)
            for (std::size_t j = 0; j < layer.weights.Columns(); ++j)
                all.push_back(layer.weights[i][j]);
    return all;
}

// The network's answer to one window of three values.
float Answer(TNeuralNet net, float a, float b, float c)
{
    float inputs[] = {a, b, c, 1.0f};
    net.Forward(inputs);
    return net.outputs[0];
}

// Ten values in 0..1, as a load leaves them.
const std::vector<float> Ten{0.0f, 0.2f, 0.4f, 1.0f, 0.6f, 0.8f, 1.0f, 0.1f, 0.3f, 0.5f};

TEST(SeriesScaling, TheRangeMapsOntoZeroToOne)
{
    const std::vector<float> series{2.0f, 4.0f, 6.0f};
    const TSeriesRange range = FindSeriesRange(series.data(), series.size());
    EXPECT_EQ(range.min, 2.0f);
    EXPECT_EQ(range.max, 6.0f);
    EXPECT_EQ(Scaled(series), (std::vector<float>{0.0f, 0.5f, 1.0f}));
    EXPECT_EQ(Scaled({6.0f, 2.0f, 4.0f}), (std::vector<float>{1.0f, 0.0f, 0.5f}));
    EXPECT_EQ(Scaled({-3.0f, 1.0f, -1.0f, 0.0f}), (std::vector<float>{0.0f, 1.0f, 0.5f, 0.75f}));
    // The extreme values of the file's range scale without overflowing.
    EXPECT_EQ(Scaled({-kMax, 0.0f, kMax}), (std::vector<float>{0.0f, 0.5f, 1.0f}));
}

TEST(SeriesScaling, ARangeOfNoWidthGivesZerosInsteadOfDividingByZero)
{
    const std::vector<float> flat = Scaled({3.0f, 3.0f, 3.0f});
    EXPECT_EQ(flat, (std::vector<float>{0.0f, 0.0f, 0.0f}));
}

TEST(SeriesWindows, TenValuesWithWindowThreeGiveSevenElementsOfTheTruncatedValues)
{
    PatternRing sequence;
    sequence.SetDimension(3);
    CutSeriesWindows(Ten.data(), 10, 3, sequence);
    ASSERT_EQ(sequence.Count, 7u);
    EXPECT_EQ(sequence.Dimension, 3u);
    // Window j: cells trunc(v[j .. j+2]), the bias cell and the bias byte;
    // class trunc(v[j+3]). Only the values equal to the maximum are 1.
    const std::vector<std::pair<std::vector<std::int8_t>, std::int32_t>> expected{
        {{0, 0, 0, 1, 1}, 1}, {{0, 0, 1, 1, 1}, 0}, {{0, 1, 0, 1, 1}, 0}, {{1, 0, 0, 1, 1}, 1},
        {{0, 0, 1, 1, 1}, 0}, {{0, 1, 0, 1, 1}, 0}, {{1, 0, 0, 1, 1}, 0},
    };
    const TAbsImage* element = sequence.Current;
    for (const auto& [cells, classIndex] : expected) {
        element = element->Next;
        EXPECT_EQ(element->Size, 4u);
        EXPECT_EQ(element->Cells, cells);
        EXPECT_EQ(element->ClassIndex, classIndex);
    }
    EXPECT_EQ(element, sequence.Current); // the last window added is the cursor
}

TEST(SeriesWindows, NoWindowWhenTheSeriesIsNotLongerThanTheWindow)
{
    PatternRing sequence;
    CutSeriesWindows(Ten.data(), 3, 3, sequence);
    CutSeriesWindows(Ten.data(), 2, 3, sequence);
    EXPECT_EQ(sequence.Count, 0u);
    CutSeriesWindows(Ten.data(), 4, 3, sequence);
    EXPECT_EQ(sequence.Count, 1u);
    EXPECT_EQ(SeriesWindowBytes(3, 3), 0u);
    EXPECT_LT(SeriesWindowBytes(10, 3), SeriesWindowBytes(1000, 3));
}

TEST(SeriesEpoch, TrainsOneStepPerWindowOfTheTrainingPartInOrder)
{
    // (first value of the window, target) for each training length.
    const std::vector<std::pair<std::uint32_t, std::vector<std::pair<int, int>>>> cases{
        {10, {{0, 3}, {1, 4}, {2, 5}, {3, 6}, {4, 7}, {5, 8}, {6, 9}}},
        {6, {{0, 3}, {1, 4}, {2, 5}}},
    };
    for (const auto& [trainLength, windows] : cases) {
        TNeuralNet net = SeriesNet(3);
        TNeuralNet byHand = net;
        std::vector<float> inputs(4, -7.0f);
        float target = 0.0f;
        const TEpochErrors errors =
            TrainSeriesEpoch(net, Ten.data(), trainLength, 3, inputs.data(), &target, 0.0f);

        std::vector<float> stepErrors;
        for (const auto& [first, targetIndex] : windows) {
            float window[] = {Ten[first], Ten[first + 1], Ten[first + 2], 1.0f};
            float t = Ten[targetIndex];
            byHand.TrainFloat(window, &t, 0.5f, 0.0f);
            stepErrors.push_back(byHand.OutputError(&t));
        }
        EXPECT_EQ(errors.windows, windows.size()) << trainLength;
        EXPECT_EQ(EpochWindowCount(trainLength, 3), windows.size());
        EXPECT_EQ(Weights(net), Weights(byHand)) << trainLength;
        EXPECT_EQ(errors.minError, *std::min_element(stepErrors.begin(), stepErrors.end()));
        EXPECT_EQ(errors.maxError, *std::max_element(stepErrors.begin(), stepErrors.end()));
        EXPECT_EQ(errors.lastError, stepErrors.back());
        EXPECT_LT(errors.minError, errors.maxError);
        EXPECT_EQ(inputs[3], 1.0f); // the bias input
    }
}

TEST(SeriesEpoch, ATrainingLengthEqualToTheWindowTrainsNothing)
{
    TNeuralNet net = SeriesNet(3);
    const std::vector<float> before = Weights(net);
    std::vector<float> inputs(4, 0.0f);
    float target = 0.0f;
    const TEpochErrors errors = TrainSeriesEpoch(net, Ten.data(), 3, 3, inputs.data(), &target, 0.75f);
    EXPECT_EQ(errors.windows, 0u);
    EXPECT_EQ(Weights(net), before);
    EXPECT_EQ(errors.minError, 200000000.0f);
    EXPECT_EQ(errors.maxError, 0.0f);
    EXPECT_EQ(errors.lastError, 0.75f);
    EXPECT_EQ(EpochWindowCount(2, 3), 0u);
}

TEST(SeriesEpoch, OnlyTheValuesBeforeTheTrainingLengthTakePart)
{
    const auto trained = [](const std::vector<float>& values) {
        TNeuralNet net = SeriesNet(3);
        std::vector<float> inputs(4);
        float target = 0.0f;
        TrainSeriesEpoch(net, values.data(), 6, 3, inputs.data(), &target, 0.0f);
        return Weights(net);
    };
    const std::vector<float> base = trained(Ten);
    std::vector<float> laterChanged = Ten;
    for (std::size_t i = 6; i < laterChanged.size(); ++i)
        laterChanged[i] = 1.0f - laterChanged[i];
    EXPECT_EQ(trained(laterChanged), base);
    std::vector<float> lastTargetChanged = Ten;
    lastTargetChanged[5] = 0.0f;
    EXPECT_NE(trained(lastTargetChanged), base);
}

// The reproduction of Ten by a fixed network, w = 3, training length 6.
std::vector<float> Reproduction(const std::vector<float>& values, bool fromFirstWindow, std::uint32_t trainLength = 6)
{
    TNeuralNet net = SeriesNet(3);
    const std::vector<float> weights = Weights(net);
    std::vector<float> inputs(4, 5.0f);
    std::vector<float> reproduction(values.size(), -1.0f);
    ReproduceSeries(net, values.data(), static_cast<std::uint32_t>(values.size()), trainLength, 3, fromFirstWindow,
                    inputs.data(), reproduction.data());
    EXPECT_EQ(Weights(net), weights); // drawing never trains
    EXPECT_EQ(inputs[3], 1.0f);
    return reproduction;
}

TEST(SeriesReproduction, OneStepPredictionsFromTrueValuesThenTheForecastFeedsItself)
{
    const TNeuralNet net = SeriesNet(3);
    const std::vector<float> r = Reproduction(Ten, false);
    ASSERT_EQ(r.size(), 10u);
    // The first window is the series itself.
    EXPECT_EQ(r[0], Ten[0]);
    EXPECT_EQ(r[1], Ten[1]);
    EXPECT_EQ(r[2], Ten[2]);
    // Points 3 .. 6 answer windows of true values only.
    for (int p = 3; p <= 6; ++p)
        EXPECT_EQ(r[p], Answer(net, Ten[p - 3], Ten[p - 2], Ten[p - 1])) << p;
    // From point 7 on each window holds earlier answers from index 6 on.
    EXPECT_EQ(r[7], Answer(net, Ten[4], Ten[5], r[6]));
    EXPECT_EQ(r[8], Answer(net, Ten[5], r[6], r[7]));
    EXPECT_EQ(r[9], Answer(net, r[6], r[7], r[8]));

    // The values from the training length on are never looked at.
    std::vector<float> later = Ten;
    for (std::size_t i = 6; i < later.size(); ++i)
        later[i] = 0.5f;
    EXPECT_EQ(Reproduction(later, false), r);
    // A true value inside the training part moves its own point and the
    // predictions whose windows hold it: changing v[0] moves points 0 and 3
    // only.
    std::vector<float> first = Ten;
    first[0] = 0.9f;
    const std::vector<float> moved = Reproduction(first, false);
    for (std::size_t p = 0; p < moved.size(); ++p) {
        if (p == 0 || p == 3)
            EXPECT_NE(moved[p], r[p]) << p;
        else
            EXPECT_EQ(moved[p], r[p]) << p;
    }
}

TEST(SeriesReproduction, FromTheFirstWindowEveryPointFollowsFromTheFirstValuesAlone)
{
    const TNeuralNet net = SeriesNet(3);
    const std::vector<float> r = Reproduction(Ten, true);
    EXPECT_EQ(r[3], Answer(net, Ten[0], Ten[1], Ten[2]));
    EXPECT_EQ(r[4], Answer(net, Ten[1], Ten[2], r[3]));
    EXPECT_EQ(r[6], Answer(net, r[3], r[4], r[5]));
    std::vector<float> changed = Ten;
    for (std::size_t i = 3; i < changed.size(); ++i)
        changed[i] = 1.0f - changed[i];
    EXPECT_EQ(Reproduction(changed, true), r);
    EXPECT_EQ(Reproduction(changed, true, 10), r);
    // Without the box the same change moves the one-step predictions.
    EXPECT_NE(Reproduction(changed, false), Reproduction(Ten, false));
}

TEST(SeriesGeometry, PointsSpreadOverFiveHundredColumnsAndTheRangeOver255Rows)
{
    const float step = SeriesStep(10);
    EXPECT_FLOAT_EQ(step, 55.555557f);
    std::vector<int> xs;
    for (std::uint32_t i = 0; i < 10; ++i)
        xs.push_back(SeriesX(i, step));
    EXPECT_EQ(xs, (std::vector<int>{0, 55, 111, 166, 222, 277, 333, 388, 444, 500}));
    EXPECT_EQ(SeriesX(1, SeriesStep(2)), 500);
    const float unit = SeriesStep(501);
    for (std::uint32_t i = 0; i <= 500; ++i)
        ASSERT_EQ(SeriesX(i, unit), static_cast<int>(i));
    EXPECT_EQ(SeriesX(1000, SeriesStep(1001)), 500);
    EXPECT_EQ(SeriesX(999, SeriesStep(1001)), 499);

    // A long series: columns never go back, and end at the right edge.
    const std::uint32_t n = 1000000;
    const float longStep = SeriesStep(n);
    int previous = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const int x = SeriesX(i, longStep);
        ASSERT_GE(x, previous);
        previous = x;
    }
    EXPECT_GE(previous, 499);
    EXPECT_LE(previous, 500);

    EXPECT_EQ(SeriesY(0.0f), 0);
    EXPECT_EQ(SeriesY(1.0f), 255);
    EXPECT_EQ(SeriesY(0.5f), 127);
    EXPECT_EQ(SeriesY(0.999f), 254);
}

TEST(SeriesPlot, TheColumnPolylineDrawsExactlyWhatThePlainPolylineDraws)
{
    std::mt19937 rng(7);
    for (const std::uint32_t n : {2u, 3u, 40u, 501u, 777u, 1500u, 5000u}) {
        for (const int width : {1, 3}) {
            QImage plainImage = MakeBitmap(500, 255);
            QImage fastImage = MakeBitmap(500, 255);
            TCanvas plain(plainImage);
            TCanvas fast(fastImage);
            for (TCanvas* canvas : {&plain, &fast}) {
                canvas->SetPenWidth(width);
                canvas->SetPenColor(clBlack);
            }
            const float step = SeriesStep(n);
            std::vector<std::pair<int, int>> points;
            float u = 0.5f;
            for (std::uint32_t i = 0; i < n; ++i) {
                // A walk with jumps, flat stretches and repeated points.
                const unsigned kind = rng() % 10;
                if (kind < 6)
                    u = std::clamp(u + static_cast<float>(static_cast<int>(rng() % 41) - 20) / 255.0f, 0.0f, 1.0f);
                else if (kind < 8)
                    u = static_cast<float>(rng() % 256) / 255.0f;
                points.emplace_back(SeriesX(i, step), SeriesY(u));
            }
            plain.MoveTo(points[0].first, points[0].second);
            fast.MoveTo(points[0].first, points[0].second);
            {
                TColumnPolyline line(fast);
                for (std::size_t i = 1; i < points.size(); ++i) {
                    plain.LineTo(points[i].first, points[i].second);
                    line.LineTo(points[i].first, points[i].second);
                    if (i == points.size() / 2) {
                        // A change of colour part-way, as from black to red.
                        line.Flush();
                        plain.SetPenColor(clRed);
                        fast.SetPenColor(clRed);
                    }
                }
            }
            EXPECT_TRUE(plainImage == fastImage) << n << " points, width " << width;
            EXPECT_EQ(plain.PenPos(), fast.PenPos());
        }
    }
}

} // namespace
