// The learning window's training timer and the series window's training
// timer running together for a few thousand ticks, driven here tick by
// tick, while the sequence is browsed and edited in the retina view, the
// series is repainted and reloaded, and a new project replaces the series
// network part-way. After every step the training sequence is one intact
// ring of the length the edits made it, and the counters and buffers of
// both windows agree with the network and the sequence they work on.

#include "RobustnessFixture.h"

namespace robustness {
namespace {

class Soak : public ProjectInUse {
protected:
    void SetUp() override
    {
        ProjectInUse::SetUp();
        count = TrainingSequence.GetCount();
        ImForm->SpeedButton1Click(); // the brush
        ImForm->TrackBar1->setValue(3);
    }

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    // ">>" as the user reaches it: when it is greyed, and now and then
    // anyway, the menu opens the view again, on the sequence when there is
    // one, else on a fresh drawing of small separate strokes.
    void Next()
    {
        if (!SmImForm->isVisible() || !SmImForm->Button1->isEnabled() || Pick(15) == 0) {
            if (Form1->N10->isEnabled() && TrainingSequence.GetCount() > 0 && Pick(2) == 0) {
                Form1->N10->trigger();
            } else {
                ImForm->N1Click();
                for (int k = 0; k < 12; ++k) {
                    const int x = 10 + 25 * Pick(19), y = 10 + 25 * Pick(15);
                    ImForm->Image1MouseDown(Qt::LeftButton, x, y);
                    ImForm->Image1MouseMove(x + Pick(12), y + Pick(12));
                    ImForm->Image1MouseUp(Qt::LeftButton, x, y);
                }
                Form1->N6->trigger();
            }
        }
        SmImForm->Button1->click();
        ++steps.browsed;
    }

    // "Добавить в список" after choosing a class, or "Удалить из списка".
    void Edit(bool add)
    {
        if (!SmImForm->isVisible())
            return;
        QComboBox* box = SmImForm->ComboBox1;
        if (add && box->count() > 0) {
            box->setCurrentIndex(Pick(box->count()));
            emit box->activated(box->currentIndex());
        }
        if (add && SmImForm->Button2->isEnabled()) {
            SmImForm->Button2->click();
            ++count;
            ++steps.edits;
        } else if (!add) {
            SmImForm->Button3->click();
            count -= count > 0 ? 1 : 0;
            ++steps.edits;
        }
    }

    void LearningTick()
    {
        if (!LearnForm->Timer1->isActive()) {
            LearnForm->Button2->click(); // "Пуск"; refused on an empty or unfit sequence
            if (!LearnForm->Timer1->isActive())
                return;
        }
        const TAbsImage* cursor = TrainingSequence.CurrentElement();
        const std::uint32_t before = LearnForm->epochCount;
        LearnForm->Timer1Timer();
        if (LearnForm->epochCount == before || TrainingSequence.GetCount() == 0)
            return; // the sequence became empty or unfit while the timer ran
        ++steps.learning;
        EXPECT_EQ(TrainingSequence.CurrentElement(), cursor) << "an epoch leaves the cursor where it was";
        EXPECT_EQ(LearnForm->patternIndex, static_cast<std::int32_t>(TrainingSequence.GetCount()));
        EXPECT_LE(LearnForm->correctCount, LearnForm->patternIndex);
    }

    void SeriesTick()
    {
        if (!SerLForm->Timer1->isActive())
            return;
        const bool ready = SerLForm->SeriesReady();
        SerLForm->Timer1Timer();
        steps.series += ready;
        // Once the network is no longer the series network, training stops.
        EXPECT_EQ(SerLForm->Timer1->isActive(), ready);
        if (ready && SerLForm->trainLength > Form10->windowSize) {
            EXPECT_LE(SerLForm->minError, SerLForm->maxError);
            EXPECT_LE(SerLForm->maxError, 1.0f) << "an output of 0..1 against a target of 0..1";
        }
    }

    // "Обновить" with a series of a length of its own.
    void Reload()
    {
        const std::uint32_t least = std::max(SerLForm->trainLength, Form10->windowSize + 1);
        const int n = static_cast<int>(least) + Pick(20);
        std::string text = std::to_string(n) + "\n";
        for (int i = 0; i < n; ++i)
            text += std::to_string(Pick(1000) - 500) + " ";
        dialogAnswer = File(QStringLiteral("reload.ser"), text);
        const bool seriesNetwork = SerLForm->SeriesReady();
        const std::int32_t before = SeriesBuffer.count;
        Form1->N27->trigger();
        dialogAnswer.reset();
        EXPECT_EQ(SeriesBuffer.count, seriesNetwork ? n : before); // a replaced network refuses the reload
    }

