#pragma once
// Figures on a grid of cells: finding them, cutting each one out onto the
// retina, and recognising every figure of a drawing with a network. No
// display is involved; the canvas window paints what these report.

#include "engine/NeuralNet.h"
#include "images/Images.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// Cells a grid can address: Width * Height, limited to its buffer.
std::size_t GridCells(const TRectImage& grid);

// A cell of a grid.
struct TCellPos {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    bool operator==(const TCellPos&) const = default;
};

// The first cell holding 1, scanning rows y = 0 .. height - 1 from the top
// and each row from x = 0 to width - 1 (both limited to the grid), starting
// at the cell `from` of that order; none when there is no such cell.
std::optional<TCellPos> FindFirstSetCell(const TRectImage& grid, std::uint32_t width, std::uint32_t height,
                                         TCellPos from = {});

// What a fill found: the smallest and largest column and row of the cells
// it took, and how many it took.
struct TObjectBox {
    std::uint32_t left = 0;
    std::uint32_t top = 0;
    std::uint32_t maxX = 0;
    std::uint32_t maxY = 0;
    std::uint64_t cells = 0;
};

// Told of each run of cells a fill takes: row y, columns left .. right.
using TRunSink = std::function<void(std::uint32_t y, std::uint32_t left, std::uint32_t right)>;

// The 8-connected fill: takes every cell holding 1 that is connected to
// (x, y) through sides or corners out of `canvas` (it becomes 0), sets the
// same cell of `object` to 1 and tells onRun (when given) of each run taken. The box starts at (x, y) and grows to hold every cell
// taken. When (x, y) lies outside the canvas or does not hold 1, nothing is
// taken. The traversal keeps its own list of runs to visit, so an object
// covering the whole canvas needs no deep call chain. Cells of `object`
// outside its grid are not written.
TObjectBox FillObject(TRectImage& canvas, TRectImage& object, std::uint32_t x, std::uint32_t y,
                      const TRunSink& onRun = {});

// The figure's bounding box as the canvas window keeps it: its smallest
// column and row, and its largest minus its smallest (0 for one cell).
struct TFigureBox {
    std::uint32_t left = 0;
    std::uint32_t top = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Puts the figure of the box onto a retina of retinaWidth x retinaHeight
// (negative sizes count as 0), with the bias byte after the cells: with
// Stretch, crops the grid to the box and rescales it; with Aspect, takes
// every set cell of the whole box (TFigureFit). `retina` holds the grid
// before and the retina after.
void SampleFigure(TRectImage& retina, const TFigureBox& box, std::int32_t retinaWidth, std::int32_t retinaHeight,
                  TFigureFit fit = TFigureFit::Stretch);

// Takes the figure holding cell (x, y) out of `canvas` (its cells become 0)
// and leaves in `retina` what SampleFigure leaves of a grid of the canvas's
// size that holds the figure's cells alone: the figure cut to its box and
// scaled to the retina size. Only the figure's own cells are visited, so
// the work grows with the figure, not with the canvas. onRun (when given)
// is told of every run of cells taken.
TFigureBox ExtractFigure(TRectImage& canvas, TRectImage& retina, std::uint32_t x, std::uint32_t y,
                         std::int32_t retinaWidth, std::int32_t retinaHeight, const TRunSink& onRun = {},
                         TFigureFit fit = TFigureFit::Stretch);

// One recognised figure: its box and the class the network chose for it.
struct TRecognisedFigure {
    TFigureBox box;
    std::uint32_t classIndex = 0;
};

// Which figures recognition names, and how many at most.
struct TFigureFilter {
    // Figures of fewer cells are taken off the canvas but not recognised.
    std::uint64_t minCells = 0;
    // Recognition stops once it has named this many; the rest stay on the canvas.
    std::size_t maxFigures = SIZE_MAX;
};

// Recognition: takes every figure off the width x height area of `canvas`,
// one after the other in the order their first cells come scanning rows
// from the top and each row from the left, samples each onto `retina` as
// ExtractFigure does, runs the network on it and reads its winning output.
// Afterwards the canvas holds no set cell there (unless filter.maxFigures
// stopped it) and the retina holds the last recognised figure's sample. The
// work is one scan of the area plus each figure's own cells and its pass
// through the network.
std::vector<TRecognisedFigure> RecogniseFigures(TRectImage& canvas, TRectImage& retina, std::uint32_t width,
                                                std::uint32_t height, std::int32_t retinaWidth,
                                                std::int32_t retinaHeight, TNeuralNet& net,
                                                const TRunSink& onRun = {}, const TFigureFilter& filter = {},
                                                TFigureFit fit = TFigureFit::Stretch);

// The retina takes its cells from a sequence element: cell i becomes the
// element's cell i where the element has one and 0 beyond the element's
// cells (the element's bias byte is not a cell). The retina's buffer is
// not reallocated.
void CopyElementCells(const TAbsImage& element, TAbsImage& retina);

// Byte `index` of the image's buffer as a signed number, or none when the
// buffer is shorter.
std::optional<int> BufferByte(const TAbsImage& image, std::uint64_t index);

