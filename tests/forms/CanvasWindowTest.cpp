// The canvas window driven with the mouse: strokes, tools, clearing, and
// figures taken off the canvas one by one.
#include "CanvasFixture.h"

#include <QToolButton>

namespace {

using CanvasDrawing = CanvasUser;
using CanvasFigures = CanvasUser;

// Black pixels in column x between rows y0 and y1.
int BlackInColumn(int x, int y0, int y1)
{
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        n += ImForm->Image1->Bitmap().pixel(x, y) == clBlack;
    return n;
}

TEST_F(CanvasDrawing, ADragDrawsAContinuousBlackPolylineOfThePenWidth)
{
    Drag({{100, 100}, {160, 100}, {200, 100}, {200, 180}, {120, 300}});
    EXPECT_FALSE(ImForm->drawing);
    for (int x = 100; x <= 200; ++x)
        EXPECT_EQ(Canvas().pixel(x, 100), clBlack) << x;
    for (int y = 100; y <= 180; ++y)
        EXPECT_EQ(Canvas().pixel(200, y), clBlack) << y;
    // Only black and white, no shades at the edges of the slanted part.
    EXPECT_EQ(Count(Canvas(), clBlack) + Count(Canvas(), clWhite), 500 * 400);
    // The pen is 4 pixels wide at start, with round ends.
    EXPECT_EQ(BlackInColumn(150, 90, 110), 4);
    EXPECT_EQ(Canvas().pixel(150, 106), clWhite);
    EXPECT_EQ(Canvas().pixel(94, 100), clWhite);

    // The whole polyline is one figure.
    ImForm->ReadCanvas();
    auto first = FindFirstSetCell(CanvasImage, 500, 400);
    ASSERT_TRUE(first);
    ImForm->ExtractObject(first->x, first->y);
    EXPECT_FALSE(FindFirstSetCell(CanvasImage, 500, 400));

    for (int width : {1, 9, 15}) {
        SetPenWidth(width);
        const int y = 20 * width;
        Drag({{300, y}, {400, y}});
        EXPECT_EQ(BlackInColumn(350, y - 10, y + 10), width) << width;
    }
}

TEST_F(CanvasDrawing, AClickOrAMoveWithoutAPressedButtonDrawsNothing)
{
    const QImage before = Canvas();
    QTest::mouseClick(ImForm->Image1, Qt::LeftButton, {}, QPoint(50, 50));
    // The cursor passing over the canvas.
    QMouseEvent move(QEvent::MouseMove, QPointF(80, 80), QPointF(80, 80), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(ImForm->Image1, &move);
    EXPECT_EQ(Canvas(), before);
    EXPECT_FALSE(ImForm->drawing);
}

TEST_F(CanvasDrawing, TheRightButtonDrawsTooAndOpensThePopupMenuWhenReleased)
{
    ImForm->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ImForm));
    Drag({{10, 10}, {60, 10}}, Qt::RightButton);
    EXPECT_EQ(Canvas().pixel(35, 10), clBlack);
    EXPECT_FALSE(ImForm->drawing);
    EXPECT_TRUE(ImForm->PopupMenu1->isVisible());
    const QStringList items{ImForm->N1->text(), ImForm->N2->text(), ImForm->N3->text()};
    EXPECT_EQ(items, (QStringList{"Очистить", "Кисть", "Резинка"}));
    ImForm->PopupMenu1->hide();
}

