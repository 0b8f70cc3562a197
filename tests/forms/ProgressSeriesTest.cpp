// The learning progress window beside the series window: the epochs' window
// errors, and the held-out errors of the network against the yardsticks.

#include "SeriesFixture.h"

#include "project/SeriesHeldOut.h"

namespace {

using ProgressOfASeries = SeriesUser;

TEST_F(ProgressOfASeries, OpenedWhileTrainingRunsItShowsTheSeriesWindowsAndTheHeldOutFigures)
{
    ASSERT_TRUE(Load(QStringLiteral(TRELIS_EXAMPLES_DIR "/noisy_sine.ser"), 12, 200));
    ASSERT_TRUE(SerLForm->Timer1->isActive()); // a load starts training
    const auto n = static_cast<std::uint32_t>(SeriesBuffer.count);
    const float* values = SeriesBuffer.values.get();
    const double unit = static_cast<double>(SerLForm->seriesMax) - static_cast<double>(SerLForm->seriesMin);

    for (QAction* item : {Form1->N33, Form1->N32}) { // from "Временной ряд", then from "Обучение"
        SCOPED_TRACE(item->objectName().toStdString());
        ProgressForm->close();
        item->trigger();
        ASSERT_TRUE(ProgressForm->isVisible());
        for (int tick = 0; tick < 300; ++tick)
            SerLForm->Timer1Timer();
        ProgressForm->Timer1Timer(); // the repaint: the last epoch gets its held-out figures

        const TEpochPoint& last = ProgressForm->seriesHistory.Last();
        EXPECT_EQ(last.epoch, ProgressForm->seriesEpochs);
        EXPECT_EQ(last.values[TProgressForm::MaxError], unit * static_cast<double>(SerLForm->maxError));
        EXPECT_EQ(last.values[TProgressForm::MinError], unit * static_cast<double>(SerLForm->minError));

        TNeuralNet copy(*CurrentNet);
        std::vector<float> inputs(13), reproduction(n);
        const THeldOutErrors now =
            NetworkHeldOutErrors(copy, values, n, 200, 12, unit, inputs.data(), reproduction.data());
        const TEpochPoint& held = ProgressForm->heldOutHistory.Last();
        EXPECT_EQ(held.epoch, last.epoch);
        EXPECT_EQ(held.values[TProgressForm::OneStep], now.oneStep);
        EXPECT_EQ(held.values[TProgressForm::ClosedLoop], now.closedLoop);

        const TSeriesBaselines yardsticks = SeriesBaselines(values, n, 200, 12, unit);
        ASSERT_TRUE(ProgressForm->baselinesReady);
        EXPECT_EQ(ProgressForm->baselines.naive.oneStep, yardsticks.naive.oneStep);
        EXPECT_EQ(ProgressForm->baselines.naive.closedLoop, yardsticks.naive.closedLoop);
        EXPECT_EQ(ProgressForm->baselines.autoregression.oneStep, yardsticks.autoregression.oneStep);
        EXPECT_EQ(ProgressForm->baselines.autoregression.closedLoop, yardsticks.autoregression.closedLoop);

        // The best closed-loop epoch is the lowest of those evaluated.
        const TEpochHistory& h = ProgressForm->heldOutHistory;
        double lowest = INFINITY;
        std::uint64_t at = 0;
        for (std::size_t i = 0; i < h.Count(); ++i)
            if (h[i].values[TProgressForm::ClosedLoop] < lowest) {
                lowest = h[i].values[TProgressForm::ClosedLoop];
                at = h[i].epoch;
            }
        EXPECT_EQ(ProgressForm->bestClosedLoop, lowest);
        EXPECT_EQ(ProgressForm->bestEpoch, at);
        EXPECT_TRUE(ProgressForm->Label1->Caption().contains(QString::number(at)))
            << ProgressForm->Label1->Caption().toStdString();
    }
    EXPECT_EQ(ProgressForm->seriesEpochs, 600u); // closed, it kept counting

    // A new series starts a new curve.
    ASSERT_TRUE(Load(QStringLiteral(TRELIS_EXAMPLES_DIR "/trend_season.ser"), 12, 200));
    EXPECT_TRUE(ProgressForm->seriesHistory.Empty());
    EXPECT_TRUE(ProgressForm->heldOutHistory.Empty());
    EXPECT_EQ(ProgressForm->bestEpoch, 0u);
}

} // namespace
