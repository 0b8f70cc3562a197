// The canvas and retina routines without any window: reading a bitmap into
// cells, the first-figure scan, the 8-connected fill, the retina drawing's
// squares, the percentage, and the checks of a new project's sizes.
#include "forms/CanvasAlgorithms.h"
#include "forms/Unit6.h"
#include "framework/Canvas.h"
#include "framework/Convert.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A grid from rows of text: '#' is 1, anything else 0.
TRectImage Grid(const std::vector<std::string>& rows)
{
    TRectImage grid;
    grid.Resize(static_cast<std::uint32_t>(rows.at(0).size()), static_cast<std::uint32_t>(rows.size()));
    for (std::uint32_t y = 0; y < rows.size(); ++y)
        for (std::uint32_t x = 0; x < rows[y].size(); ++x)
            grid.SetCell(x, y, rows[y][x] == '#' ? 1 : 0);
    return grid;
}

std::uint64_t SetCells(const TRectImage& grid)
{
    std::uint64_t n = 0;
    for (std::uint32_t y = 0; y < grid.GetHeight(); ++y)
        for (std::uint32_t x = 0; x < grid.GetWidth(); ++x)
            n += grid.GetCell(x, y) == 1;
    return n;
}

TRectImage Blank(std::uint32_t w, std::uint32_t h)
{
    TRectImage grid;
    grid.Resize(w, h);
    return grid;
}

// Fills from the first set cell until none is left; the boxes in order.
std::vector<TObjectBox> TakeAll(TRectImage& canvas)
{
    std::vector<TObjectBox> boxes;
    TRectImage object = Blank(canvas.GetWidth(), canvas.GetHeight());
    while (auto first = FindFirstSetCell(canvas, canvas.GetWidth(), canvas.GetHeight())) {
        boxes.push_back(FillObject(canvas, object, first->x, first->y));
        if (boxes.size() > 1000)
            break;
    }
    return boxes;
}

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

TEST(FindFirstSetCell, ScansRowsFromTheTopAndEachRowFromTheLeft)
{
    const TRectImage grid = Grid({
        "..........",
        "........#.",
        "..#.......",
        "#.........",
    });
    auto first = FindFirstSetCell(grid, 10, 4);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, (TCellPos{8, 1}));
    // Cells beyond the limits are not looked at.
    first = FindFirstSetCell(grid, 5, 4);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, (TCellPos{2, 2}));
    EXPECT_FALSE(FindFirstSetCell(grid, 10, 1));
    EXPECT_FALSE(FindFirstSetCell(Blank(10, 4), 10, 4));
    EXPECT_FALSE(FindFirstSetCell(TRectImage{}, 500, 400));

    // Resuming: the start cell itself counts, earlier ones do not.
    EXPECT_EQ(FindFirstSetCell(grid, 10, 4, {8, 1}), (TCellPos{8, 1}));
    EXPECT_EQ(FindFirstSetCell(grid, 10, 4, {9, 1}), (TCellPos{2, 2}));
    EXPECT_EQ(FindFirstSetCell(grid, 10, 4, {10, 1}), (TCellPos{2, 2}));   // past the row's end
    EXPECT_EQ(FindFirstSetCell(grid, 10, 4, {3, 2}), (TCellPos{0, 3}));
    EXPECT_FALSE(FindFirstSetCell(grid, 10, 4, {1, 3}));
    EXPECT_FALSE(FindFirstSetCell(grid, 10, 4, {0, 4000000000u}));
}

// ---- The fill ------------------------------------------------------------

TEST(FillObject, CornerContactJoinsAndAOneCellGapSeparates)
{
    TRectImage diagonal = Grid({
        "###.....",
        "...###..",
        "......##",
    });
    EXPECT_EQ(TakeAll(diagonal).size(), 1u);

    TRectImage gap = Grid({
        "###.....",
        "........",
        "...###..",
        "...#.#..",
    });
    EXPECT_EQ(TakeAll(gap).size(), 2u);

    TRectImage side = Grid({
        "##.##",
        "##.##",
    });
    EXPECT_EQ(TakeAll(side).size(), 2u);
}

TEST(FillObject, TakesTheWholeFigureWithItsBoxAndLeavesTheOthers)
{
    TRectImage canvas = Grid({
        "...........",
        "....#......",
        "...#.#...#.",
        "..#...#....",
        "...#.#.....",
        "....#......",
        "..........#",
    });
    TRectImage object = Blank(11, 7);
    const TObjectBox box = FillObject(canvas, object, 4, 1);
    EXPECT_EQ(box.left, 2u);
    EXPECT_EQ(box.top, 1u);
    EXPECT_EQ(box.maxX, 6u);
    EXPECT_EQ(box.maxY, 5u);
    EXPECT_EQ(box.cells, 8u);
    // The ring moved from the canvas into the object, cell for cell.
    EXPECT_EQ(SetCells(object), 8u);
    EXPECT_EQ(object.GetCell(2, 3), 1);
    EXPECT_EQ(object.GetCell(4, 5), 1);
    EXPECT_EQ(object.GetCell(4, 3), 0); // the hole is not filled
    EXPECT_EQ(SetCells(canvas), 2u);
    EXPECT_EQ(canvas.GetCell(9, 2), 1);
    EXPECT_EQ(canvas.GetCell(10, 6), 1);
}

