#include "PixelCount.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

std::set<TColor> ColoursOf(const QImage& image)
{
    std::set<TColor> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return colours;
}

// A canvas on its own white bitmap that records what it reports as changed.
struct CanvasFixture {
    explicit CanvasFixture(int w = 60, int h = 50)
        : image(MakeBitmap(w, h)), canvas(image, [this](const QRect& r) { changed.push_back(r); })
    {
    }
    QImage image;
    std::vector<QRect> changed;
    TCanvas canvas;
};

TEST(Canvas, RectangleCoversColumnsAndRowsUpToButNotIncludingTheSecondCorner)
{
    CanvasFixture f(12, 12);
    f.canvas.SetPenColor(clBlack);
    f.canvas.SetBrushColor(clBlack);
    f.canvas.Rectangle(2, 3, 6, 8);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 3 && y < 8;
            EXPECT_EQ(f.image.pixel(x, y), inside ? clBlack : clWhite) << x << "," << y;
        }
}

TEST(Canvas, RectangleFillsWithTheBrushAndOutlinesWithThePen)
{
    CanvasFixture f(20, 16);
    f.canvas.SetPenColor(clRed);
    f.canvas.SetBrushColor(clBlue);
    f.canvas.Rectangle(0, 0, 20, 16);
    // One-pixel border of the whole bitmap in red, the rest blue.
    EXPECT_EQ(CountColour(f.image, clRed), 2 * 20 + 2 * 14);
    EXPECT_EQ(CountColour(f.image, clBlue), 18 * 14);
    EXPECT_EQ(f.image.pixel(19, 15), clRed);
    EXPECT_EQ(f.image.pixel(1, 1), clBlue);
}

TEST(Canvas, WholeBitmapRectangleClearsEvenWithAWidePen)
{
    CanvasFixture f(80, 60);
    f.canvas.SetPenWidth(15);
    f.canvas.MoveTo(3, 3);
    f.canvas.LineTo(76, 55);
    f.canvas.LineTo(10, 50);
    ASSERT_GT(CountColour(f.image, clBlack), 0);
    f.canvas.SetPenColor(clWhite);
    f.canvas.SetBrushColor(clWhite);
    f.canvas.Rectangle(0, 0, f.image.width(), f.image.height());
    EXPECT_EQ(CountColour(f.image, clWhite), 80 * 60);
}

TEST(Canvas, EmptyRectangleDrawsNothing)
{
    CanvasFixture f(10, 10);
    f.canvas.SetPenColor(clBlack);
    f.canvas.SetBrushColor(clBlack);
    f.canvas.Rectangle(4, 4, 4, 9);
    f.canvas.Rectangle(4, 4, 9, 4);
    f.canvas.Rectangle(6, 6, 2, 2);
    EXPECT_EQ(CountColour(f.image, clWhite), 100);
    EXPECT_TRUE(f.changed.empty());
}

TEST(Canvas, LinesHaveNoBlendedPixels)
{
    CanvasFixture f(80, 60);
    for (int width : {1, 2, 4, 7, 15}) {
        f.canvas.SetPenWidth(width);
        f.canvas.MoveTo(5, 5 + width);
        f.canvas.LineTo(70, 20 + width);
        f.canvas.LineTo(20, 55);
    }
    EXPECT_EQ(ColoursOf(f.image), (std::set<TColor>{clBlack, clWhite}));
    f.canvas.SetPenColor(clYellow);
    f.canvas.LineTo(60, 3);
    EXPECT_EQ(ColoursOf(f.image), (std::set<TColor>{clBlack, clWhite, clYellow}));
}

TEST(Canvas, LineReachesBothEndsAndHasThePensWidth)
{
    for (int width : {1, 3, 4, 9, 15}) {
        CanvasFixture f(60, 60);
        f.canvas.SetPenWidth(width);
        f.canvas.MoveTo(30, 10);
        f.canvas.LineTo(30, 50);
        EXPECT_EQ(CountColour(f.image, clBlack, QRect(0, 30, 60, 1)), width) << width;
        EXPECT_EQ(f.image.pixel(30, 10), clBlack) << width;
        EXPECT_EQ(f.image.pixel(30, 49), clBlack) << width;
        EXPECT_EQ(f.image.pixel(30, 50 + width / 2 + 2), clWhite) << width;
    }
}

TEST(Canvas, MoveToDrawsNothingAndLineToMovesThePen)
{
    CanvasFixture f;
    f.canvas.SetPenWidth(4);
    f.canvas.MoveTo(10, 10);
    EXPECT_EQ(f.canvas.PenPos(), QPoint(10, 10));
    EXPECT_EQ(CountColour(f.image, clWhite), 60 * 50);
    f.canvas.LineTo(10, 10); // no length
    EXPECT_EQ(CountColour(f.image, clWhite), 60 * 50);
    f.canvas.LineTo(40, 10);
    EXPECT_EQ(f.canvas.PenPos(), QPoint(40, 10));
    // The next line starts where the last ended.
    f.canvas.LineTo(40, 40);
    EXPECT_EQ(f.image.pixel(40, 25), clBlack);
    EXPECT_EQ(f.image.pixel(25, 25), clWhite);
}

