// The series learning window: an epoch per tick, start and stop, training
// on while the window is closed, the picture, and the window without a
// series or after its network was replaced. Timers are driven by calling
// their handlers.

#include "SeriesFixture.h"

namespace {

using SeriesWindow = SeriesUser;

int CountColour(const QImage& image, QRgb colour, int x0 = 0, int y0 = 0, int x1 = 499, int y1 = 254)
{
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

const QImage& Picture()
{
    return SerLForm->Image1->Bitmap();
}

bool AllWhite()
{
    return CountColour(Picture(), clWhite) == 500 * 255;
}

void Scribble()
{
    SerLForm->Image1->Canvas().SetPixel(20, 20, clRed);
}

TEST_F(SeriesWindow, WithoutASeriesOrAfterTheNetworkWasReplacedItNeitherTrainsNorDraws)
{
    const auto expectIdle = [](const char* when) {
        const std::vector<float> weights = Weights(*CurrentNet);
        Scribble();
        SerLForm->Button1->click(); // "Пуск"
        SerLForm->Timer1Timer();
        SerLForm->Timer2Timer();
        EXPECT_FALSE(SerLForm->Timer1->isActive()) << when;
        EXPECT_EQ(Weights(*CurrentNet), weights) << when;
        EXPECT_TRUE(AllWhite()) << when;
    };
    expectIdle("before any load");
    ASSERT_TRUE(Load(Series("ten.ser", {5, 1, 4, 2, 8, 3, 9, 0, 7, 6}), 3, 10));
    // Another input count; the same input count with several outputs.
    for (const std::uint32_t inputs : {25u, 3u}) {
        Project.ReplaceNetwork(std::make_unique<TNeuralNet>(2, std::vector<std::uint32_t>{inputs, 8, 4}, 0.68f, 0.0f, 0.0f,
                                                  1.0f, 1.0f));
        expectIdle(inputs == 3 ? "four outputs" : "25 inputs");
    }
}

TEST_F(SeriesWindow, ButtonsStopAndStartTrainingAndClosingStopsOnlyTheRepaint)
{
    ASSERT_TRUE(Load(Series("ten.ser", {5, 1, 4, 2, 8, 3, 9, 0, 7, 6}), 3, 10));
    SerLForm->Button2->click(); // "Стоп"
    EXPECT_FALSE(SerLForm->Timer1->isActive());
    SerLForm->Button1->click(); // "Пуск"
    EXPECT_TRUE(SerLForm->Timer1->isActive());
    bool repainting = false;
    user = [&](TForm&) {
        repainting = SerLForm->Timer2->isActive();
        SerLForm->close();
    };
    Form1->N26->trigger();
    EXPECT_TRUE(repainting);
    EXPECT_FALSE(SerLForm->Timer2->isActive());
    EXPECT_TRUE(SerLForm->Timer1->isActive());
}

TEST_F(SeriesWindow, TheErrorFiguresAreInTheUnitsOfTheFile)
{
    ASSERT_TRUE(Load(File("246.ser", "3\n2 4 6"), 1, 3)); // range 4
    SerLForm->maxError = 0.25f;
    SerLForm->minError = 0.125f;
    EXPECT_EQ(SerLForm->MaxErrorText(), "Максимальная ошибка 1");
    EXPECT_EQ(SerLForm->MinErrorText(), "Минимальная ошибка 0.5");
    SerLForm->maxError = 0.0f; // an epoch without windows
    SerLForm->minError = 200000000.0f;
    EXPECT_EQ(SerLForm->MinErrorText(), "Минимальная ошибка 800000000");
}

TEST_F(SeriesWindow, ThePictureShowsGridSeriesReproductionAndErrors)
{
    // Alternating between the smallest value (top) and the largest (bottom).
    ASSERT_TRUE(Load(Series("zigzag.ser", {0, 10, 0, 10, 0, 10, 0, 10, 0, 10}), 3, 6));
    SerLForm->Timer1Timer();
    SerLForm->Button2Click();
    Scribble();
    SerLForm->Timer2Timer();
    const QImage oneStep = Picture().copy();
    for (const int x : {55, 111, 166, 222, 277, 333, 388, 444})
        EXPECT_GT(CountColour(oneStep, clBlue, x, 0, x, 254), 120) << x;
    for (const int x : {0, 20, 80, 250, 499})
        EXPECT_EQ(CountColour(oneStep, clBlue, x, 0, x, 254), 0) << x;
    // Black up to point 5 (column 277), red after it, yellow in between.
    EXPECT_EQ(oneStep.pixel(222, 1), clBlack);
    EXPECT_EQ(oneStep.pixel(444, 1), clRed);
    EXPECT_EQ(CountColour(oneStep, clRed, 0, 0, 274, 254), 0);
    EXPECT_EQ(CountColour(oneStep, clBlack, 281, 0, 499, 220), 0);
    EXPECT_GT(CountColour(oneStep, clYellow, 150, 20, 280, 234), 0);
    EXPECT_GT(CountColour(oneStep, clYellow, 300, 20, 499, 234), 0);
    // The error texts, at the bottom left between the slopes of the curve.
    EXPECT_GT(CountColour(oneStep, clBlack, 66, 226, 104, 252), 10);
    EXPECT_EQ(CountColour(oneStep, clBlack, 66, 120, 104, 200), 0);

    SerLForm->Timer2Timer();
    EXPECT_TRUE(Picture() == oneStep); // stopped: nothing moves
    SerLForm->CheckBox1->setChecked(true);
    SerLForm->Timer2Timer();
    EXPECT_FALSE(Picture() == oneStep);
    SerLForm->CheckBox1->setChecked(false);
    SerLForm->Timer1Timer(); // training goes on while hidden: the next picture moves
    SerLForm->Timer2Timer();
    EXPECT_FALSE(Picture() == oneStep);
}

} // namespace
