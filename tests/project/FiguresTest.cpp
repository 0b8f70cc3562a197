// Figures on a grid without any window: the first-figure scan, the
// 8-connected fill and the retina side.
#include "project/Figures.h"
#include "project/Globals.h"
#include "project/Learning.h"

#include "Grids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

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

// ---- Extraction and recognition against the plain definition ------------

struct TTaken {
    TFigureBox box;
    std::vector<std::int8_t> retina;
    std::uint32_t retinaWidth = 0, retinaHeight = 0, retinaSize = 0;
    std::vector<std::uint32_t> runs; // y, left, right of each run, in the order reported
    std::uint32_t classIndex = 0;
};

bool operator==(const TTaken& a, const TTaken& b)
{
    return a.box.left == b.box.left && a.box.top == b.box.top && a.box.width == b.box.width &&
           a.box.height == b.box.height && a.retina == b.retina && a.retinaWidth == b.retinaWidth &&
           a.retinaHeight == b.retinaHeight && a.retinaSize == b.retinaSize && a.runs == b.runs &&
           a.classIndex == b.classIndex;
}

TRunSink Recorder(std::vector<std::uint32_t>& runs)
{
    return [&runs](std::uint32_t y, std::uint32_t left, std::uint32_t right) { runs.insert(runs.end(), {y, left, right}); };
}

void KeepRetina(TTaken& t, const TRectImage& retina)
{
    t.retina = retina.Cells;
    t.retinaWidth = retina.Width;
    t.retinaHeight = retina.Height;
    t.retinaSize = retina.Size;
}

// Recognition as the canvas window defines it: each time the first set cell
// from the top left, the figure filled into a fresh grid of the canvas's
// size, that grid cut to the box and rescaled.
std::vector<TTaken> ByDefinition(TRectImage canvas, std::int32_t rw, std::int32_t rh, TNeuralNet& net,
                                 std::uint64_t minCells)
{
    std::vector<TTaken> taken;
    std::vector<std::int8_t> scratch;
    while (auto first = FindFirstSetCell(canvas, canvas.Width, canvas.Height)) {
        TTaken t;
        TRectImage grid = Blank(canvas.Width, canvas.Height);
        const TObjectBox o = FillObject(canvas, grid, first->x, first->y, Recorder(t.runs));
        t.box = {o.left, o.top, o.maxX - o.left, o.maxY - o.top};
        if (o.cells < minCells)
            continue;
        SampleFigure(grid, t.box, rw, rh);
        KeepRetina(t, grid);
        t.classIndex = Classify(net, grid, scratch).index;
        taken.push_back(t);
    }
    return taken;
}