TEST(Canvas, LinesMayLeaveTheBitmapWithoutHarm)
{
    CanvasFixture f(30, 30);
    f.canvas.SetPenWidth(6);
    f.canvas.MoveTo(-50, 15);
    f.canvas.LineTo(500, 15);
    EXPECT_EQ(f.image.pixel(0, 15), clBlack);
    EXPECT_EQ(f.image.pixel(29, 15), clBlack);
    for (const QRect& r : f.changed)
        EXPECT_TRUE(f.image.rect().contains(r)) << r.x() << "," << r.width();
}

TEST(Canvas, PixelsReadAndWriteExactlyAndNotOutside)
{
    CanvasFixture f(5, 4);
    f.canvas.SetPixel(4, 3, clYellow);
    f.canvas.SetPixel(0, 0, qRgb(1, 2, 3));
    EXPECT_EQ(f.canvas.Pixel(4, 3), clYellow);
    EXPECT_EQ(f.canvas.Pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_EQ(f.canvas.Pixel(1, 0), clWhite);
    const QImage before = f.image.copy();
    f.canvas.SetPixel(5, 0, clBlack);
    f.canvas.SetPixel(0, 4, clBlack);
    f.canvas.SetPixel(-1, -1, clBlack);
    EXPECT_EQ(f.image, before);
    EXPECT_EQ(f.canvas.Pixel(5, 0), clWhite);
    EXPECT_EQ(f.canvas.Pixel(-1, 2), clWhite);
}

TEST(Canvas, ReportedChangesCoverEveryChangedPixel)
{
    CanvasFixture f(100, 80);
    const QImage start = f.image.copy();
    f.canvas.SetPenWidth(9);
    f.canvas.MoveTo(10, 70);
    f.canvas.LineTo(90, 8);
    f.canvas.SetPenWidth(1);
    f.canvas.SetBrushColor(clYellow);
    f.canvas.Rectangle(50, 50, 60, 75);
    f.canvas.SetPixel(2, 2, clRed);
    f.canvas.SetFontSize(20);
    f.canvas.TextOut(5, 5, QStringLiteral("Ag"));
    int changedPixels = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) {
            if (f.image.pixel(x, y) == start.pixel(x, y))
                continue;
            ++changedPixels;
            bool covered = false;
            for (const QRect& r : f.changed)
                covered = covered || r.contains(x, y);
            EXPECT_TRUE(covered) << x << "," << y;
        }
    EXPECT_GT(changedPixels, 0);
}

TEST(Canvas, OpaqueTextFillsItsBoxWithTheBrush)
{
    CanvasFixture f(120, 60);
    f.canvas.SetBrushColor(clYellow);
    f.canvas.SetFontSize(14);
    const QRect box = f.canvas.TextRect(10, 10, QStringLiteral("Тест"));
    f.canvas.TextOut(10, 10, QStringLiteral("Тест"));
    ASSERT_FALSE(box.isEmpty());
    const int area = box.width() * box.height();
    const int ink = CountColour(f.image, clBlack, box);
    EXPECT_GT(ink, 0);
    EXPECT_EQ(CountColour(f.image, clYellow, box) + ink, area);
    EXPECT_EQ(CountColour(f.image, clYellow), CountColour(f.image, clYellow, box));
    EXPECT_EQ(f.canvas.PenPos(), QPoint(10 + box.width(), 10));
}

TEST(Canvas, TransparentTextDrawsOnlyLettersInTheFontColour)
{
    CanvasFixture f(200, 80);
    f.canvas.SetBrushColor(clBlue);
    f.canvas.SetFontColor(clRed);
    f.canvas.SetTransparentText(true);
    f.canvas.SetFontName(QStringLiteral("Times New Roman"));
    f.canvas.SetFontSize(24);
    f.canvas.TextOut(4, 4, QStringLiteral("Имя W"));
    EXPECT_EQ(ColoursOf(f.image), (std::set<TColor>{clRed, clWhite}));
    // Letters drawn over other letters leave the earlier ones visible.
    f.canvas.SetFontColor(clBlack);
    f.canvas.TextOut(8, 8, QStringLiteral("Имя W"));
    EXPECT_GT(CountColour(f.image, clRed), 0);
    EXPECT_GT(CountColour(f.image, clBlack), 0);
}

TEST(Canvas, FontSizeIsInPointsAtNinetySixDotsPerInch)
{
    CanvasFixture f(400, 200);
    f.canvas.SetFontName(QStringLiteral("Times New Roman"));
    f.canvas.SetFontSize(10);
    const int small = f.canvas.TextRect(0, 0, QStringLiteral("X")).height();
    f.canvas.SetFontSize(59);
    const int large = f.canvas.TextRect(0, 0, QStringLiteral("X")).height();
    // 59 points are about 79 pixels of character height; the line is taller.
    EXPECT_GE(large, 59 * 96 / 72);
    EXPECT_GT(large, 4 * small);
    // Size 0 falls back to a readable default instead of nothing.
    f.canvas.SetFontSize(0);
    EXPECT_GT(f.canvas.TextRect(0, 0, QStringLiteral("X")).height(), 4);
}

} // namespace