TEST(FillObject, AStartOutsideTheCanvasOrOnAnEmptyCellTakesNothing)
{
    TRectImage canvas = Grid({"##", "##"});
    TRectImage object = Blank(2, 2);
    for (const TCellPos start : {TCellPos{2, 0}, TCellPos{0, 2}, TCellPos{4000000000u, 4000000000u}}) {
        const TObjectBox box = FillObject(canvas, object, start.x, start.y);
        EXPECT_EQ(box.cells, 0u);
        EXPECT_EQ(box.left, start.x);
        EXPECT_EQ(box.maxY, start.y);
    }
    canvas.SetCell(1, 1, 2); // not a figure cell
    EXPECT_EQ(FillObject(canvas, object, 1, 1).cells, 0u);
    EXPECT_EQ(SetCells(canvas), 3u);
    EXPECT_EQ(SetCells(object), 0u);
}

TEST(FillObject, ACheckerboardIsOneFigureThroughItsCorners)
{
    TRectImage canvas = Blank(64, 48);
    for (std::uint32_t y = 0; y < 48; ++y)
        for (std::uint32_t x = 0; x < 64; ++x)
            canvas.SetCell(x, y, (x + y) % 2 == 0 ? 1 : 0);
    const std::vector<TObjectBox> boxes = TakeAll(canvas);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].cells, 64u * 48u / 2u);
    EXPECT_EQ(boxes[0].maxX, 63u);
    EXPECT_EQ(boxes[0].maxY, 47u);
}

TEST(FillObject, AWholeCanvasFigureAndALongWindingPathAreTakenInFull)
{
    // Every cell of the canvas: 200,000 cells in one figure.
    TRectImage canvas = Blank(500, 400);
    std::fill(canvas.Cells.begin(), canvas.Cells.end(), std::int8_t{1});
    TRectImage object = Blank(500, 400);
    QImage marks = MakeBitmap(500, 400);
    const TObjectBox box = FillObject(canvas, object, 250, 200, &marks);
    EXPECT_EQ(box.cells, 200000u);
    EXPECT_EQ(box.left, 0u);
    EXPECT_EQ(box.top, 0u);
    EXPECT_EQ(box.maxX, 499u);
    EXPECT_EQ(box.maxY, 399u);
    EXPECT_EQ(SetCells(canvas), 0u);
    EXPECT_EQ(SetCells(object), 200000u);
    EXPECT_EQ(marks.pixel(0, 0), clYellow);
    EXPECT_EQ(marks.pixel(499, 399), clYellow);

    // A serpentine one cell wide: every cell is reached only through the
    // one before it, a path of about 100,000 cells.
    TRectImage snake = Blank(500, 400);
    for (std::uint32_t y = 0; y < 400; y += 2) {
        for (std::uint32_t x = 0; x < 500; ++x)
            snake.SetCell(x, y, 1);
        if (y + 1 < 400)
            snake.SetCell((y / 2) % 2 == 0 ? 499 : 0, y + 1, 1);
    }
    const std::uint64_t total = SetCells(snake);
    const std::vector<TObjectBox> boxes = TakeAll(snake);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].cells, total);
}

TEST(FillObject, MarksOnlyTheFiguresPixelsYellow)
{
    TRectImage canvas = Grid({"#..", ".#.", "..#", "#.."});
    TRectImage object = Blank(3, 4);
    QImage marks = MakeBitmap(3, 4);
    marks.setPixel(0, 3, clBlack);
    FillObject(canvas, object, 0, 0, &marks);
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
    EXPECT_EQ(FillObject(again, small, 2, 1, &tiny).cells, 6u);
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

TEST(ProjectSizes, ConvertsAllThreeFieldsInOrderAndChecksTheirRanges)
{
    const TProjectSizes sizes = ReadProjectSizes("100", "10", "25");
    EXPECT_EQ(sizes.elementSize, 100);
    EXPECT_EQ(sizes.classCount, 10);
    EXPECT_EQ(sizes.hiddenCount, 25);

    // The first bad field is reported with its own text.
    try {
        ReadProjectSizes("1O0", "x", "25");
        ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'1O0' is not a valid integer value"));
    }
    EXPECT_THROW(ReadProjectSizes("100", "10", ""), EConvertError);
    // A bad number is reported even when an earlier field is out of range.
    EXPECT_THROW(ReadProjectSizes("0", "10", "abc"), EConvertError);

    for (const auto& [e, c, h] : std::vector<std::tuple<const char*, const char*, const char*>>{
             {"0", "10", "25"}, {"100", "-1", "25"}, {"100", "10", "0"}, {"200001", "10", "25"},
             {"100", "10001", "25"}, {"100", "10", "10001"}, {"200000", "10", "1000"}})
        EXPECT_THROW(ReadProjectSizes(e, c, h), EProjectSizeError) << e << " " << c << " " << h;

    // The largest sizes allowed one by one.
    EXPECT_NO_THROW(ReadProjectSizes(QString::number(MaxElementSize), "1", "1"));
    EXPECT_NO_THROW(ReadProjectSizes("1", QString::number(MaxClassCount), QString::number(MaxHiddenCount / 10)));
    EXPECT_NO_THROW(ReadProjectSizes("1", "1", QString::number(MaxHiddenCount)));
}

TEST(ProjectSizes, TheRetinaSideIsTheTruncatedSquareRoot)
{
    EXPECT_EQ(RetinaSide(100), 10u);
    EXPECT_EQ(RetinaSide(99), 9u);
    EXPECT_EQ(RetinaSide(50), 7u);
    EXPECT_EQ(RetinaSide(49), 7u);
    EXPECT_EQ(RetinaSide(1), 1u);
    EXPECT_EQ(RetinaSide(0), 0u);
    EXPECT_EQ(RetinaSide(200000), 447u);
    for (std::uint32_t n = 1; n < 2000; ++n) {
        const std::uint32_t s = RetinaSide(n);
        EXPECT_LE(s * s, n);
        EXPECT_GT((s + 1) * (s + 1), n);
    }
}

} // namespace
