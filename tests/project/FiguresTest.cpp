// Figures on a grid without any window: the first-figure scan, the
// 8-connected fill and the retina side; the shared objects before any window.
#include "project/Figures.h"
#include "project/Globals.h"

#include "Grids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace grids;


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
    std::uint64_t reported = 0;
    const TObjectBox box = FillObject(canvas, object, 250, 200,
                                      [&](std::uint32_t, std::uint32_t left, std::uint32_t right) {
                                          reported += right - left + 1;
                                      });
    EXPECT_EQ(box.cells, 200000u);
    EXPECT_EQ(box.left, 0u);
    EXPECT_EQ(box.top, 0u);
    EXPECT_EQ(box.maxX, 499u);
    EXPECT_EQ(box.maxY, 399u);
    EXPECT_EQ(SetCells(canvas), 0u);
    EXPECT_EQ(SetCells(object), 200000u);
    EXPECT_EQ(reported, 200000u); // every cell taken is reported once

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

TEST(SharedObjects, ExistEmptyBeforeAnyWindow) {
    EXPECT_EQ(CanvasImage.GetSize(), 0u);
    EXPECT_EQ(CanvasImage.GetWidth(), 0u);
    EXPECT_EQ(CanvasImage.GetHeight(), 0u);
    EXPECT_TRUE(CanvasImage.Cells.empty());
    EXPECT_EQ(RetinaImage.GetSize(), 0u);
    EXPECT_TRUE(RetinaImage.Cells.empty());
    EXPECT_EQ(TrainingSequence.GetCount(), 0u);
    EXPECT_EQ(TrainingSequence.GetDimension(), 0u);
    EXPECT_EQ(TrainingSequence.Current, nullptr);
}
