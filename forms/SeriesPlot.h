#pragma once
// Drawing a long polyline on a canvas quickly: a series of many more points
// than the picture has columns puts many consecutive points into one column.
// The segments between them all lie on one vertical line, and together they
// cover exactly the span from the column's lowest to its highest point, so
// they are drawn as that one span. Everything else is drawn segment by
// segment with the canvas's own LineTo, and the pen ends where the plain
// polyline would leave it.

#include "framework/Canvas.h"

class TColumnPolyline {
public:
    // Continues from the canvas's pen position, with its pen.
    explicit TColumnPolyline(TCanvas& canvas);
    ~TColumnPolyline() { Flush(); }
    TColumnPolyline(const TColumnPolyline&) = delete;
    TColumnPolyline& operator=(const TColumnPolyline&) = delete;

    // The next point of the line, as TCanvas::LineTo(x, y) would draw it.
    void LineTo(int x, int y);
    // Draws what is still pending; call before changing the pen.
    void Flush();

private:
    TCanvas& canvas_;
    int column_;     // column of the pending span: the pen's column
    int top_;        // the pending span: rows top_ .. bottom_
    int bottom_;
    int last_;       // row of the last point
};
