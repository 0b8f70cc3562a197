#include "forms/SeriesPlot.h"

#include <algorithm>

TColumnPolyline::TColumnPolyline(TCanvas& canvas)
    : canvas_(canvas),
      column_(canvas.PenPos().x()),
      top_(canvas.PenPos().y()),
      bottom_(canvas.PenPos().y()),
      last_(canvas.PenPos().y())
{
}

void TColumnPolyline::LineTo(int x, int y)
{
    if (x == column_) {
        top_ = std::min(top_, y);
        bottom_ = std::max(bottom_, y);
        last_ = y;
        return;
    }
    Flush();
    canvas_.LineTo(x, y);
    column_ = x;
    top_ = bottom_ = last_ = y;
}

void TColumnPolyline::Flush()
{
    if (top_ != bottom_) {
        canvas_.MoveTo(column_, top_);
        canvas_.LineTo(column_, bottom_);
    }
    canvas_.MoveTo(column_, last_);
    top_ = bottom_ = last_;
}
