// The series arithmetic without the windows: scaling, the training windows,
// one epoch, the reproduction and forecast, and the picture's geometry.

#include "project/SeriesMath.h"
#include "images/PatternRing.h"

#include "tests/engine/TestNets.h"

#include <algorithm>
#include <limits>

namespace {

using testnets::Weights;

std::vector<float> Scaled(std::vector<float> v)
{
    ScaleSeries(v.data(), v.size(), FindSeriesRange(v.data(), v.size()));
    return v;
}

// A series network of 3 inputs with the same weights on every run.
TNeuralNet SeriesNet()
{
    testnets::PinnedClock clock(1234567);
    return TNeuralNet(2, {3, 2, 1}, 0.68f, 0.0f, 0.0f, 1.0f, 1.0f);
}

float Answer(TNeuralNet net, float a, float b, float c)
{
    float inputs[] = {a, b, c, 1.0f};
    net.Forward(inputs);
    return net.outputs[0];
}

// Ten values in 0..1, as a load leaves them.
const std::vector<float> Ten{0.0f, 0.2f, 0.4f, 1.0f, 0.6f, 0.8f, 1.0f, 0.1f, 0.3f, 0.5f};

TEST(SeriesMath, ScalingMapsTheRangeOntoZeroToOne)
{
    const std::vector<float> series{2.0f, 4.0f, 6.0f};
    const TSeriesRange range = FindSeriesRange(series.data(), 3);
    EXPECT_EQ(range.min, 2.0f);
    EXPECT_EQ(range.max, 6.0f);
    EXPECT_EQ(Scaled(series), (std::vector<float>{0.0f, 0.5f, 1.0f}));
    EXPECT_EQ(Scaled({-3.0f, 1.0f, -1.0f, 0.0f}), (std::vector<float>{0.0f, 1.0f, 0.5f, 0.75f}));
    const float max = std::numeric_limits<float>::max();
    EXPECT_EQ(Scaled({-max, 0.0f, max}), (std::vector<float>{0.0f, 0.5f, 1.0f}));
    EXPECT_EQ(Scaled({3.0f, 3.0f}), (std::vector<float>{0.0f, 0.0f})); // no division by zero
}

TEST(SeriesMath, TenValuesWithWindowThreeGiveSevenElementsOfTruncatedValues)
{
    PatternRing sequence;
    CutSeriesWindows(Ten.data(), 3, 3, sequence);
    EXPECT_EQ(sequence.GetCount(), 0u);
    CutSeriesWindows(Ten.data(), 10, 3, sequence);
    ASSERT_EQ(sequence.GetCount(), 7u);
    // Window j: cells trunc(v[j .. j+2]), bias cell, bias byte; class trunc(v[j+3]).
    const std::vector<std::pair<std::vector<std::int8_t>, std::int32_t>> expected{
        {{0, 0, 0, 1, 1}, 1}, {{0, 0, 1, 1, 1}, 0}, {{0, 1, 0, 1, 1}, 0}, {{1, 0, 0, 1, 1}, 1},
        {{0, 0, 1, 1, 1}, 0}, {{0, 1, 0, 1, 1}, 0}, {{1, 0, 0, 1, 1}, 0}};
    auto element = sequence.FileOrder().begin();
    for (const auto& [cells, classIndex] : expected) {
        EXPECT_EQ(element->Size, 4u);
        EXPECT_EQ(element->Cells, cells);
        EXPECT_EQ(element->ClassIndex, classIndex);
        ++element;
    }
}

TEST(SeriesMath, AnEpochTrainsOneStepPerWindowOfTheTrainingPartInOrder)
{
    // Training length -> the targets of its windows, in order.
    for (const auto& [trainLength, targets] : std::vector<std::pair<std::uint32_t, std::vector<int>>>{
             {10, {3, 4, 5, 6, 7, 8, 9}}, {6, {3, 4, 5}}, {3, {}}}) {
        TNeuralNet net = SeriesNet();
        TNeuralNet byHand = net;
        std::vector<float> inputs(4, -7.0f);
        float target = 0.0f;
        const TEpochErrors e = TrainSeriesEpoch(net, Ten.data(), trainLength, 3, inputs.data(), &target, 0.75f);
        std::vector<float> errors;
        for (const int t : targets) {
            float window[] = {Ten[t - 3], Ten[t - 2], Ten[t - 1], 1.0f};
            float value = Ten[t];
            byHand.TrainFloat(window, &value, 0.5f, 0.0f);
            errors.push_back(byHand.OutputError(&value));
        }
        EXPECT_EQ(e.windows, targets.size());
        EXPECT_EQ(Weights(net), Weights(byHand)) << trainLength;
        EXPECT_EQ(e.minError, errors.empty() ? 2e8f : *std::min_element(errors.begin(), errors.end()));
        EXPECT_EQ(e.maxError, errors.empty() ? 0.0f : *std::max_element(errors.begin(), errors.end()));
        EXPECT_EQ(e.lastError, errors.empty() ? 0.75f : errors.back());
        EXPECT_EQ(inputs[3], 1.0f);
    }
}

// The reproduction of a series by the fixed network, training length 6.
std::vector<float> Reproduction(const std::vector<float>& values, bool fromFirstWindow)
{
    TNeuralNet net = SeriesNet();
    std::vector<float> inputs(4, 5.0f);
    std::vector<float> r(values.size());
    ReproduceSeries(net, values.data(), static_cast<std::uint32_t>(values.size()), 6, 3, fromFirstWindow,
                    inputs.data(), r.data());
    EXPECT_EQ(Weights(net), Weights(SeriesNet())); // drawing never trains
    return r;
}

TEST(SeriesMath, ReproductionFeedsPredictionsBackFromTheTrainingLengthOrFromTheFirstWindow)
{
    const TNeuralNet net = SeriesNet();
    const std::vector<float> r = Reproduction(Ten, false);
    EXPECT_EQ(std::vector<float>(r.begin(), r.begin() + 3), std::vector<float>(Ten.begin(), Ten.begin() + 3));
    for (int p = 3; p <= 6; ++p) // one step from true values
        EXPECT_EQ(r[p], Answer(net, Ten[p - 3], Ten[p - 2], Ten[p - 1])) << p;
    EXPECT_EQ(r[7], Answer(net, Ten[4], Ten[5], r[6]));
    EXPECT_EQ(r[9], Answer(net, r[6], r[7], r[8]));
    // Changing v[0] moves only point 0 and the one window holding it.
    std::vector<float> first = Ten;
    first[0] = 0.9f;
    const std::vector<float> moved = Reproduction(first, false);
    for (std::size_t p = 0; p < 10; ++p)
        EXPECT_EQ(moved[p] != r[p], p == 0 || p == 3) << p;

    // With the box, everything follows from the first window alone.
    const std::vector<float> fed = Reproduction(Ten, true);
    EXPECT_EQ(fed[3], r[3]);
    EXPECT_EQ(fed[4], Answer(net, Ten[1], Ten[2], fed[3]));
    std::vector<float> later = Ten;
    for (std::size_t i = 3; i < later.size(); ++i)
        later[i] = 1.0f - later[i];
    EXPECT_EQ(Reproduction(later, true), fed);
    EXPECT_NE(Reproduction(later, false), r);
}

TEST(SeriesMath, PointsSpreadOverFiveHundredColumnsAndTheRangeOver255Rows)
{
    std::vector<int> xs;
    for (std::uint32_t i = 0; i < 10; ++i)
        xs.push_back(SeriesX(i, SeriesStep(10)));
    EXPECT_EQ(xs, (std::vector<int>{0, 55, 111, 166, 222, 277, 333, 388, 444, 500}));
    EXPECT_FLOAT_EQ(SeriesStep(10), 55.555557f);
    EXPECT_EQ(SeriesX(1, SeriesStep(2)), 500);
    EXPECT_EQ(SeriesX(999, SeriesStep(1001)), 499);
    int previous = 0; // columns never go back, even for a million points
    for (std::uint32_t i = 0; i < 1000000; ++i) {
        const int x = SeriesX(i, SeriesStep(1000000));
        ASSERT_GE(x, previous);
        previous = x;
    }
    EXPECT_GE(previous, 499);
    EXPECT_EQ((std::vector<int>{SeriesY(0.0f), SeriesY(0.5f), SeriesY(0.999f), SeriesY(1.0f)}),
              (std::vector<int>{0, 127, 254, 255}));
}

} // namespace
