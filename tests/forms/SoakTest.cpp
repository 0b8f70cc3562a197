// The learning window's training timer and the series window's training
// timer running together for a few thousand ticks, driven here tick by
// tick, while the sequence is browsed and edited in the retina view, the
// series is repainted and reloaded, and a new project replaces the series
// network part-way. After every step the training sequence is one intact
// ring of the length the edits made it, and the counters and buffers of
// both windows agree with the network and the sequence they work on.

#include "RobustnessFixture.h"

#include <random>

namespace robustness {
namespace {

class Soak : public ProjectInUse {
protected:
    // What the test expects of the program, kept as the steps go.
    struct Expected {
        std::uint32_t count = 0;  // elements of the training sequence
        std::uint32_t epochs = 0; // learning epochs since the last "Пуск"
    };

    // What the steps did, so that the soak can tell it soaked.
    struct Tally {
        int learningEpochs = 0, stochasticEpochs = 0, seriesEpochs = 0, repaints = 0;
        int browsed = 0, taken = 0, added = 0, removed = 0, reloads = 0, recognised = 0;
    };

    void SetUp() override
    {
        ProjectInUse::SetUp();
        expected.count = TrainingSequence.Count;
        expected.epochs = LearnForm->epochCount;
        ImForm->SpeedButton1Click(); // the brush
        ImForm->TrackBar1->setValue(3);
    }

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    // Small strokes at random places of the canvas, each a figure of its own.
    void DrawFigures(int n)
    {
        for (int k = 0; k < n; ++k) {
            const int x = 10 + 25 * Pick(19);
            const int y = 10 + 25 * Pick(15);
            ImForm->Image1MouseDown(Qt::LeftButton, x, y);
            ImForm->Image1MouseMove(x + Pick(12), y + Pick(12));
            ImForm->Image1MouseUp(Qt::LeftButton, x, y);
        }
    }

    // ">>" as the user reaches it: when it is greyed, and now and then
    // anyway, the menu opens the view again, on the sequence when there is
    // one, else on a fresh drawing.
    void Next()
    {
        if (!SmImForm->isVisible() || !SmImForm->Button1->isEnabled() || Pick(15) == 0) {
            if (Form1->N10->isEnabled() && TrainingSequence.Count > 0 && Pick(2) == 0) {
                Form1->N10->trigger();
            } else {
                ImForm->N1Click();
                DrawFigures(12);
                Form1->N6->trigger();
            }
        }
        const bool browsing = SmImForm->showSequence;
        SmImForm->Button1->click();
        ++(browsing ? tally.browsed : tally.taken);
    }

    // "Добавить в список" after choosing a class in the box.
    void Add()
    {
        if (!SmImForm->isVisible())
            return;
        QComboBox* box = SmImForm->ComboBox1;
        if (box->count() > 0) {
            box->setCurrentIndex(Pick(box->count()));
            emit box->activated(box->currentIndex());
        }
        if (!SmImForm->Button2->isEnabled())
            return;
        SmImForm->Button2->click();
        ++expected.count;
        ++tally.added;
        EXPECT_TRUE(Form1->N18->isEnabled());
    }

    // "Удалить из списка".
    void Remove()
    {
        if (!SmImForm->isVisible())
            return;
        SmImForm->Button3->click();
        if (expected.count > 0) {
            --expected.count;
            ++tally.removed;
        }
    }

