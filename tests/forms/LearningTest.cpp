// The learning window: epochs, bars, progress, status line, the stopping
// rule, the two training methods, and sequences or classes that do not fit
// the network.

#include "LearningFixture.h"

#include <climits>

namespace {

using LearningWindow = LearningUser;

QRgb Pixel(int x, int y)
{
    return LearnForm->Image1->Bitmap().pixel(x, y);
}

// Opens the window (as the menu does) and leaves it open; the epochs are
// then run by the test itself.
void Open()
{
    LearnForm->Show();
}

// The columns of the bar area that show a bar of the colour at the top row.
std::vector<int> Columns(QRgb colour)
{
    std::vector<int> found;
    for (int x = 0; x < LearnForm->Image1->width(); ++x)
        if (Pixel(x, 1) == colour)
            found.push_back(x);
    return found;
}

} // namespace

TEST_F(LearningWindow, AFirstPerfectEpochDrawsEveryBarAndStops)
{
    Project.ReplaceNetwork(Detector(3));
    Fill({OneHot(3, 0), OneHot(3, 1), OneHot(3, 2)}, {0, 1, 2});
    const TAbsImage* start = TrainingSequence.CurrentElement();
    Open();
    LearnForm->Button2->click();
    EXPECT_TRUE(LearnForm->Timer1->isActive());
    LearnForm->Timer1Timer();

    EXPECT_EQ(Columns(clBlack), (std::vector<int>{0, 66, 133}));
    EXPECT_TRUE(Columns(clYellow).empty());
    for (int x : {0, 66, 133}) {
        // An output near 1.0 hangs a bar of nearly the whole height.
        EXPECT_EQ(Pixel(x, 56), clBlack) << x;
        EXPECT_NE(Pixel(x, 59), clYellow) << x;
    }
    EXPECT_EQ(Pixel(1, 1), ButtonFaceColor());
    EXPECT_EQ(LearnForm->ProgressBar1->value(), 100);
    EXPECT_FALSE(LearnForm->Timer1->isActive());
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("Готово, шагов: 1"));
    EXPECT_EQ(TrainingSequence.CurrentElement(), start);
    EXPECT_EQ(LearnForm->patternIndex, 3);
    EXPECT_EQ(LearnForm->correctCount, 3);
}

TEST_F(LearningWindow, AWrongAnswerIsAYellowBarAndTrainingGoesOn)
{
    Project.ReplaceNetwork(Detector(3));
    // The third pattern looks like class 2 but is filed under class 0.
    Fill({OneHot(3, 0), OneHot(3, 1), OneHot(3, 2)}, {0, 1, 0});
    Open();
    LearnForm->Button2->click();
    LearnForm->Timer1Timer();

    EXPECT_EQ(Columns(clBlack), (std::vector<int>{0, 66}));
    EXPECT_EQ(Columns(clYellow), (std::vector<int>{133}));
    EXPECT_EQ(LearnForm->ProgressBar1->value(), 66);
    EXPECT_TRUE(LearnForm->Timer1->isActive());
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("1 шаг: 2 из 3"));

    LearnForm->Timer1Timer();
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("2 шаг: 2 из 3"));
    LearnForm->Button1->click();
    EXPECT_FALSE(LearnForm->Timer1->isActive());
}

TEST_F(LearningWindow, TheForceBoxKeepsTrainingAfterPerfectEpochs)
{
    Project.ReplaceNetwork(Detector(2));
    Fill({OneHot(2, 0), OneHot(2, 1)}, {0, 1});
    Open();
    LearnForm->CheckBox1->setChecked(true);
    LearnForm->Button2->click();
    LearnForm->Timer1Timer();
    EXPECT_TRUE(LearnForm->Timer1->isActive());
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("Готово, шагов: 1"));
    LearnForm->Timer1Timer();
    EXPECT_TRUE(LearnForm->Timer1->isActive());
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("Готово, шагов: 2"));

    // Untick it and the next perfect epoch stops the timer.
    LearnForm->CheckBox1->setChecked(false);
    LearnForm->Timer1Timer();
    EXPECT_FALSE(LearnForm->Timer1->isActive());
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("Готово, шагов: 3"));
}

TEST_F(LearningWindow, StartResetsTheCountersAndStepContinuesThemAfterReopening)
{
    Project.ReplaceNetwork(Detector(2));
    Fill({OneHot(2, 0), OneHot(2, 1)}, {1, 0});   // both wrong
    Open();
    LearnForm->Button2->click();
    LearnForm->Timer1Timer();
    LearnForm->Timer1Timer();
    EXPECT_EQ(LearnForm->epochCount, 2u);
    LearnForm->close();
    EXPECT_FALSE(LearnForm->Timer1->isActive());

    // Reopening paints the bar area over and stops the timer, but keeps
    // the counters and the status line.
    LearnForm->Timer1->start();
    Open();
    EXPECT_FALSE(LearnForm->Timer1->isActive());
    EXPECT_TRUE(Columns(clYellow).empty());
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("2 шаг: 0 из 2"));
    LearnForm->Button3->click();
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("3 шаг: 0 из 2"));
    EXPECT_FALSE(LearnForm->Timer1->isActive());   // Step does not start it

    LearnForm->Button2->click();
    EXPECT_EQ(LearnForm->epochCount, 0u);
    LearnForm->Timer1Timer();
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("1 шаг: 0 из 2"));
}

