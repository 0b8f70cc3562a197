#pragma once
// The work behind the canvas and the retina view that speaks Qt's types:
// reading a drawing into cells, painting the runs a fill takes, drawing a
// retina, and the rules the retina view's buttons follow. Finding and
// cutting out figures is in project/Figures.h. Everything here runs without
// a display.

#include "images/Images.h"
#include "project/Figures.h"

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

// Paints the runs a fill takes yellow, straight into the bitmap's rows (a
// bitmap of another format is converted first); pixels outside the bitmap
// are left alone.
TRunSink YellowRuns(QImage& bitmap);

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