    void LearningTick()
    {
        if (!LearnForm->Timer1->isActive()) {
            LearnForm->Button2->click(); // "Пуск"
            expected.epochs = 0;
            if (!LearnForm->Timer1->isActive()) {
                // Nothing to train on, or samples the network has no room for.
                EXPECT_TRUE(TrainingSequence.Count == 0 ? LearnForm->Label1->Caption() == TLearnForm::EmptySequenceText
                                                        : LearnForm->Label1->Caption() == TLearnForm::UnfitNetworkText);
                return;
            }
        }
        const TAbsImage* cursor = TrainingSequence.Current;
        const std::uint32_t before = LearnForm->epochCount;
        LearnForm->Timer1Timer();
        if (LearnForm->epochCount == before && TrainingSequence.Count > 0) {
            // A sample the network has no room for came in while the timer ran.
            EXPECT_EQ(LearnForm->Label1->Caption(), TLearnForm::UnfitNetworkText);
            EXPECT_FALSE(LearnForm->Timer1->isActive());
            return;
        }
        ++expected.epochs;
        ++tally.learningEpochs;
        tally.stochasticEpochs += LearnForm->stochastic;
        const auto count = static_cast<std::int32_t>(TrainingSequence.Count);
        if (count == 0) {
            // Every element was deleted while the timer ran.
            EXPECT_FALSE(LearnForm->Timer1->isActive());
            EXPECT_EQ(LearnForm->Label1->Caption(), TLearnForm::EmptySequenceText);
            return;
        }
        EXPECT_EQ(TrainingSequence.Current, cursor) << "an epoch leaves the cursor where it was";
        EXPECT_EQ(LearnForm->epochCount, expected.epochs);
        EXPECT_EQ(LearnForm->patternIndex, count);
        EXPECT_GE(LearnForm->correctCount, 0);
        EXPECT_LE(LearnForm->correctCount, count);
        EXPECT_EQ(LearnForm->ProgressBar1->value(), 100 * LearnForm->correctCount / count);
        if (LearnForm->correctCount == count) {
            EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("Готово, шагов: %1").arg(expected.epochs));
            EXPECT_EQ(LearnForm->Timer1->isActive(), LearnForm->CheckBox1->isChecked());
        } else {
            EXPECT_EQ(LearnForm->Label1->Caption(),
                      QStringLiteral("%1 шаг: %2 из %3").arg(expected.epochs).arg(LearnForm->correctCount).arg(count));
            EXPECT_TRUE(LearnForm->Timer1->isActive());
        }
    }

    void SeriesTick()
    {
        if (!SerLForm->Timer1->isActive())
            return;
        const bool ready = SerLForm->SeriesReady();
        SerLForm->Timer1Timer();
        tally.seriesEpochs += ready;
        if (!ready) {
            // The network is no longer the series network: training stops.
            EXPECT_FALSE(SerLForm->Timer1->isActive());
            return;
        }
        const std::uint32_t windows = SerLForm->trainLength - Form10->windowSize;
        EXPECT_TRUE(std::isfinite(SerLForm->lastError));
        if (windows > 0) {
            EXPECT_LE(SerLForm->minError, SerLForm->maxError);
            EXPECT_GE(SerLForm->minError, 0.0f);
            EXPECT_LE(SerLForm->maxError, 1.0f) << "an output of 0..1 against a target of 0..1";
        }
    }

    void Repaint()
    {
        if (!SerLForm->Timer2->isActive())
            return;
        SerLForm->Timer2Timer();
        ++tally.repaints;
    }

    // "Обновить" with a series of a length of its own.
    void Reload()
    {
        // Long enough for the window and training length of the last load.
        const std::uint32_t least = std::max(SerLForm->trainLength, Form10->windowSize + 1);
        const int n = static_cast<int>(least) + Pick(20);
        std::string text = std::to_string(n) + "\n";
        for (int i = 0; i < n; ++i)
            text += std::to_string(Pick(1000) - 500) + " ";
        dialogAnswer = File(QStringLiteral("reload.ser"), text);
        log.clear();
        const bool seriesNetwork = SerLForm->SeriesReady();
        Form1->N27->trigger();
        dialogAnswer.reset();
        if (seriesNetwork) {
            ++tally.reloads;
            EXPECT_EQ(Boxes(), QStringList{});
            EXPECT_EQ(SeriesBuffer.count, n);
            EXPECT_TRUE(SerLForm->Timer1->isActive());
        } else {
            EXPECT_EQ(Boxes(), QStringList{QString::fromStdString(ReplacedNetworkMessage())});
        }
    }

    // "Холст" / "Распознать" on what is still black on the canvas; the
    // answer sheet is closed again with a click.
    void Recognise()
    {
        Form1->N22->trigger();
        EXPECT_TRUE(AnsForm->isVisible());
        AnsForm->Image1Click();
        EXPECT_FALSE(AnsForm->isVisible());
        ++tally.recognised;
    }

