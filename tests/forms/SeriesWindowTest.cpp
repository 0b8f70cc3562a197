// The series learning window: training per tick, start and stop, training
// on while the window is closed, the picture, and the window's behaviour
// without a series or after its network was replaced. Timers are driven by
// calling their handlers.

#include "SeriesFixture.h"

#include "forms/SeriesMath.h"
#include "framework/Canvas.h"

#include <QCheckBox>
#include <QImage>
#include <QPushButton>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#ifndef TRELIS_EXAMPLES_DIR
#error "TRELIS_EXAMPLES_DIR must name the folder of the sample series"
#endif

namespace {

using SeriesWindow = SeriesUser;

// Pixels of the picture for which the test holds, within a box.
int CountPixels(const QImage& image, const std::function<bool(int x, int y, QRgb colour)>& test,
                int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1)
{
    if (x1 < 0)
        x1 = image.width() - 1;
    if (y1 < 0)
        y1 = image.height() - 1;
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            n += test(x, y, image.pixel(x, y));
    return n;
}

int CountColour(const QImage& image, QRgb colour, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1)
{
    return CountPixels(image, [colour](int, int, QRgb c) { return c == colour; }, x0, y0, x1, y1);
}

const QImage& Picture()
{
    return SerLForm->Image1->Bitmap();
}

// Scribbles on the picture, so that a repaint that clears it shows.
void Scribble()
{
    TCanvas& canvas = SerLForm->Image1->Canvas();
    canvas.SetBrushColor(clRed);
    canvas.SetPenColor(clRed);
    canvas.Rectangle(10, 10, 60, 60);
}

// A pattern network of 25 inputs and 4 outputs, as a new project builds it.
void ReplaceNetwork(std::uint32_t inputs = 25, std::uint32_t outputs = 4)
{
    CurrentNet.reset();
    CurrentNet = std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{inputs, 8, outputs}, 0.68f, 0.0f,
                                              0.0f, 1.0f, 1.0f);
}

TEST_F(SeriesWindow, BeforeAnyLoadItNeitherTrainsNorDrawsNorStarts)
{
    const std::vector<float> weights = Weights(*CurrentNet);
    Scribble();
    SerLForm->Button1->click(); // "Пуск"
    EXPECT_FALSE(SerLForm->Timer1->isActive());
    SerLForm->Timer1Timer();
    SerLForm->Timer2Timer();
    EXPECT_EQ(Weights(*CurrentNet), weights);
    EXPECT_EQ(CountColour(Picture(), clWhite), Picture().width() * Picture().height());
    EXPECT_TRUE(SerLForm->windowInputs.empty());
    EXPECT_TRUE(SerLForm->reproduction.empty());
    // Shown from the menu, it repaints only while shown.
    bool repaintingWhileShown = false;
    user = [&](TForm&) { repaintingWhileShown = SerLForm->Timer2->isActive(); };
    Form1->N26->trigger();
    EXPECT_TRUE(repaintingWhileShown);
    EXPECT_FALSE(SerLForm->Timer2->isActive());
    EXPECT_TRUE(log.filter("box").isEmpty());
}

TEST_F(SeriesWindow, AReplacedNetworkIsNeitherTrainedNorDrawnAndTrainingStops)
{
    ASSERT_TRUE(Load(Series("ten.ser", {5, 1, 4, 2, 8, 3, 9, 0, 7, 6}), 3, 10));
    SerLForm->Timer1Timer();
    // Another input count, or the same input count with several outputs.
    for (const auto& [inputs, outputs] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{{25, 4}, {3, 4}}) {
        ReplaceNetwork(inputs, outputs);
        SerLForm->Button1Click();
        const std::vector<float> weights = Weights(*CurrentNet);
        const std::vector<float> reproduction = SerLForm->reproduction;
        Scribble();
        SerLForm->Timer1Timer();
        EXPECT_FALSE(SerLForm->Timer1->isActive()) << inputs;
        SerLForm->Button1Click();
        EXPECT_FALSE(SerLForm->Timer1->isActive()) << inputs;
        SerLForm->DrawSeries();
        EXPECT_EQ(Weights(*CurrentNet), weights) << inputs;
        EXPECT_EQ(SerLForm->reproduction, reproduction) << inputs;
        EXPECT_EQ(CountColour(Picture(), clWhite), Picture().width() * Picture().height()) << inputs;
        EXPECT_FALSE(SerLForm->SeriesReady());
    }
}