TEST_F(CanvasDrawing, TheEraserDrawsWhiteAndClearingSelectsTheBrushAgain)
{
    SetPenWidth(9);
    Drag({{50, 200}, {450, 200}});
    QTest::mouseClick(ImForm->SpeedButton2, Qt::LeftButton); // "Резинка"
    Drag({{250, 150}, {250, 250}});
    EXPECT_EQ(Canvas().pixel(250, 200), clWhite);
    EXPECT_EQ(Canvas().pixel(240, 200), clBlack);
    // The eraser splits the line in two figures.
    ImForm->ReadCanvas();
    int figures = 0;
    while (auto first = FindFirstSetCell(CanvasImage, 500, 400)) {
        ImForm->ExtractObject(first->x, first->y);
        ++figures;
    }
    EXPECT_EQ(figures, 2);

    ImForm->N1->trigger(); // popup "Очистить"
    EXPECT_EQ(Count(Canvas(), clWhite), 500 * 400);
    Drag({{10, 10}, {20, 10}});
    EXPECT_EQ(Canvas().pixel(15, 10), clBlack);

    // The main menu reaches the same tools.
    Form1->N12->trigger(); // "Резинка"
    Drag({{5, 10}, {25, 10}});
    EXPECT_EQ(Count(Canvas(), clBlack), 0);
    Form1->N11->trigger(); // "Кисть"
    Drag({{5, 30}, {25, 30}});
    EXPECT_GT(Count(Canvas(), clBlack), 0);
    Form1->N4->trigger(); // "Очистить"
    EXPECT_EQ(Count(Canvas(), clWhite), 500 * 400);
    QTest::mouseClick(ImForm->SpeedButton1, Qt::LeftButton);
    ImForm->N3->trigger();
    Drag({{5, 30}, {25, 30}});
    QTest::mouseClick(ImForm->SpeedButton3, Qt::LeftButton); // clear with the eraser chosen
    Drag({{5, 50}, {25, 50}});
    EXPECT_EQ(Canvas().pixel(15, 50), clBlack);
}

TEST_F(CanvasFigures, StrokesTouchingAtACornerAreOneFigureAndAOnePixelGapMakesTwo)
{
    SetPenWidth(1);
    // Two diagonal strokes whose end pixels meet only at a corner.
    Drag({{10, 10}, {40, 40}});
    Drag({{41, 41}, {70, 10}});
    // Two strokes with one white row between them.
    Drag({{100, 100}, {200, 100}});
    Drag({{100, 102}, {200, 102}});
    ASSERT_EQ(Canvas().pixel(40, 40), clBlack);
    ASSERT_EQ(Canvas().pixel(41, 41), clBlack);
    ASSERT_EQ(Count(Canvas(), clBlack, QRect(100, 101, 101, 1)), 0);

    FromCanvas();
    std::vector<QRect> boxes;
    for (int i = 0; i < 4 && SmImForm->Button1->isEnabled(); ++i) {
        Next();
        if (SmImForm->Button1->isEnabled())
            boxes.emplace_back(QPoint(ImForm->objectLeft, ImForm->objectTop),
                               QSize(ImForm->objectWidth, ImForm->objectHeight));
    }
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0], QRect(QPoint(10, 10), QSize(60, 31)));
    EXPECT_EQ(boxes[1], QRect(QPoint(100, 100), QSize(100, 0)));
    EXPECT_EQ(boxes[2], QRect(QPoint(100, 102), QSize(100, 0)));
}

TEST_F(CanvasFigures, FiguresComeInRowOrderOfTheirFirstPixelAndTurnYellow)
{
    // Three figures: a tall one on the right whose top is above the others,
    // a short line in the middle, and a blob at the bottom left.
    const QRect regions[] = {QRect(280, 20, 80, 250), QRect(60, 150, 150, 40), QRect(10, 300, 100, 80)};
    Drag({{320, 30}, {320, 250}});
    Drag({{80, 170}, {190, 170}});
    Drag({{30, 320}, {90, 360}, {30, 360}});
    const QImage drawn = Canvas();
    const QRect extents[] = {Extent(drawn, clBlack, regions[0]), Extent(drawn, clBlack, regions[1]),
                             Extent(drawn, clBlack, regions[2])};

    FromCanvas();
    for (int k = 0; k < 3; ++k) {
        Next();
        EXPECT_EQ(ImForm->objectLeft, static_cast<std::uint32_t>(extents[k].left())) << k;
        EXPECT_EQ(ImForm->objectTop, static_cast<std::uint32_t>(extents[k].top())) << k;
        EXPECT_EQ(ImForm->objectWidth, static_cast<std::uint32_t>(extents[k].width() - 1)) << k;
        EXPECT_EQ(ImForm->objectHeight, static_cast<std::uint32_t>(extents[k].height() - 1)) << k;
        // This figure and those before are yellow, the later ones black.
        for (int r = 0; r < 3; ++r) {
            const int pixels = Count(drawn, clBlack, regions[r]);
            EXPECT_EQ(Count(Canvas(), r <= k ? clYellow : clBlack, regions[r]), pixels) << k << " " << r;
        }
    }
    EXPECT_TRUE(SmImForm->Button1->isEnabled());
    Next();
    EXPECT_FALSE(SmImForm->Button1->isEnabled());
}