    // Everything that must hold between two steps.
    void ExpectConsistent(int step)
    {
        SCOPED_TRACE("step " + std::to_string(step));
        ASSERT_EQ(RingFault(TrainingSequence), "");
        ASSERT_EQ(TrainingSequence.Count, expected.count);
        // The retina's grid and buffer agree: cells, then at most the bias byte.
        ASSERT_EQ(RetinaImage.Size, RetinaImage.Width * RetinaImage.Height);
        ASSERT_GE(RetinaImage.Cells.size(), RetinaImage.Size);
        ASSERT_LE(RetinaImage.Cells.size(), RetinaImage.Size + 1u);
        // The series buffers fit the series and the window.
        if (SerLForm->SeriesReady()) {
            ASSERT_EQ(CurrentNet->layers[0].inputCount, Form10->windowSize);
            ASSERT_EQ(Project.SeriesForecast().reproduction.size(), static_cast<std::size_t>(SeriesBuffer.count));
            ASSERT_LE(SerLForm->trainLength, static_cast<std::uint32_t>(SeriesBuffer.count));
            for (std::int32_t i = 0; i < SeriesBuffer.count; ++i)
                ASSERT_TRUE(SeriesBuffer.values[i] >= 0.0f && SeriesBuffer.values[i] <= 1.0f) << i;
        }
        for (const TLayer& layer : CurrentNet->layers)
            for (std::size_t i = 0; i < layer.weights.Rows(); ++i)
                for (std::size_t j = 0; j < layer.weights.Columns(); ++j)
                    ASSERT_TRUE(std::isfinite(layer.weights[i][j]));
    }

    // `steps` steps, most of them ticks of the two training timers.
    void Run(int steps)
    {
        for (int step = 0; step < steps; ++step) {
            const int action = Pick(100);
            if (action < 35) {
                LearningTick();
            } else if (action < 70) {
                SeriesTick();
            } else if (action < 76) {
                Repaint();
            } else if (action < 86) {
                Next();
            } else if (action < 93) {
                // Adding outweighs deleting until the sequence is long.
                if (TrainingSequence.Count < 40)
                    Add();
                else
                    Remove();
            } else if (action < 98) {
                Remove();
            } else if (action < 99) {
                // The force box, and now and then the other training method.
                LearnForm->CheckBox1->setChecked(!LearnForm->CheckBox1->isChecked());
                if (Pick(2) == 0)
                    LearnForm->stochastic = !LearnForm->stochastic;
            } else if (const int rare = Pick(4); rare == 0) {
                Reload();
            } else if (rare == 1) {
                Recognise();
            } else {
                // "Стоп" and "Пуск" of the series window.
                SerLForm->Button2->click();
                SerLForm->Button1->click();
            }
            ExpectConsistent(step);
            if (HasFatalFailure())
                return;
        }
    }

    std::mt19937 random{20240601u};
    Expected expected;
    Tally tally;
};

TEST_F(Soak, BothTrainingTimersWithBrowsingAndEditingKeepEverythingConsistent)
{
    // The series network, trained by both windows at once.
    Run(1800);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_GT(TrainingSequence.Count, 0u);

    // A new project replaces the network: series training stops by itself,
    // the learning window goes on with the new network and new samples.
    NewProject(QStringLiteral("16"), QStringLiteral("3"), QStringLiteral("5"));
    Form7->Button1->click();
    expected.count = 0;
    ASSERT_EQ(TrainingSequence.Count, 0u);
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
    expected.count = TrainingSequence.Count;
    ASSERT_EQ(expected.count, 36u);
    Run(1200);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(SerLForm->Timer1->isActive() || !SerLForm->SeriesReady());

    // Both timers did tick over a thousand times between the edits (the
    // learning window rests while samples of classes the network has no
    // output for are in the sequence).
    EXPECT_GT(tally.learningEpochs + tally.seriesEpochs, 1000);
    EXPECT_GT(tally.stochasticEpochs, 50);
    EXPECT_GT(tally.seriesEpochs, 700);
    EXPECT_GT(tally.repaints, 50);
    EXPECT_GT(tally.browsed, 50);
    EXPECT_GT(tally.taken, 20);
    EXPECT_GT(tally.added, 60);
    EXPECT_GT(tally.removed, 50);
    EXPECT_GT(tally.reloads, 1);
    EXPECT_GT(tally.recognised, 1);
}

} // namespace
} // namespace robustness
