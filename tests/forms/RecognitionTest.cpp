// "Холст" / "Распознать": every figure of the canvas taken off in turn and
// named on the answer sheet at its place, in a font as high as the figure.

#include "LearningFixture.h"

#include <QApplication>

namespace {

class Recognition : public LearningUser {
protected:
    void SetUp() override
    {
        LearningUser::SetUp();
        TCanvas& canvas = ImForm->Image1->Canvas();
        canvas.SetPenWidth(1);
        canvas.SetPenColor(clBlack);
        canvas.SetBrushColor(clBlack);
    }

    // A filled black box covering columns x1 .. x2 - 1 and rows y1 .. y2 - 1.
    static void Box(int x1, int y1, int x2, int y2)
    {
        ImForm->Image1->Canvas().Rectangle(x1, y1, x2, y2);
    }

    struct Label {
        int x, y, points;
        QString name;
    };

    // A white sheet with the labels written as the answer should hold them.
    static QImage Sheet(const std::vector<Label>& labels)
    {
        QImage sheet = MakeBitmap(500, 400);
        TCanvas canvas(sheet);
        for (const Label& l : labels) {
            canvas.SetFontName(QStringLiteral("Times New Roman"));
            canvas.SetFontSize(l.points);
            canvas.SetTransparentText(true);
            canvas.TextOut(l.x, l.y, l.name);
        }
        return sheet;
    }

    // Pixels where the answer sheet differs from the expected one.
    static int Differences(const QImage& expected)
    {
        const QImage& actual = AnsForm->Image1->Bitmap();
        int count = 0;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 500; ++x)
                if (actual.pixel(x, y) != expected.pixel(x, y))
                    ++count;
        return count;
    }

    static int SetCells()
    {
        return static_cast<int>(std::count(CanvasImage.Cells.begin(), CanvasImage.Cells.end(), 1));
    }

    // Runs "Распознать" and closes the sheet with a click, as the user does.
    static void Recognize()
    {
        Form1->N22Click();
        EXPECT_TRUE(AnsForm->isVisible());
    }
};

} // namespace

TEST_F(Recognition, FiguresAreNamedAtTheirCornersInTheirHeight)
{
    UseProject(Answering(9, 4, 2), 3, {QStringLiteral("ноль"), QStringLiteral("один"), QStringLiteral("два"), QStringLiteral("три")});
    // Two boxes that touch only at a corner are one figure: x 50..119, y 50..129.
    Box(50, 50, 80, 90);
    Box(80, 90, 120, 130);
    // A small figure whose label falls on the first one's letters.
    Box(130, 60, 141, 70);
    // A stroke one pixel high: font size 0, the system's default size.
    Box(200, 300, 260, 301);
    Recognize();

    const QString name = QStringLiteral("два");
    EXPECT_EQ(Differences(Sheet({{50, 50, 79, name}, {130, 60, 9, name}, {200, 300, 0, name}})), 0);
    EXPECT_EQ(SetCells(), 0);
    // The canvas window describes the last figure taken.
    EXPECT_EQ(ImForm->objectLeft, 200u);
    EXPECT_EQ(ImForm->objectTop, 300u);
    EXPECT_EQ(ImForm->objectHeight, 0u);
}

TEST_F(Recognition, ASecondRunOnTheSameCanvasGivesABlankSheet)
{
    UseProject(Answering(9, 2, 1), 3, {QStringLiteral("ноль"), QStringLiteral("один")});
    Box(10, 10, 40, 40);
    Recognize();
    EXPECT_EQ(Differences(Sheet({{10, 10, 29, QStringLiteral("один")}})), 0);

    QTest::mouseClick(AnsForm->Image1, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(AnsForm->isVisible());

    // The figure is yellow now: nothing is left to recognise.
    Recognize();
    EXPECT_EQ(Differences(Sheet({})), 0);
    AnsForm->close();

    // Drawn over in black, it is recognised again.
    Box(10, 10, 40, 40);
    Recognize();
    EXPECT_EQ(Differences(Sheet({{10, 10, 29, QStringLiteral("один")}})), 0);
}

TEST_F(Recognition, TheSheetClosesWhenAnotherWindowIsActivated)
{
    Recognize();
    QApplication::setActiveWindow(AnsForm);
    QApplication::setActiveWindow(Form1);
    EXPECT_FALSE(AnsForm->isVisible());
}

TEST_F(Recognition, EachFigureIsNamedFromItsOwnSample)
{
    // On a 2 x 2 retina a full box sets the top-right cell and an L-shaped
    // figure (its top-right quarter missing) does not; the network answers 1
    // for that cell and 0 otherwise.
    auto net = std::make_unique<TNeuralNet>(1, std::vector<std::uint32_t>{4, 2}, 0.68f, 0.0f, 0.0f, 1.0f, 1.0f);
    TLayer& layer = net->layers[0];
    for (std::size_t i = 0; i < 5; ++i)
        layer.weights[i][0] = layer.weights[i][1] = 0.0f;
    layer.weights[1][1] = 10.0f;
    layer.weights[4][1] = -5.0f;
    UseProject(std::move(net), 2, {QStringLiteral("уголок"), QStringLiteral("квадрат")});

    Box(20, 20, 61, 61);                        // box, 40 high
    Box(100, 20, 141, 61);                      // L: a box ...
    ImForm->Image1->Canvas().SetPenColor(clWhite);
    ImForm->Image1->Canvas().SetBrushColor(clWhite);
    Box(118, 20, 141, 42);                      // ... without its top-right quarter
    ImForm->Image1->Canvas().SetPenColor(clBlack);
    ImForm->Image1->Canvas().SetBrushColor(clBlack);
    Box(200, 100, 241, 141);                    // another box
    Recognize();
    EXPECT_EQ(Differences(Sheet({{20, 20, 40, QStringLiteral("квадрат")},
                                 {100, 20, 40, QStringLiteral("уголок")},
                                 {200, 100, 40, QStringLiteral("квадрат")}})),
              0);
}

TEST_F(Recognition, BeforeAnyProjectAndWithARetinaOfAnotherSize)
{
    // Right after start: a 0 x 0 retina and the one-input placeholder
    // network, whose single output always wins.
    SetClassNames({QStringLiteral("ноль")});
    Box(30, 30, 50, 45);
    Recognize();
    EXPECT_EQ(Differences(Sheet({{30, 30, 14, QStringLiteral("ноль")}})), 0);
    AnsForm->close();

    // A retina of 3 x 3 cells for a network of 20 inputs, and the other way
    // round: the network reads only what the retina holds.
    for (const auto& [side, inputs] : {std::pair{3, 20u}, std::pair{6, 4u}}) {
        UseProject(Answering(inputs, 2, 1), side, {QStringLiteral("ноль"), QStringLiteral("один")});
        Box(300, 200, 330, 250);
        Recognize();
        EXPECT_EQ(Differences(Sheet({{300, 200, 49, QStringLiteral("один")}})), 0) << side;
        AnsForm->close();
    }
}

TEST_F(Recognition, AWinnerWithoutANameWritesNothing)
{
    UseProject(Answering(9, 5, 4), 3, {QStringLiteral("ноль"), QStringLiteral("один")});   // class 4 has no row
    Box(30, 30, 60, 60);
    Recognize();
    EXPECT_EQ(Differences(Sheet({})), 0);
    EXPECT_EQ(SetCells(), 0);
}
