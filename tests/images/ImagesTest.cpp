// Byte images: the bias byte, cell access with its range checks, Crop and
// Rescale.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "images/Images.h"

namespace {

using Cells = std::vector<std::int8_t>;

TRectImage Grid(std::uint32_t w, std::uint32_t h, const Cells& cells) {
    TRectImage img;
    img.Resize(w, h);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            img.SetCell(x, y, cells[y * w + x]);
    return img;
}

// The set cells of a grid, as (x, y) pairs read through GetCell.
std::vector<std::pair<std::uint32_t, std::uint32_t>> SetCells(const TRectImage& img) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> set;
    for (std::uint32_t y = 0; y < img.GetHeight(); ++y)
        for (std::uint32_t x = 0; x < img.GetWidth(); ++x)
            if (img.GetCell(x, y) != 0)
                set.emplace_back(x, y);
    return set;
}

// A grid after Rescale: w x h cells followed by exactly one bias byte 1.
void ExpectRescaledShape(const TRectImage& img, std::uint32_t w, std::uint32_t h) {
    EXPECT_EQ(img.GetWidth(), w);
    EXPECT_EQ(img.GetHeight(), h);
    EXPECT_EQ(img.GetSize(), w * h);
    ASSERT_EQ(img.Cells.size(), std::size_t{w} * h + 1);
    EXPECT_EQ(img.Cells[w * h], 1);
}

} // namespace

TEST(AbsImage, AssignWithBiasCopiesCellsAndEndsWithBiasWhateverFollowedThem) {
    TAbsImage src(3);
    src.Cells = {1, 0, 1, 0, 7};   // bytes after the cells must not leak in
    TAbsImage other;
    TAbsImage dst;
    dst.ClassIndex = 5;
    dst.Next = &other;
    dst.AssignWithBias(src);
    EXPECT_EQ(dst.Size, 3u);
    EXPECT_EQ(dst.Cells, (Cells{1, 0, 1, 1}));
    EXPECT_EQ(dst.ClassIndex, 5);
    EXPECT_EQ(dst.Next, &other);

    dst.AssignWithBias(dst);       // from itself: same cells, one bias byte
    EXPECT_EQ(dst.Cells, (Cells{1, 0, 1, 1}));

    TAbsImage shortSrc;
    shortSrc.Size = 4;
    shortSrc.Cells = {1, 1};       // holds fewer bytes than its Size says
    dst.AssignWithBias(shortSrc);
    EXPECT_EQ(dst.Cells, (Cells{1, 1, 0, 0, 1}));
}

TEST(AbsImage, ClearZeroesCellsAndRefusesAnImageWithoutCells) {
    TAbsImage img(4);
    img.AssignWithBias(TAbsImage(4));
    img.Cells = {1, 1, 0, 1, 1};
    img.Clear();
    EXPECT_EQ(img.Cells, (Cells{0, 0, 0, 0, 1}));

    TAbsImage empty;
    EXPECT_THROW(empty.Clear(), ERangeError);
    TRectImage none;
    none.Resize(0, 3);
    EXPECT_THROW(none.Clear(), ERangeError);
}

