// The canvas and retina routines without any window: reading a bitmap into
// cells, the yellow marks of a fill, the retina drawing's squares, the
// percentage, and the checks of a new project's sizes.
#include "FormsFixture.h"
#include "tests/project/Grids.h"

#include <QPainter>


namespace {

using namespace grids;

// ---- Reading the bitmap --------------------------------------------------

TEST(ReadBitmapCells, OnlyExactBlackReadsAsSet)
{
    QImage bitmap = MakeBitmap(6, 3);
    bitmap.setPixel(0, 0, clBlack);
    bitmap.setPixel(1, 0, clYellow);
    bitmap.setPixel(2, 0, qRgb(0, 0, 1));
    bitmap.setPixel(3, 0, qRgb(1, 0, 0));
    bitmap.setPixel(4, 0, qRgb(0, 1, 0));
    bitmap.setPixel(5, 2, clBlack);
    TRectImage cells = Blank(6, 3);
    cells.SetCell(3, 1, 1); // left from an earlier reading
    ReadBitmapCells(bitmap, 6, 3, cells);
    EXPECT_EQ(SetCells(cells), 2u);
    EXPECT_EQ(cells.GetCell(0, 0), 1);
    EXPECT_EQ(cells.GetCell(5, 2), 1);
    EXPECT_EQ(cells.GetCell(3, 1), 0);
}

TEST(ReadBitmapCells, StaysInsideTheGridTheLimitsAndTheBitmap)
{
    QImage bitmap = MakeBitmap(8, 8);
    bitmap.fill(clBlack);
    // A grid wider and taller than the bitmap: the rest reads 0.
    TRectImage wide = Blank(10, 9);
    ReadBitmapCells(bitmap, 10, 9, wide);
    EXPECT_EQ(SetCells(wide), 64u);
    EXPECT_EQ(wide.GetCell(9, 0), 0);
    EXPECT_EQ(wide.GetCell(0, 8), 0);
    // Limits below the grid: only that corner is read.
    TRectImage limited = Blank(8, 8);
    ReadBitmapCells(bitmap, 3, 2, limited);
    EXPECT_EQ(SetCells(limited), 6u);
    // A grid smaller than the bitmap.
    TRectImage small = Blank(2, 2);
    ReadBitmapCells(bitmap, 500, 400, small);
    EXPECT_EQ(SetCells(small), 4u);
    // No cells at all.
    TRectImage none;
    ReadBitmapCells(bitmap, 8, 8, none);
    EXPECT_EQ(none.GetSize(), 0u);
}

// ---- The first figure ----------------------------------------------------

TEST(YellowRuns, MarksOnlyTheFiguresPixelsYellow)
{
    TRectImage canvas = Grid({"#..", ".#.", "..#", "#.."});
    TRectImage object = Blank(3, 4);
    QImage marks = MakeBitmap(3, 4);
    marks.setPixel(0, 3, clBlack);
    FillObject(canvas, object, 0, 0, YellowRuns(marks));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x) {
            const bool taken = x == y && y < 3;
            const TColor expected = taken ? clYellow : (x == 0 && y == 3 ? clBlack : clWhite);
            EXPECT_EQ(marks.pixel(x, y), expected) << x << "," << y;
        }
    // A bitmap smaller than the canvas takes the marks it can hold.
    TRectImage again = Grid({"###", "###"});
    QImage tiny = MakeBitmap(1, 1);
    TRectImage small = Blank(1, 1);
    EXPECT_EQ(FillObject(again, small, 2, 1, YellowRuns(tiny)).cells, 6u);
    EXPECT_EQ(tiny.pixel(0, 0), clYellow);
    EXPECT_EQ(small.GetCell(0, 0), 1);
}

// ---- Drawing the retina --------------------------------------------------

TEST(RetinaSquares, NonZeroCellsOfAnyValueAreDrawnAndNothingForAnEmptyRetina)
{
    TRectImage retina = Blank(2, 3);
    retina.SetCell(1, 2, -7);
    retina.SetCell(0, 1, 2);
    const std::vector<QRect> squares = RetinaSquares(retina);
    ASSERT_EQ(squares.size(), 2u);
    EXPECT_EQ(squares[0], QRect(0, 75, 75, 75));
    EXPECT_EQ(squares[1], QRect(75, 150, 75, 75)); // rows reach below the view
    EXPECT_TRUE(RetinaSquares(Blank(0, 0)).empty());
    EXPECT_TRUE(RetinaSquares(TRectImage{}).empty());
    EXPECT_EQ(RetinaScale(0), 0.0f);
    // A retina wider than the view: squares of no area are left out.
    TRectImage wide = Blank(500, 1);
    std::fill(wide.Cells.begin(), wide.Cells.end(), std::int8_t{1});
    for (const QRect& square : RetinaSquares(wide)) {
        EXPECT_FALSE(square.isEmpty());
        EXPECT_LE(square.right(), 149);
    }
}

// ---- The guess in percent ---------------------------------------------------

TEST(PercentText, TruncatesTowardZero)
{
    EXPECT_EQ(PercentText(0.87f), QStringLiteral("87%"));
    EXPECT_EQ(PercentText(0.999f), QStringLiteral("99%"));
    EXPECT_EQ(PercentText(0.5f), QStringLiteral("50%"));
    EXPECT_EQ(PercentText(0.0099f), QStringLiteral("0%"));
    EXPECT_EQ(PercentText(1.0f), QStringLiteral("100%"));
}

// ---- Project sizes -----------------------------------------------------------

TEST(ProjectSizes, TheLargestOfEachAreAccepted)
{
    // The refusals are the quick-create dialog's (ProjectDialogsTest).
    EXPECT_NO_THROW(ReadProjectSizes(QString::number(MaxElementSize), "1", "1"));
    EXPECT_NO_THROW(ReadProjectSizes("1", QString::number(MaxClassCount), QString::number(MaxHiddenCount / 10)));
    EXPECT_NO_THROW(ReadProjectSizes("1", "1", QString::number(MaxHiddenCount)));
}

} // namespace
