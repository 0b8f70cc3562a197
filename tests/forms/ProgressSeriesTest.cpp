// The learning progress window beside the series window: opened from either
// menu while the series trains, its timer brings the held-out figures up to
// the last epoch and shows the best closed-loop epoch. What it keeps of the
// epochs is tested in tests/project/TrainingHistoryTest.cpp.

#include "SeriesFixture.h"

namespace {

using ProgressOfASeries = SeriesUser;

TEST_F(ProgressOfASeries, OpenedWhileTrainingRunsItShowsTheSeriesWindowsAndTheHeldOutFigures)
{
    ASSERT_TRUE(Load(QStringLiteral(TRELIS_EXAMPLES_DIR "/noisy_sine.ser"), 12, 200));
    ASSERT_TRUE(SerLForm->Timer1->isActive()); // a load starts training
    const TTrainingHistory& history = ProgressForm->History();

    for (QAction* item : {Form1->N33, Form1->N32}) { // from "Временной ряд", then from "Обучение"
        SCOPED_TRACE(item->objectName().toStdString());
        ProgressForm->close();
        item->trigger();
        ASSERT_TRUE(ProgressForm->isVisible());
        for (int tick = 0; tick < 300; ++tick)
            SerLForm->Timer1Timer();
        ProgressForm->Timer1Timer(); // the repaint: the last epoch gets its held-out figures

        ASSERT_FALSE(history.HeldOut().Empty());
        EXPECT_EQ(history.HeldOut().Last().epoch, history.SeriesEpochs());
        EXPECT_TRUE(ProgressForm->Label1->Caption().startsWith(
            QStringLiteral("Эпоха %1: ошибка окна от ").arg(history.SeriesEpochs())))
            << ProgressForm->Label1->Caption().toStdString();
        EXPECT_TRUE(ProgressForm->Label1->Caption().contains(
            QStringLiteral("замкнутый прогноз лучше всего в эпоху %1: ").arg(history.BestEpoch())))
            << ProgressForm->Label1->Caption().toStdString();
    }
}

} // namespace
