// The held-out figures of a series and their two yardsticks, checked against
// series whose answers are known in closed form.

#include "project/SeriesHeldOut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

std::vector<float> Series(std::size_t count, double (*value)(std::size_t))
{
    std::vector<float> values(count);
    for (std::size_t t = 0; t < count; ++t)
        values[t] = static_cast<float>(value(t));
    return values;
}

double Ramp(std::size_t t) { return 0.1 + 0.004 * static_cast<double>(t); }
double Wave(std::size_t t) { return 0.5 + 0.4 * std::sin(2.0 * std::numbers::pi * static_cast<double>(t) / 17.0); }
double Flat(std::size_t) { return 0.25; }

TEST(SeriesHeldOut, YardsticksOnSeriesWithKnownAnswers)
{
    struct Case {
        double (*value)(std::size_t);
        std::uint32_t window;
        double naiveOneStep; // in scaled units, before the unit of 10
    };
    // A ramp steps 0.004 per point; a constant series not at all. Any
    // autoregression of window 2 or more foretells a ramp and a sine exactly,
    // one step or closed-loop; window 1 with its intercept a ramp and a constant.
    for (const Case& c : {Case{Ramp, 1, 0.004}, Case{Ramp, 3, 0.004}, Case{Wave, 2, -1}, Case{Wave, 5, -1},
                          Case{Flat, 1, 0.0}, Case{Flat, 4, 0.0}}) {
        SCOPED_TRACE(c.window);
        const std::vector<float> v = Series(200, c.value);
        const TSeriesBaselines b = SeriesBaselines(v.data(), 200, 120, c.window, 10.0);
        ASSERT_TRUE(b.fitted);
        EXPECT_EQ(b.naive.points, 80u);
        EXPECT_LT(b.autoregression.oneStep, 1e-4);
        EXPECT_LT(b.autoregression.closedLoop, 1e-3);
        double naiveOneStep = 0, naiveClosed = 0;
        for (std::size_t i = 120; i < 200; ++i) {
            naiveOneStep += std::fabs(c.value(i) - c.value(i - 1)) / 80 * 10;
            naiveClosed += std::fabs(c.value(i) - c.value(119)) / 80 * 10;
        }
        if (c.naiveOneStep >= 0) {
            EXPECT_NEAR(naiveOneStep, c.naiveOneStep * 10, 1e-6);
        }
        EXPECT_NEAR(b.naive.oneStep, naiveOneStep, 1e-5);
        EXPECT_NEAR(b.naive.closedLoop, naiveClosed, 1e-5);
    }
}

TEST(SeriesHeldOut, TheClosedLoopAutoregressionGoesOnFromItsOwnAnswers)
{
    // Trained on a see-saw, which x[t] = 1 - x[t-1] foretells exactly; then
    // the series stays at 0.5.
    std::vector<float> v(120, 0.5f);
    for (std::size_t t = 0; t < 100; ++t)
        v[t] = t % 2 == 1 ? 0.8f : 0.2f;
    const TSeriesBaselines b = SeriesBaselines(v.data(), 120, 100, 1, 1.0);
    ASSERT_TRUE(b.fitted);
    // From the true values only the first held-out point is missed, by 0.3;
    // from its own answers the see-saw goes on, 0.3 off at every point.
    EXPECT_NEAR(b.autoregression.oneStep, 0.3 / 20, 1e-5);
    EXPECT_NEAR(b.autoregression.closedLoop, 0.3, 1e-5);
}

TEST(SeriesHeldOut, FitRecoversTheRecurrenceOfASine)
{
    // A sine of step w satisfies x[t] = 2 cos(w) x[t-1] - x[t-2] + c.
    const std::vector<float> v = Series(200, Wave);
    const auto fit = FitAutoregression(v.data(), 200, 150, 2);
    ASSERT_TRUE(fit);
    const double step = 2.0 * std::numbers::pi / 17.0;
    EXPECT_NEAR(fit->weights[0], -1.0, 1e-3);
    EXPECT_NEAR(fit->weights[1], 2.0 * std::cos(step), 1e-3);
    EXPECT_NEAR(fit->intercept, 0.5 * (2.0 - 2.0 * std::cos(step)), 1e-3);
}

TEST(SeriesHeldOut, TooLittleToFitOrToHoldOut)
{
    const std::vector<float> v = Series(30, Ramp);
    // Window 5 trained on 10 values: 5 targets for 6 unknowns.
    EXPECT_FALSE(FitAutoregression(v.data(), 30, 10, 5));
    const TSeriesBaselines b = SeriesBaselines(v.data(), 30, 10, 5, 1.0);
    EXPECT_FALSE(b.fitted);
    EXPECT_TRUE(std::isnan(b.autoregression.oneStep));
    EXPECT_EQ(b.naive.points, 20u);
    // Nothing held out: training length over the whole series.
    const TSeriesBaselines none = SeriesBaselines(v.data(), 30, 30, 5, 1.0);
    EXPECT_EQ(none.naive.points, 0u);
    EXPECT_TRUE(std::isnan(none.naive.oneStep) && std::isnan(none.autoregression.closedLoop));
}

TEST(SeriesHeldOut, NetworkFiguresOfANetworkThatAlwaysAnswersOneHalf)
{
    // All weights 0: every answer is the logistic function of 0.
    TNeuralNet net(2, {3, 2, 1}, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f);
    const std::vector<float> v = Series(50, Wave);
    std::vector<float> inputs(4), reproduction(50);
    const THeldOutErrors e = NetworkHeldOutErrors(net, v.data(), 50, 30, 3, 4.0, inputs.data(), reproduction.data());
    double expected = 0;
    for (std::size_t i = 30; i < 50; ++i)
        expected += std::fabs(0.5 - v[i]) / 20 * 4.0;
    EXPECT_EQ(e.points, 20u);
    EXPECT_NEAR(e.oneStep, expected, 1e-6);
    EXPECT_NEAR(e.closedLoop, expected, 1e-6);
    EXPECT_EQ(reproduction[40], 0.5f);
    EXPECT_EQ(reproduction[2], v[2]);
}

} // namespace