    // Everything that must hold between two steps.
    void ExpectConsistent(int step)
    {
        SCOPED_TRACE("step " + std::to_string(step));
        ASSERT_EQ(RingFault(TrainingSequence), "");
        ASSERT_EQ(TrainingSequence.GetCount(), count);
        ASSERT_EQ(RetinaImage.Size, RetinaImage.Width * RetinaImage.Height);
        ASSERT_GE(RetinaImage.Cells.size(), RetinaImage.Size);
        ASSERT_LE(RetinaImage.Cells.size(), RetinaImage.Size + 1u);
        if (SerLForm->SeriesReady()) {
            ASSERT_EQ(CurrentNet->layers[0].inputCount, Form10->windowSize);
            ASSERT_EQ(Project.SeriesForecast().reproduction.size(), static_cast<std::size_t>(SeriesBuffer.count));
            for (std::int32_t i = 0; i < SeriesBuffer.count; ++i)
                ASSERT_TRUE(SeriesBuffer.values[i] >= 0.0f && SeriesBuffer.values[i] <= 1.0f) << i;
        }
        for (const float w : testnets::Weights(*CurrentNet))
            ASSERT_TRUE(std::isfinite(w));
    }

    // `n` steps, most of them ticks of the two training timers.
    void Run(int n)
    {
        for (int step = 0; step < n; ++step) {
            const int action = Pick(100);
            if (action < 35) {
                LearningTick();
            } else if (action < 70) {
                SeriesTick();
            } else if (action < 76) {
                if (SerLForm->Timer2->isActive())
                    SerLForm->Timer2Timer();
            } else if (action < 86) {
                Next();
            } else if (action < 98) {
                // Adding outweighs deleting until the sequence is long.
                Edit(action < 93 && TrainingSequence.GetCount() < 40);
            } else if (action < 99) {
                // The force box, and now and then the other training method.
                LearnForm->CheckBox1->setChecked(!LearnForm->CheckBox1->isChecked());
                LearnForm->stochastic = Pick(2) == 0 ? !LearnForm->stochastic : LearnForm->stochastic;
            } else if (const int rare = Pick(3); rare == 0) {
                Reload();
            } else if (rare == 1) {
                Form1->N22->trigger(); // "Распознать", the sheet closed again with a click
                AnsForm->Image1Click();
            } else {
                SerLForm->Button2->click(); // "Стоп" and "Пуск" of the series window
                SerLForm->Button1->click();
            }
            ExpectConsistent(step);
            if (HasFatalFailure())
                return;
        }
    }

    std::mt19937 random{20240601u};
    std::uint32_t count = 0; // elements the training sequence should have
    struct {
        int learning = 0, series = 0, browsed = 0, edits = 0;
    } steps;
};

TEST_F(Soak, BothTrainingTimersWithBrowsingAndEditingKeepEverythingConsistent)
{
    // The series network, trained by both windows at once.
    Run(1800);
    ASSERT_FALSE(HasFatalFailure());

    // A new project replaces the network: series training stops by itself,
    // the learning window goes on with the new network and new samples.
    NewProject(QStringLiteral("16"), QStringLiteral("3"), QStringLiteral("5"));
    Form7->Button1->click();
    count = 0;
    Run(1000);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_FALSE(SerLForm->Timer1->isActive());

    // A new series brings back its network and its sequence of windows.
    std::string text = "40\n";
    for (int i = 0; i < 40; ++i)
        text += std::to_string(std::sin(i * 0.4) * 10.0) + " ";
    ASSERT_TRUE(LoadSeries(File(QStringLiteral("sine.ser"), text), QStringLiteral("4"), QStringLiteral("30")));
    SerLForm->close(); // opened again, it repaints again
    SerLForm->Show();
    count = TrainingSequence.GetCount();
    Run(1200);
    ASSERT_FALSE(HasFatalFailure());

    // Both timers ticked many times between the edits.
    EXPECT_GT(steps.learning, 300);
    EXPECT_GT(steps.series, 700);
    EXPECT_GT(steps.browsed, 50);
    EXPECT_GT(steps.edits, 100);
}

} // namespace
} // namespace robustness
