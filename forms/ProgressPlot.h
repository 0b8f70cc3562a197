#pragma once
// The pictures of the learning progress window, drawn on a canvas without
// antialiasing like every other bitmap of the program: plots of epoch
// figures on linear or logarithmic axes with numbered ticks, and confusion
// matrices.

#include "framework/Canvas.h"
#include "project/Confusion.h"
#include "project/EpochHistory.h"
#include "project/Inspection.h"

#include <QImage>

#include <QRect>
#include <QString>

#include <optional>
#include <string>
#include <vector>

// A value axis: linear, or logarithmic over positive values.
struct TPlotAxis {
    double lo = 0.0;
    double hi = 1.0;
    bool log = false;

    // Where v lies from lo (0) to hi (1); values a logarithmic axis cannot
    // show (0 or below) lie at 0.
    double Fraction(double v) const;
};

// A linear axis from lo to hi, widened to whole ticks.
TPlotAxis LinearAxis(double lo, double hi);
// A logarithmic axis over the finite positive values from `smallest` to
// `largest`, widened to whole powers of ten; 1..10 when there are none.
TPlotAxis LogAxis(double smallest, double largest);
// The tick values of an axis: 1, 2 or 5 times a power of ten on a linear
// one (at most about `most` of them), the powers of ten on a logarithmic one
// (with 2 and 5 times them when it spans less than two).
std::vector<double> AxisTicks(const TPlotAxis& axis, int most);
// A number as a tick or a figure reads: up to four significant digits,
// without an exponent from 0.0001 to 10^6.
QString PlotNumber(double v);

// A plot area on a canvas with its horizontal and vertical axis.
class TPlot {
public:
    TPlot(TCanvas& canvas, QRect area, TPlotAxis x, TPlotAxis y);

    int X(double v) const;
    int Y(double v) const;

    // The frame, the horizontal ticks with their numbers and title below,
    // and light grid lines.
    void Frame(const QString& xTitle);
    // The vertical ticks with their numbers on the left or the right side,
    // in the colour.
    void VerticalAxis(bool right, TColor color);
    // The figures values[index] of the history's points as a polyline,
    // columns of many points drawn as one span; points a logarithmic axis
    // cannot show are skipped. Drawn straight onto the canvas's image: call
    // after the canvas has painted over the plot, which marks it changed.
    void Curve(const TEpochHistory& history, std::size_t index, TColor color, int width);
    // A horizontal line across the plot at v, dashed when asked.
    void Level(double v, TColor color, bool dashed);
    // A vertical dashed line at x = v.
    void Mark(double v, TColor color);

    TCanvas& Canvas() { return canvas_; }
    const QRect& Area() const { return area_; }

private:
    TCanvas& canvas_;
    QRect area_;
    TPlotAxis x_;
    TPlotAxis y_;
};

// One legend entry: a short line of the colour, dashed or not, and its text.
// Returns the x where the next entry may start.
int LegendEntry(TCanvas& canvas, int x, int y, TColor color, bool dashed, const QString& text);

// The most classes a confusion matrix is drawn for; beyond, only its figures.
inline constexpr std::size_t MaxDrawnClasses = 40;

// A confusion matrix in the area: the title, rows the true class, columns the
// answer, class names as headers, each cell's count (where it fits) on a
// shade of its share of the row, and each class's recall in the last column.
void DrawConfusion(TCanvas& canvas, QRect area, const QString& title, const TConfusion& matrix,
                   const std::vector<std::string>& names);

// Where DrawConfusion puts the cells of a matrix of `classes` classes in the
// area: cell (t, a) at (left + a * cellWidth, top + t * cellHeight). No
// cells (0 classes) when it draws none.
struct TConfusionLayout {
    std::size_t classes = 0;
    int left = 0;
    int top = 0;
    int cellWidth = 0;
    int cellHeight = 0;
    bool numbers = false; // the headers and counts are written
};
TConfusionLayout ConfusionLayout(const TCanvas& canvas, QRect area, std::size_t classes);

// The cell (true class, answer) under the point; none outside the cells.
struct TConfusionCell {
    std::size_t trueClass = 0;
    std::size_t answer = 0;
};
std::optional<TConfusionCell> ConfusionCellAt(const TConfusionLayout& layout, QPoint point);

// A picture of the inspection (project/Inspection.h) as an image of its own.
QImage PixelsImage(const TPixels& pixels);