TEST_F(CanvasFigures, TakenFiguresAndOtherColoursReadAsEmptyAndNewDrawingsWaitForTheNextReading)
{
    Drag({{20, 20}, {80, 20}});
    ImForm->Image1->Canvas().SetPixel(200, 200, qRgb(0, 0, 1));
    ImForm->Image1->Canvas().SetPixel(210, 200, qRgb(1, 1, 1));
    FromCanvas();
    Next();
    EXPECT_TRUE(SmImForm->Button1->isEnabled());
    Drag({{20, 300}, {80, 300}}); // after "С холста": not seen yet
    Next();
    EXPECT_FALSE(SmImForm->Button1->isEnabled());
    FromCanvas(); // reads again: the yellow figure stays taken
    EXPECT_TRUE(SmImForm->Button1->isEnabled());
    Next();
    EXPECT_EQ(ImForm->objectTop, 298u);
    Next();
    EXPECT_FALSE(SmImForm->Button1->isEnabled());
    // Drawn over in black, a taken figure is found again.
    Drag({{20, 20}, {80, 20}});
    FromCanvas();
    Next();
    EXPECT_EQ(ImForm->objectTop, 18u);
}

TEST_F(CanvasFigures, ThinFiguresAndASingleDotGiveAnAllZeroRetina)
{
    NewProject("100", "10", "25");
    SetPenWidth(1);
    Drag({{50, 50}, {50, 120}}); // one pixel wide
    ImForm->Image1->Canvas().SetPixel(300, 300, clBlack);
    FromCanvas();
    Next();
    EXPECT_EQ(ImForm->objectWidth, 0u);
    EXPECT_EQ(ImForm->objectHeight, 70u);
    EXPECT_EQ(RetinaImage.GetWidth(), 10u);
    EXPECT_EQ(RetinaSetCells(), 0u);
    EXPECT_EQ(RetinaImage.Cells.at(100), 1);
    EXPECT_EQ(Count(View(), clWhite), 150 * 150);
    Next();
    EXPECT_EQ(ImForm->objectLeft, 300u);
    EXPECT_EQ(ImForm->objectTop, 300u);
    EXPECT_EQ(ImForm->objectWidth, 0u);
    EXPECT_EQ(ImForm->objectHeight, 0u);
    EXPECT_EQ(RetinaSetCells(), 0u);
    EXPECT_EQ(SmImForm->Label2->Caption(), QStringLiteral("1"));
}

TEST_F(CanvasFigures, AFigureCoveringTheWholeCanvasIsTakenInOne)
{
    NewProject("100", "10", "25");
    TCanvas& canvas = ImForm->Image1->Canvas();
    canvas.SetBrushColor(clBlack);
    canvas.Rectangle(0, 0, 500, 400);
    FromCanvas();
    Next();
    EXPECT_EQ(ImForm->objectLeft, 0u);
    EXPECT_EQ(ImForm->objectTop, 0u);
    EXPECT_EQ(ImForm->objectWidth, 499u);
    EXPECT_EQ(ImForm->objectHeight, 399u);
    EXPECT_EQ(Count(Canvas(), clYellow), 500 * 400);
    EXPECT_EQ(RetinaSetCells(), 100u);
    EXPECT_EQ(Count(View(), clBlack), 150 * 150);
    Next();
    EXPECT_FALSE(SmImForm->Button1->isEnabled());
}

} // namespace
