#pragma once
// The work behind the canvas and the retina view, apart from the widgets:
// reading a drawing into cells, finding and cutting out figures, drawing a
// retina, and the rules the retina view's buttons follow. Everything here
// runs without a display.

#include "images/Images.h"

#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// ---- Canvas --------------------------------------------------------------

// Sets cell (x, y) of `cells` to 1 where pixel (x, y) of the bitmap is
// exactly black and to 0 for every other colour, for x < width and
// y < height. Cells the bitmap does not cover read 0; nothing outside the
// grid of `cells` is touched.
void ReadBitmapCells(const QImage& bitmap, std::uint32_t width, std::uint32_t height, TRectImage& cells);

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

// The 8-connected fill: takes every cell holding 1 that is connected to
// (x, y) through sides or corners out of `canvas` (it becomes 0), sets the
// same cell of `object` to 1 and, when `marks` is given, paints that pixel
// of `marks` yellow. The box starts at (x, y) and grows to hold every cell
// taken. When (x, y) lies outside the canvas or does not hold 1, nothing is
// taken. The traversal keeps its own list of runs to visit, so an object
// covering the whole canvas needs no deep call chain. Cells of `object` and
// pixels of `marks` outside their grids are not written.
TObjectBox FillObject(TRectImage& canvas, TRectImage& object, std::uint32_t x, std::uint32_t y,
                      QImage* marks = nullptr);

// ---- Retina --------------------------------------------------------------

// Side of the retina view in pixels.
inline constexpr int RetinaViewSize = 150;

// The view's pixels per retina cell: RetinaViewSize / width as a float;
// 0 for a retina without columns, which is then not drawn.
float RetinaScale(std::uint32_t width);

// Where the edge before cell i falls: i * scale, formed in extended
// precision and truncated toward zero.
int RetinaEdge(std::uint32_t i, float scale);

// The filled squares that draw the retina: for every column i (outer) and
// row j (inner) whose cell is not 0, the area from (edge(i), edge(j)) up to
// but not including (edge(i + 1), edge(j + 1)). None for a retina without
// columns or rows; squares of no area (more cells than view pixels) are
// left out.
std::vector<QRect> RetinaSquares(const TRectImage& retina);

// The retina takes its cells from a sequence element: cell i becomes the
// element's cell i where the element has one and 0 beyond the element's
// cells (the element's bias byte is not a cell). The retina's buffer is
// not reallocated.
void CopyElementCells(const TAbsImage& element, TAbsImage& retina);

// Byte `index` of the image's buffer as a signed number, or none when the
// buffer is shorter.
std::optional<int> BufferByte(const TAbsImage& image, std::uint64_t index);

// The percentage shown for a winning output: value * 100 truncated toward
// zero, followed by "%".
QString PercentText(float value);

// ---- Retina view buttons ---------------------------------------------------

// The enabled state of ">>" (next) and "Добавить в список" (add).
struct TRetinaButtons {
    bool next = false;
    bool add = false;
    bool operator==(const TRetinaButtons&) const = default;
};

enum class TRetinaEvent {
    Opened,       // the menu opened the view for the canvas or for the sequence
    Shown,        // ">>" showed a sample (either mode)
    NothingLeft,  // ">>" found no figure left on the canvas
    ClassChanged, // the user chose or typed a class
};

// The buttons after an event, from the buttons before it.
TRetinaButtons ButtonsAfter(TRetinaEvent event, TRetinaButtons before);