TEST(RecogniseFigures, TakesWhatTheDefinitionTakesOnEveryKindOfPicture)
{
    const auto random = [](std::uint32_t w, std::uint32_t h, unsigned percent, unsigned seed) {
        TRectImage grid = Blank(w, h);
        std::mt19937 draw(seed);
        for (auto& c : grid.Cells) c = static_cast<std::int8_t>(draw() % 100 < percent);
        return grid;
    };
    TRectImage dots = Blank(40, 30);
    for (std::uint32_t y = 0; y < 30; y += 2)
        for (std::uint32_t x = 0; x < 40; x += 2) dots.SetCell(x, y, 1);
    TRectImage full = Blank(50, 40);
    std::fill(full.Cells.begin(), full.Cells.end(), std::int8_t{1});
    TRectImage strokes = Blank(90, 70);
    for (std::uint32_t k = 0; k < 70; ++k) {
        strokes.SetCell(k, k, 1);           // a diagonal: a large box, few cells
        strokes.SetCell(89 - k / 3, k, 1);  // a steep line crossing it
        strokes.SetCell(k % 7 * 12 + 3, k / 7 * 7 + 1, 1);
    }
    const std::vector<std::pair<const char*, TRectImage>> pictures = {
        {"sparse noise", random(61, 47, 10, 1)}, {"noise", random(61, 47, 35, 2)},
        {"dense noise", random(61, 47, 60, 3)},  {"dots on every second cell", dots},
        {"one figure over all", full},           {"strokes", strokes},
    };
    // Retinas smaller and larger than the figures, a single cell, none.
    const std::vector<std::pair<std::int32_t, std::int32_t>> retinas = {{10, 10}, {3, 7}, {64, 48}, {1, 1}, {0, 5}};
    for (const auto& [name, picture] : pictures)
        for (const auto& [rw, rh] : retinas)
            for (const std::uint64_t minCells : {0u, 3u}) {
                SCOPED_TRACE(std::string(name) + ", retina " + std::to_string(rw) + " x " + std::to_string(rh) +
                             ", at least " + std::to_string(minCells) + " cells");
                auto net = std::make_unique<TNeuralNet>(
                    2, std::vector<std::uint32_t>{static_cast<std::uint32_t>(rw * rh), 5, 4}, 0.8f, 0.0f, 0.0f, 1.0f,
                    1.0f);
                const std::vector<TTaken> expected = ByDefinition(picture, rw, rh, *net, minCells);

                TRectImage canvas = picture;
                TRectImage retina;
                std::vector<std::uint32_t> runs;
                const std::vector<TRecognisedFigure> figures =
                    RecogniseFigures(canvas, retina, canvas.Width, canvas.Height, rw, rh, *net, Recorder(runs),
                                     TFigureFilter{minCells});
                EXPECT_EQ(SetCells(canvas), 0u);
                ASSERT_EQ(figures.size(), expected.size());
                for (std::size_t k = 0; k < figures.size(); ++k) {
                    EXPECT_EQ(figures[k].box.left, expected[k].box.left) << k;
                    EXPECT_EQ(figures[k].box.top, expected[k].box.top) << k;
                    EXPECT_EQ(figures[k].box.width, expected[k].box.width) << k;
                    EXPECT_EQ(figures[k].box.height, expected[k].box.height) << k;
                    EXPECT_EQ(figures[k].classIndex, expected[k].classIndex) << k;
                }
                if (!expected.empty()) {
                    TTaken last = expected.back();
                    KeepRetina(last, retina);
                    EXPECT_EQ(last.retina, expected.back().retina);
                    EXPECT_EQ(last.retinaSize, expected.back().retinaSize);
                }

                // One figure at a time, as ">>" takes them: the same boxes,
                // retinas and runs, the runs of skipped specks included.
                canvas = picture;
                std::vector<std::uint32_t> allRuns;
                std::vector<TTaken> one;
                std::vector<std::int8_t> scratch;
                while (auto first = FindFirstSetCell(canvas, canvas.Width, canvas.Height)) {
                    TTaken t;
                    t.box = ExtractFigure(canvas, retina, first->x, first->y, rw, rh, Recorder(t.runs));
                    allRuns.insert(allRuns.end(), t.runs.begin(), t.runs.end());
                    KeepRetina(t, retina);
                    t.classIndex = Classify(*net, retina, scratch).index;
                    std::uint64_t cells = 0;
                    for (std::size_t i = 0; i < t.runs.size(); i += 3) cells += t.runs[i + 2] - t.runs[i + 1] + 1;
                    if (cells >= minCells)
                        one.push_back(t);
                }
                EXPECT_EQ(allRuns, runs);
                EXPECT_TRUE(one == expected);

                // Stopped after half of them: the first half, the rest left on the canvas.
                canvas = picture;
                const std::size_t half = expected.size() / 2;
                const auto first = RecogniseFigures(canvas, retina, canvas.Width, canvas.Height, rw, rh, *net, {},
                                                    TFigureFilter{minCells, half});
                ASSERT_EQ(first.size(), half);
                EXPECT_EQ(RecogniseFigures(canvas, retina, canvas.Width, canvas.Height, rw, rh, *net, {},
                                           TFigureFilter{minCells})
                              .size(),
                          expected.size() - half);
            }
}

TEST(ProjectSizes, TheRetinaSideIsTheTruncatedSquareRoot)
{
    EXPECT_EQ(RetinaSide(0), 0u);
    EXPECT_EQ(RetinaSide(200000), 447u);
    for (std::uint32_t n = 1; n < 2000; ++n) {
        const std::uint32_t s = RetinaSide(n);
        EXPECT_LE(s * s, n);
        EXPECT_GT((s + 1) * (s + 1), n);
    }
}

} // namespace