TEST_F(LearningWindow, PatternsSharingAColumnLeaveTheLastOneVisible)
{
    // 300 patterns over 200 columns: patterns 0 and 1 share column 0,
    // patterns 3 and 4 share column 2.
    const std::uint32_t n = 3;
    Project.ReplaceNetwork(Detector(n, {1.0f, 0.0f, 0.0f}));
    std::vector<TAbsImage> images;
    std::vector<std::int32_t> classes;
    for (int k = 0; k < 300; ++k) {
        images.push_back(OneHot(n, 1));
        classes.push_back(1);
    }
    classes[0] = 2;                // long yellow bar ...
    images[1] = OneHot(n, n);      // ... then a blank pattern: class 0 at 0.73, a shorter bar
    classes[1] = 0;
    classes[4] = 2;                // column 2: right, then wrong
    Fill(images, classes);
    Open();
    LearnForm->Button2->click();
    LearnForm->Timer1Timer();

    EXPECT_EQ(Pixel(0, 1), clBlack);
    EXPECT_EQ(Pixel(0, 40), clBlack);
    // Nothing of the first pattern's longer bar is left below the second's.
    for (int y = 46; y < 60; ++y)
        EXPECT_EQ(Pixel(0, y), ButtonFaceColor()) << y;
    EXPECT_EQ(Pixel(2, 1), clYellow);
    EXPECT_EQ(Pixel(1, 1), clBlack);
    EXPECT_EQ(Columns(clYellow), (std::vector<int>{2}));
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("1 шаг: 298 из 300"));
    EXPECT_EQ(LearnForm->ProgressBar1->value(), 99);
}

TEST_F(LearningWindow, AnEmptySequenceIsReportedAndNothingRuns)
{
    Project.ReplaceNetwork(Detector(2));
    const std::vector<float> before = Weights(*CurrentNet);
    Open();
    LearnForm->ProgressBar1->setValue(40);
    LearnForm->Button2->click();
    EXPECT_FALSE(LearnForm->Timer1->isActive());
    EXPECT_EQ(LearnForm->Label1->Caption(), TLearnForm::EmptySequenceText);
    LearnForm->Button3->click();
    LearnForm->Timer1Timer();
    EXPECT_EQ(LearnForm->Label1->Caption(), TLearnForm::EmptySequenceText);
    EXPECT_EQ(LearnForm->epochCount, 0u);
    EXPECT_EQ(LearnForm->ProgressBar1->value(), 40);
    EXPECT_EQ(Weights(*CurrentNet), before);

    // The same after the last element has been deleted.
    Fill({OneHot(2, 0)}, {0});
    Project.RemoveCurrentSample();
    LearnForm->Button3->click();
    LearnForm->Button2->click();
    EXPECT_FALSE(LearnForm->Timer1->isActive());
    EXPECT_EQ(LearnForm->Label1->Caption(), TLearnForm::EmptySequenceText);
}

TEST_F(LearningWindow, ElementsFiledUnderNoClassTrainTowardsZeroAndNeverCount)
{
    Project.ReplaceNetwork(Detector(2, {}, 1.0f));
    // Pattern 0 would win as class 0; the stored classes name no output.
    Fill({OneHot(2, 0), OneHot(2, 0)}, {-1, INT_MIN});
    Open();
    LearnForm->Button2->click();
    for (int epoch = 0; epoch < 50; ++epoch)
        LearnForm->Timer1Timer();
    EXPECT_EQ(LearnForm->correctCount, 0);
    EXPECT_EQ(LearnForm->Label1->Caption(), QStringLiteral("50 шаг: 0 из 2"));
    EXPECT_TRUE(LearnForm->Timer1->isActive());
    // All-zero targets pull both outputs down from 0.73 and 0.27.
    const std::int8_t pattern[3] = {1, 0, 1};
    TNeuralNet trained(*CurrentNet);
    trained.ForwardBytes(pattern);
    EXPECT_LT(trained.outputs[0], 0.5f);
    EXPECT_LT(trained.outputs[1], 0.2f);
}

TEST_F(LearningWindow, ASequenceTheNetworkCannotTakeIsExplainedAndNothingRuns)
{
    const struct {
        std::uint32_t inputs;
        std::vector<std::int32_t> classes;
        const char* reason;
    } cases[] = {
        {3, {0, 1}, "не совпадает с числом входов сети (3)"}, // elements of 2 cells
        {2, {0, 2}, "класса 2"},
        {2, {1, INT_MAX}, "только 2 выхода"},
    };
    for (const auto& c : cases) {
        Project.ReplaceNetwork(Detector(c.inputs));
        Fill({OneHot(2, 0), OneHot(2, 1)}, c.classes);
        const std::vector<float> before = Weights(*CurrentNet);
        Open();
        log.clear();
        LearnForm->Button2->click();
        LearnForm->Button3->click();
        EXPECT_FALSE(LearnForm->Timer1->isActive());
        EXPECT_EQ(LearnForm->Label1->Caption(), TLearnForm::UnfitNetworkText);
        ASSERT_EQ(log.size(), 2) << log.join(" | ").toStdString();
        EXPECT_TRUE(log[0].contains(QString::fromUtf8(c.reason))) << log[0].toStdString();
        EXPECT_EQ(Weights(*CurrentNet), before);
        LearnForm->close();
    }
}