TEST_F(SeriesWindow, StopAndStartTrainingWithTheButtons)
{
    ASSERT_TRUE(Load(Series("ten.ser", {5, 1, 4, 2, 8, 3, 9, 0, 7, 6}), 3, 10));
    ASSERT_TRUE(SerLForm->Timer1->isActive());
    SerLForm->Button2->click(); // "Стоп"
    EXPECT_FALSE(SerLForm->Timer1->isActive());
    SerLForm->Button1->click(); // "Пуск"
    EXPECT_TRUE(SerLForm->Timer1->isActive());
    EXPECT_EQ(SerLForm->Timer1->interval(), 1);
    EXPECT_EQ(SerLForm->Timer2->interval(), 500);
}

TEST_F(SeriesWindow, ClosingTheWindowStopsTheRepaintButNotTheTraining)
{
    ASSERT_TRUE(Load(Series("ten.ser", {5, 1, 4, 2, 8, 3, 9, 0, 7, 6}), 3, 10));
    bool repainting = false;
    bool training = false;
    user = [&](TForm& form) {
        ASSERT_EQ(&form, SerLForm);
        repainting = SerLForm->Timer2->isActive();
        training = SerLForm->Timer1->isActive();
        SerLForm->close();
    };
    Form1->N26->trigger();
    EXPECT_TRUE(repainting);
    EXPECT_TRUE(training);
    EXPECT_FALSE(SerLForm->isVisible());
    EXPECT_FALSE(SerLForm->Timer2->isActive());
    EXPECT_TRUE(SerLForm->Timer1->isActive());
    // Ticks while closed go on changing the network.
    const std::vector<float> weights = Weights(*CurrentNet);
    SerLForm->Timer1Timer();
    EXPECT_NE(Weights(*CurrentNet), weights);
}

TEST_F(SeriesWindow, EachTickTrainsOneEpochAndKeepsItsErrorFigures)
{
    ASSERT_TRUE(Load(Series("ten.ser", {5, 1, 4, 2, 8, 3, 9, 0, 7, 6}), 3, 6));
    TNeuralNet expected = *CurrentNet;
    std::vector<float> inputs(4);
    float target = 0.0f;
    const TEpochErrors errors = TrainSeriesEpoch(expected, SeriesValues().data(), 6, 3, inputs.data(), &target, 0.0f);
    SerLForm->Timer1Timer();
    EXPECT_EQ(Weights(*CurrentNet), Weights(expected));
    EXPECT_EQ(SerLForm->minError, errors.minError);
    EXPECT_EQ(SerLForm->maxError, errors.maxError);
    EXPECT_EQ(SerLForm->lastError, errors.lastError);
    EXPECT_GT(SerLForm->maxError, 0.0f);
    EXPECT_LT(SerLForm->minError, SerLForm->maxError);
    EXPECT_EQ(SerLForm->windowInputs[3], 1.0f);
}

TEST_F(SeriesWindow, ErrorTextsAreInTheUnitsOfTheFile)
{
    ASSERT_TRUE(Load(File("246.ser", "3\n2 4 6"), 1, 3));
    SerLForm->maxError = 0.25f;
    SerLForm->minError = 0.125f;
    EXPECT_EQ(SerLForm->MaxErrorText(), "Максимальная ошибка 1");
    EXPECT_EQ(SerLForm->MinErrorText(), "Минимальная ошибка 0.5");
    // An epoch without windows leaves 0 and 2e8, shown times the range.
    SerLForm->maxError = 0.0f;
    SerLForm->minError = 200000000.0f;
    EXPECT_EQ(SerLForm->MaxErrorText(), "Максимальная ошибка 0");
    EXPECT_EQ(SerLForm->MinErrorText(), "Минимальная ошибка 800000000");
}

// Ten values alternating between the smallest (top row) and the largest
// (bottom row), window 3, training length 6.
class SeriesPicture : public SeriesWindow {
protected:
    void SetUp() override
    {
        SeriesWindow::SetUp();
        ASSERT_TRUE(Load(Series("zigzag.ser", {0, 10, 0, 10, 0, 10, 0, 10, 0, 10}), 3, 6));
        SerLForm->Timer1Timer();
        SerLForm->Button2Click();
        Scribble();
        SerLForm->Timer2Timer();
    }
};

TEST_F(SeriesPicture, GridLinesStandAtThePointsColumns)
{
    const QImage& p = Picture();
    ASSERT_EQ(p.width(), 500);
    ASSERT_EQ(p.height(), 255);
    for (const int x : {55, 111, 166, 222, 277, 333, 388, 444})
        EXPECT_GT(CountColour(p, clBlue, x, 0, x, 254), 120) << x;
    // Nothing blue between the points' columns, nor at the left edge.
    for (const int x : {0, 30, 80, 250, 470, 499})
        EXPECT_EQ(CountColour(p, clBlue, x, 0, x, 254), 0) << x;
    // The earlier scribble is gone.
    EXPECT_EQ(CountColour(p, clRed, 0, 0, 150, 254), 0);
}

