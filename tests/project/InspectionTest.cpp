// What the network learned and where it fails: tiles of the hidden neurons'
// weights, pictures of elements, file names of wrong answers, and marks of
// sequence elements that outlive cursor moves.
#include "project/Inspection.h"
#include "project/Project.h"

#include "tests/engine/TestNets.h"

#include <gtest/gtest.h>

#include <functional>

TEST(Inspection, TilesFitAtTheLargestScaleOrShowTheFirstOnes)
{
    const struct {
        std::uint32_t total, side, width, height, largest;
        std::uint32_t scale, columns, rows, shown;
    } cases[] = {
        {25, 10, 286, 438, 8, 6, 4, 7, 25}, // 4 of 63 pixels a row, 7 rows
        {4, 10, 300, 300, 8, 8, 3, 2, 4},
        {1000, 10, 286, 438, 8, 2, 12, 19, 228}, // not even at 1: the first ones at 2
        {3, 100, 150, 150, 8, 1, 1, 1, 1},       // a tile fits at 1 only
        {1, 100, 50, 50, 8, 0, 0, 0, 0},         // no tile fits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.total << " tiles of " << c.side << " in " << c.width << "x" << c.height);
        const TTileGrid g = FitTiles(c.total, {c.side, c.side}, c.width, c.height, c.largest);
        EXPECT_EQ(g.scale, c.scale);
        EXPECT_EQ(g.columns, c.columns);
        EXPECT_EQ(g.rows, c.rows);
        EXPECT_EQ(g.shown, c.shown);
        EXPECT_LE(g.Width(), c.width);
        EXPECT_LE(g.Height(), c.height);
        // The middle of each shown tile is that tile; gaps and the rest none.
        for (std::uint32_t k = 0; k < g.shown; ++k) {
            const std::int64_t x = (k % g.columns) * (g.TileWidth() + TileGap);
            const std::int64_t y = (k / g.columns) * (g.TileHeight() + TileGap);
            EXPECT_EQ(TileAt(g, x + g.TileWidth() / 2, y + g.TileHeight() / 2), std::int64_t{k});
            EXPECT_EQ(TileAt(g, x + g.TileWidth(), y), -1);
        }
        const std::int64_t last = g.shown == g.columns * g.rows ? std::int64_t{g.shown} - 1 : -1;
        EXPECT_EQ(TileAt(g, g.Width() - 1, g.Height() - 1), last);
    }
    EXPECT_EQ((InputShape(12, 4, 3).width), 4u); // the project's retina
    EXPECT_EQ((InputShape(12, 3, 3).width), 4u); // else square-like: 4 x 3
    EXPECT_EQ((InputShape(12, 3, 3).height), 3u);
}

TEST(Inspection, TilesShowEachWeightOnOneScaleAndTheClassesANeuronFavours)
{
    // 4 inputs on a 2 x 2 retina, 3 hidden neurons, 3 outputs.
    TNeuralNet net = testnets::MakeNet({4, 3, 3});
    const float in[4][3] = {{0.5f, -2.0f, 0.0f}, {1.0f, 0.25f, -0.5f}, {-1.0f, 0.0f, 0.125f}, {0.0f, 1.5f, 0.75f}};
    for (std::uint32_t i = 0; i < 4; ++i)
        for (std::uint32_t k = 0; k < 3; ++k)
            net.layers[0].weights[i][k] = in[i][k];
    net.layers[0].weights[4][0] = 9.0f; // a bias weight is left out of the scale
    const float out[3][3] = {{0.5f, -1.0f, 0.75f}, {-0.5f, -0.25f, -1.0f}, {0.0f, 2.0f, 0.0f}};
    for (std::uint32_t k = 0; k < 3; ++k)
        for (std::uint32_t c = 0; c < 3; ++c)
            net.layers[1].weights[k][c] = out[k][c];

    const TTileGrid grid = FitTiles(3, InputShape(4, 2, 2), 40, 40, 4);
    ASSERT_EQ(grid.shown, 3u);
    const float scale = TileScale(net, grid);
    EXPECT_EQ(scale, 2.0f);
    TPixels picture(grid.Width() + 5, grid.Height() + 5);
    DrawTiles(net, grid, scale, picture, 5, 5);
    for (std::uint32_t k = 0; k < 3; ++k)
        for (std::uint32_t i = 0; i < 4; ++i) {
            const std::uint32_t x = 5 + (k % grid.columns) * (grid.TileWidth() + TileGap) + (i % 2) * grid.scale;
            const std::uint32_t y = 5 + (k / grid.columns) * (grid.TileHeight() + TileGap) + (i / 2) * grid.scale;
            EXPECT_EQ(picture.At(x + grid.scale - 1, y + grid.scale - 1), WeightColour(in[i][k], scale)) << k << i;
        }
    // Red for positive, blue for negative, the deeper the larger; white for 0.
    const auto red = [](std::uint32_t c) { return (c >> 16) & 0xff; };
    const auto blue = [](std::uint32_t c) { return c & 0xff; };
    EXPECT_EQ(WeightColour(0.0f, scale), 0xffffffffu);
    EXPECT_GT(red(WeightColour(0.5f, 2.0f)), blue(WeightColour(0.5f, 2.0f)));
    EXPECT_LT(red(WeightColour(-0.5f, 2.0f)), blue(WeightColour(-0.5f, 2.0f)));
    EXPECT_LT(blue(WeightColour(1.5f, 2.0f)), blue(WeightColour(0.5f, 2.0f)));
    EXPECT_EQ(WeightColour(-2.0f, 2.0f), WeightColour(-7.0f, 2.0f));

    const auto favoured = [&](std::uint32_t k) {
        std::vector<std::uint32_t> classes;
        for (const TFavour& f : FavouredClasses(net, k, 2))
            classes.push_back(f.output);
        return classes;
    };
    EXPECT_EQ(favoured(0), (std::vector<std::uint32_t>{2, 0}));
    EXPECT_EQ(favoured(1), std::vector<std::uint32_t>{});
    EXPECT_EQ(favoured(2), std::vector<std::uint32_t>{1});
    EXPECT_EQ(HiddenNeurons(testnets::MakeNet({4, 3})), 0u); // no hidden layer
}