namespace {

// The grid with every cell copied k x k.
TRectImage Enlarged(const TRectImage& grid, std::uint32_t k)
{
    TRectImage big = Blank(grid.GetWidth() * k, grid.GetHeight() * k);
    for (std::uint32_t y = 0; y < big.GetHeight(); ++y)
        for (std::uint32_t x = 0; x < big.GetWidth(); ++x)
            big.SetCell(x, y, grid.GetCell(x / k, y / k));
    return big;
}

// The retina of the grid's one figure, cut by ExtractFigure and by
// SampleFigure on the whole grid.
std::pair<TRectImage, TRectImage> AspectRetinas(const TRectImage& grid, std::int32_t side)
{
    TRectImage canvas = grid;
    TRectImage extracted;
    const auto first = FindFirstSetCell(canvas, canvas.GetWidth(), canvas.GetHeight());
    const TFigureBox box = ExtractFigure(canvas, extracted, first->x, first->y, side, side, {}, TFigureFit::Aspect);
    TRectImage sampled = grid;
    SampleFigure(sampled, box, side, side, TFigureFit::Aspect);
    return {extracted, sampled};
}

} // namespace

TEST(AspectFit, ShapesStaySolidAndWholeEnlargementsGiveTheSameRetina)
{
    const std::vector<std::pair<const char*, std::vector<std::string>>> shapes = {
        {"a thin upright line", {".#", ".#", ".#", ".#", ".#", ".#", ".#", ".#", ".#", ".#", ".#", ".#"}},
        {"a thin flat line", {"##########"}},
        {"a diagonal", {"#....", ".#...", "..#..", "...#.", "....#"}},
        {"a ring", {"..###..", ".#...#.", "#.....#", "#.....#", "#.....#", ".#...#.", "..###.."}},
        {"an L", {"#...", "#...", "#...", "####"}},
        {"a dot", {".#."}},
    };
    for (const auto& [name, rows] : shapes) {
        for (const std::int32_t side : {5, 7, 16, 28}) {
            SCOPED_TRACE(std::string(name) + ", retina " + std::to_string(side));
            const TRectImage grid = Grid(rows);
            const auto [base, sampled] = AspectRetinas(grid, side);
            ASSERT_EQ(base.Cells.size(), static_cast<std::size_t>(side * side) + 1);
            EXPECT_EQ(base.Cells.back(), 1);
            EXPECT_EQ(base.Cells, sampled.Cells);
            for (const std::uint32_t k : {2u, 3u}) {
                const auto [big, bigSampled] = AspectRetinas(Enlarged(grid, k), side);
                EXPECT_EQ(big.Cells, base.Cells) << "enlarged " << k << "x";
                EXPECT_EQ(bigSampled.Cells, base.Cells) << "enlarged " << k << "x";
            }
            // The longer side fills the retina; the figure is centred on the other.
            std::uint32_t left = side, right = 0, top = side, bottom = 0;
            for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(side); ++y)
                for (std::uint32_t x = 0; x < static_cast<std::uint32_t>(side); ++x)
                    if (base.GetCell(x, y) == 1) {
                        left = std::min(left, x), right = std::max(right, x);
                        top = std::min(top, y), bottom = std::max(bottom, y);
                    }
            ASSERT_LE(left, right);
            EXPECT_TRUE((left == 0 && right + 1 == static_cast<std::uint32_t>(side)) ||
                        (top == 0 && bottom + 1 == static_cast<std::uint32_t>(side)));
            EXPECT_LE(std::abs(static_cast<int>(left) - static_cast<int>(side - 1 - right)), 1);
            EXPECT_LE(std::abs(static_cast<int>(top) - static_cast<int>(side - 1 - bottom)), 1);
        }
    }
    // A thin line stays a line: every row of the middle column, nothing else.
    const auto [line, unused] = AspectRetinas(Grid(shapes[0].second), 7);
    EXPECT_EQ(SetCells(line), 7u);
    for (std::uint32_t y = 0; y < 7; ++y)
        EXPECT_EQ(line.GetCell(3, y), 1);
    // A ring stays a ring: its middle stays empty at any size.
    for (const std::int32_t side : {7, 16, 28}) {
        const auto [ring, alsoUnused] = AspectRetinas(Grid(shapes[3].second), side);
        EXPECT_EQ(ring.GetCell(static_cast<std::uint32_t>(side / 2), static_cast<std::uint32_t>(side / 2)), 0);
    }
}