TEST(RectImage, CellsAreRowMajorAndResizeClearsThem) {
    TRectImage img;
    img.Resize(3, 2);
    img.SetCell(2, 1, 1);
    img.SetCell(1, 0, 1);
    EXPECT_EQ(img.Cells, (Cells{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(img.GetCell(2, 1), 1);

    img.Resize(4, 5);
    EXPECT_EQ(img.GetSize(), 20u);
    EXPECT_EQ(img.Cells.size(), 20u);   // no bias byte after Resize
    EXPECT_TRUE(SetCells(img).empty());
}

TEST(RectImage, OutOfGridAccessIsRangeErrorAndTouchesNothing) {
    TRectImage img = Grid(3, 2, {1, 0, 1, 0, 1, 0});
    const Cells before = img.Cells;
    EXPECT_THROW(img.GetCell(3, 0), ERangeError);
    EXPECT_THROW(img.GetCell(0, 2), ERangeError);
    EXPECT_THROW(img.GetCell(0xFFFFFFFFu, 0), ERangeError);
    EXPECT_THROW(img.SetCell(3, 0, 1), ERangeError);
    EXPECT_THROW(img.SetCell(2, 2, 1), ERangeError);
    EXPECT_THROW(img.SetCell(0, 0xFFFFFFFFu, 1), ERangeError);
    EXPECT_EQ(img.Cells, before);

    // Fields set by hand past the buffer are caught as well.
    img.Width = 10;
    EXPECT_THROW(img.GetCell(9, 1), ERangeError);

    TRectImage empty;
    EXPECT_THROW(empty.GetCell(0, 0), ERangeError);
    EXPECT_THROW(empty.Resize(70000, 70000), ERangeError);   // more cells than Size holds
    EXPECT_EQ(empty.GetSize(), 0u);
    EXPECT_TRUE(empty.Cells.empty());
}

TEST(RectImage, CropKeepsTheWindowAndAddsTheBiasByte) {
    std::mt19937 rng(7);
    Cells cells(6 * 5);
    for (auto& c : cells)
        c = static_cast<std::int8_t>(rng() % 2);
    const TRectImage original = Grid(6, 5, cells);

    TRectImage img = original;
    img.Crop(1, 2, 4, 3);
    ASSERT_EQ(img.GetWidth(), 4u);
    ASSERT_EQ(img.GetHeight(), 3u);
    EXPECT_EQ(img.GetSize(), 12u);
    ASSERT_EQ(img.Cells.size(), 13u);
    EXPECT_EQ(img.Cells[12], 1);
    for (std::uint32_t y = 0; y < 3; ++y)
        for (std::uint32_t x = 0; x < 4; ++x)
            EXPECT_EQ(img.GetCell(x, y), original.GetCell(x + 1, y + 2)) << x << "," << y;

    TRectImage whole = original;
    whole.Crop(0, 0, 6, 5);
    EXPECT_EQ(Cells(whole.Cells.begin(), whole.Cells.end() - 1), original.Cells);
}

TEST(RectImage, CropReachingOutsideIsRangeErrorAndChangesNothing) {
    const TRectImage original = Grid(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    struct Window { std::uint32_t x0, y0, w, h; };
    for (const Window& win : {Window{1, 0, 3, 1}, Window{0, 1, 1, 3}, Window{3, 0, 1, 1},
                              Window{0xFFFFFFFFu, 0, 2, 1}, Window{0, 0xFFFFFFFFu, 1, 2}}) {
        TRectImage img = original;
        EXPECT_THROW(img.Crop(win.x0, win.y0, win.w, win.h), ERangeError);
        EXPECT_EQ(img.Cells, original.Cells);
        EXPECT_EQ(img.GetWidth(), 3u);
        EXPECT_EQ(img.GetHeight(), 3u);
        EXPECT_EQ(img.GetSize(), 9u);
    }
    TRectImage img = original;
    img.Crop(2, 2, 0, 0);          // an empty window reads nothing
    EXPECT_EQ(img.GetSize(), 0u);
    EXPECT_EQ(img.Cells, (Cells{1}));
}

TEST(Rescale, EachSetCellGoesWhereTheSinglePrecisionRatioPutsItAndTheBiasFollows) {
    using Set = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    const auto every = [](std::uint32_t w, std::uint32_t h, std::uint32_t step) {
        Set set;
        for (std::uint32_t y = 0; y < h; y += step)
            for (std::uint32_t x = 0; x < w; x += step)
                set.emplace_back(x, y);
        return set;
    };
    const auto grid = [](std::uint32_t w, std::uint32_t h, const Set& set) {
        TRectImage img;
        img.Resize(w, h);
        for (const auto& [x, y] : set)
            img.SetCell(x, y, 1);
        return img;
    };
    const struct {
        const char* what;
        TRectImage from;
        std::uint32_t w, h;
        Set set;
    } cases[] = {
        {"enlarged by 7/3, the centre lands on (2, 2)", grid(3, 3, {{1, 1}}), 7, 7, {{2, 2}}},
        {"enlarged, set cells are spaced by the ratio", grid(2, 2, every(2, 2, 1)), 4, 4, every(4, 4, 2)},
        {"ten full rows doubled", grid(10, 10, every(10, 10, 1)), 20, 20, every(20, 20, 2)},
        {"shrunk, the cells that meet are or-ed", grid(2, 2, every(2, 2, 1)), 1, 1, {{0, 0}}},
        {"a full canvas shrinks to a full retina", grid(500, 400, every(500, 400, 1)), 10, 10, every(10, 10, 1)},
        {"the canvas's corner stays inside", grid(500, 400, {{499, 399}}), 10, 10, {{9, 9}}},
        // 10/500 as a float lies just below 0.02 and 10/400 just above 0.025:
        // (50, 40) maps to (0, 1), where exact ratios would give (1, 1).
        {"single-precision ratios", grid(500, 400, {{50, 40}}), 10, 10, {{0, 1}}},
        {"an empty grid", TRectImage{}, 3, 2, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TRectImage img = c.from;
        img.Rescale(c.w, c.h);
        ExpectRescaledShape(img, c.w, c.h);
        EXPECT_EQ(SetCells(img), c.set);
    }
    // Only cells holding 1 are mapped; an empty target keeps the bias alone.
    TRectImage odd = Grid(2, 2, {2, -1, 0, 1});
    odd.Rescale(2, 2);
    EXPECT_EQ(odd.Cells, (Cells{0, 0, 0, 1, 1}));
    odd.Rescale(0, 5);
    ExpectRescaledShape(odd, 0, 5);
    EXPECT_EQ(odd.Cells, (Cells{1}));
}