TEST_F(SeriesPicture, TheTrainingPartIsBlackTheRestRedAndTheReproductionYellow)
{
    const QImage& p = Picture();
    // Point 4 (top) lies in the training part, points 6 and 8 (top) after it.
    EXPECT_EQ(p.pixel(222, 1), clBlack);
    EXPECT_EQ(p.pixel(333, 1), clRed);
    EXPECT_EQ(p.pixel(444, 1), clRed);
    // Red starts at point 5 (column 277), black ends there.
    EXPECT_EQ(CountColour(p, clRed, 0, 0, 274, 254), 0);
    EXPECT_GT(CountColour(p, clRed, 278, 0, 499, 254), 100);
    EXPECT_EQ(CountColour(p, clBlack, 281, 0, 499, 220), 0);
    // The reproduction: yellow points in the middle rows, where the true
    // series never is, over the whole width.
    for (const auto& [x0, x1] : std::vector<std::pair<int, int>>{{150, 280}, {300, 499}})
        EXPECT_GT(CountColour(p, clYellow, x0, 20, x1, 234), 0) << x0;
    // With training as long as the series there is no red part.
    ASSERT_TRUE(Load(Series("zigzag.ser", {0, 10, 0, 10, 0, 10, 0, 10, 0, 10}), 3, 10));
    SerLForm->DrawSeries();
    EXPECT_EQ(CountColour(Picture(), clRed), 0);
    EXPECT_GT(CountColour(Picture(), clBlack, 300, 0, 499, 254), 0);
}

TEST_F(SeriesPicture, TheErrorFiguresAreWrittenAtTheBottomLeft)
{
    // Between the curves' slopes near columns 55 and 111 and 166 the text
    // is the only black there is.
    EXPECT_GT(CountColour(Picture(), clBlack, 66, 226, 104, 252), 10);
    EXPECT_EQ(CountColour(Picture(), clBlack, 66, 120, 104, 200), 0);
}

TEST_F(SeriesPicture, TheFeedbackBoxChangesTheYellowCurveAndAStoppedNetworkDrawsTheSamePicture)
{
    const QImage oneStep = Picture().copy();
    SerLForm->Timer2Timer();
    EXPECT_TRUE(Picture() == oneStep); // stopped: nothing moves
    SerLForm->CheckBox1->setChecked(true);
    SerLForm->Timer2Timer();
    const QImage fedBack = Picture().copy();
    EXPECT_FALSE(fedBack == oneStep);
    // Only the yellow curve differs.
    EXPECT_EQ(CountPixels(oneStep,
                          [&](int x, int y, QRgb c) {
                              const QRgb other = fedBack.pixel(x, y);
                              return c != other && c != clYellow && other != clYellow;
                          }),
              0);
    // A training tick moves the curve.
    SerLForm->CheckBox1->setChecked(false);
    SerLForm->Timer1Timer();
    SerLForm->Timer2Timer();
    EXPECT_FALSE(Picture() == oneStep);
}

TEST_F(SeriesWindow, ANoisySineIsLearnedWellBelowTheUntrainedError)
{
    const QString path = QStringLiteral(TRELIS_EXAMPLES_DIR "/noisy_sine.ser");
    ASSERT_TRUE(Load(path, 12, 200));
    ASSERT_EQ(SeriesBuffer.count, 300);
    const auto oneStepError = [] {
        // The mean distance of the one-step predictions inside the training
        // part from the true values.
        std::vector<float> reproduction(300);
        std::vector<float> inputs(13);
        ReproduceSeries(*CurrentNet, SeriesBuffer.values.get(), 300, 200, 12, false, inputs.data(),
                        reproduction.data());
        double sum = 0.0;
        for (int p = 12; p < 200; ++p)
            sum += std::fabs(reproduction[p] - SeriesBuffer.values[p]);
        return sum / 188.0;
    };
    const double untrained = oneStepError();
    for (int tick = 0; tick < 3000; ++tick)
        SerLForm->Timer1Timer();
    const double trained = oneStepError();
    EXPECT_LT(trained, untrained / 4.0) << "untrained " << untrained << ", trained " << trained;
    // The figures of the last epoch agree: every window is close.
    EXPECT_LT(SerLForm->maxError, 0.5f);
    EXPECT_LT(SerLForm->minError, SerLForm->maxError);
}

} // namespace