TEST(Inspection, AnElementIsDrawnCellByCellAndWrongAnswersGetSafeFileNames)
{
    TAbsImage element(6);
    element.Cells = {1, 0, 0, 0, 1, 1, 1}; // 3 x 2 and the bias byte
    const TPixels picture = ElementPicture(element, {3, 2}, 4);
    ASSERT_EQ(picture.width, 12u);
    ASSERT_EQ(picture.height, 8u);
    for (std::uint32_t y = 0; y < 8; ++y)
        for (std::uint32_t x = 0; x < 12; ++x)
            EXPECT_EQ(picture.At(x, y), element.Cells[y / 4 * 3 + x / 4] ? 0xff000000u : 0xffffffffu) << x << y;

    const struct {
        std::string name, part;
    } names[] = {
        {"7", "7"},
        {"кошка", "кошка"},
        {"a/b\\c d_e", "a-b-c-d-e"},
        {"..", "--"},
        {".x.", "-x-"},
        {"", "-"},
        {std::string(30, 'z') + "ё" + std::string(30, 'z'), std::string(30, 'z') + "ё" + std::string(16, 'z')},
        {std::string(47, 'z') + "ё", std::string(47, 'z')}, // a letter is never cut in two
    };
    for (const auto& n : names)
        EXPECT_EQ(FileNamePart(n.name), n.part) << n.name;
    // The place in at least four digits, so that names sort by it up to 9999.
    const struct {
        std::uint64_t place;
        const char* name;
    } files[] = {
        {0, "0000_два_a-b.png"},     {7, "0007_два_a-b.png"},     {123, "0123_два_a-b.png"},
        {9999, "9999_два_a-b.png"},  {10000, "10000_два_a-b.png"}, {123456, "123456_два_a-b.png"},
    };
    for (const auto& f : files)
        EXPECT_EQ(WrongAnswerFileName(f.place, "два", "a b"), f.name);
}

TEST(Inspection, AMarkLandsOnItsElementUntilTheSequenceChanges)
{
    TProject project;
    project.NewProject({1, 4, 2});
    for (std::int32_t c = 0; c < 4; ++c)
        project.AddSample(TAbsImage(1), c);
    // The cursor rests on class 3; its successors are 0, 1, 2.
    const TSequenceMark mark = project.CursorMark();
    project.StepCursor();
    project.TrainEpoch({});
    for (std::uint32_t steps : {2u, 5u, 0u}) {
        ASSERT_TRUE(project.MoveCursorTo(mark, steps));
        EXPECT_EQ(project.Sequence().CurrentElement()->ClassIndex, static_cast<std::int32_t>((3 + steps) % 4)) << steps;
        EXPECT_EQ(project.MarkedElement(mark, steps), project.Sequence().CurrentElement());
    }
    const auto lapses = [&](const std::function<void()>& change) {
        const TSequenceMark m = project.CursorMark();
        change();
        const TAbsImage* cursor = project.Sequence().CurrentElement();
        EXPECT_EQ(project.MarkedElement(m), nullptr);
        EXPECT_FALSE(project.MoveCursorTo(m, 1));
        EXPECT_EQ(project.Sequence().CurrentElement(), cursor);
    };
    lapses([&] { project.AddSample(TAbsImage(1), 0); });
    lapses([&] { project.RemoveCurrentSample(); });
    lapses([&] {
        PatternRing other;
        other.Add(TAbsImage(1), 1);
        project.ReplaceSequence(other);
    });
    EXPECT_FALSE(project.MoveCursorTo(TSequenceMark{}));
}
