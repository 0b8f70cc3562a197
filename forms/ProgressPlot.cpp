#include "forms/ProgressPlot.h"

#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr TColor GridColor = qRgb(225, 225, 225);
constexpr TColor FrameColor = qRgb(96, 96, 96);

// The tick step for a linear span: 1, 2 or 5 times a power of ten, so that
// about `most` ticks cover it.
double NiceStep(double span, int most)
{
    if (!(span > 0.0) || !std::isfinite(span))
        return 1.0;
    const double raw = span / std::max(most, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10.0 * power;
}

void DashedLine(TCanvas& canvas, int x1, int y1, int x2, int y2, TColor color)
{
    // Horizontal or vertical dashes of four pixels on, three off.
    const int length = std::max(std::abs(x2 - x1), std::abs(y2 - y1));
    for (int k = 0; k <= length; ++k) {
        if (k % 7 >= 4)
            continue;
        const int x = length == 0 ? x1 : x1 + (x2 - x1) * k / length;
        const int y = length == 0 ? y1 : y1 + (y2 - y1) * k / length;
        canvas.SetPixel(x, y, color);
    }
}

// The text cut to fit `width` pixels, with "…" where it was cut.
QString Fitted(const TCanvas& canvas, const QString& text, int width)
{
    if (canvas.TextRect(0, 0, text).width() <= width)
        return text;
    QString cut = text;
    while (!cut.isEmpty() && canvas.TextRect(0, 0, cut + QStringLiteral("…")).width() > width)
        cut.chop(1);
    return cut.isEmpty() ? QString() : cut + QStringLiteral("…");
}

void Text(TCanvas& canvas, int x, int y, const QString& text, TColor color = clBlack)
{
    canvas.SetFontColor(color);
    canvas.SetTransparentText(true);
    canvas.TextOut(x, y, text);
}

} // namespace

double TPlotAxis::Fraction(double v) const
{
    if (log) {
        if (!(v > 0.0))
            return 0.0;
        return (std::log10(v) - std::log10(lo)) / (std::log10(hi) - std::log10(lo));
    }
    return hi > lo ? (v - lo) / (hi - lo) : 0.0;
}

TPlotAxis LinearAxis(double lo, double hi)
{
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return {0.0, 1.0, false};
    if (hi <= lo)
        hi = lo + 1.0;
    const double step = NiceStep(hi - lo, 5);
    return {std::floor(lo / step) * step, std::ceil(hi / step) * step, false};
}

TPlotAxis LogAxis(double smallest, double largest)
{
    if (!(smallest > 0.0) || !std::isfinite(smallest) || !(largest >= smallest) || !std::isfinite(largest))
        return {1.0, 10.0, true};
    double lo = std::pow(10.0, std::floor(std::log10(smallest)));
    double hi = std::pow(10.0, std::ceil(std::log10(largest)));
    if (hi <= lo)
        hi = lo * 10.0;
    return {lo, hi, true};
}

std::vector<double> AxisTicks(const TPlotAxis& axis, int most)
{
    std::vector<double> ticks;
    if (axis.log) {
        const int first = static_cast<int>(std::lround(std::log10(axis.lo)));
        const int last = static_cast<int>(std::lround(std::log10(axis.hi)));
        const bool fine = last - first < 2;
        const int every = std::max(1, (last - first + most - 1) / std::max(most, 1));
        for (int e = first; e <= last; ++e) {
            const double power = std::pow(10.0, e);
            if ((e - first) % every == 0)
                ticks.push_back(power);
            if (fine && e < last)
                for (const double m : {2.0, 5.0})
                    ticks.push_back(m * power);
        }
        std::sort(ticks.begin(), ticks.end());
        return ticks;
    }
    const double step = NiceStep(axis.hi - axis.lo, most);
    for (double v = std::ceil(axis.lo / step - 1e-9) * step; v <= axis.hi + step * 1e-9; v += step)
        ticks.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
    return ticks;
}

QString PlotNumber(double v)
{
    if (!std::isfinite(v))
        return QStringLiteral("—");
    const double a = std::abs(v);
    if (a != 0.0 && (a < 1e-4 || a >= 1e6))
        return QString::number(v, 'g', 2);
    return QString::number(v, 'g', 4);
}

TPlot::TPlot(TCanvas& canvas, QRect area, TPlotAxis x, TPlotAxis y)
    : canvas_(canvas), area_(area), x_(x), y_(y)
{
}

int TPlot::X(double v) const
{
    const double f = std::clamp(x_.Fraction(v), 0.0, 1.0);
    return area_.left() + static_cast<int>(std::lround(f * (area_.width() - 1)));
}

int TPlot::Y(double v) const
{
    const double f = std::clamp(y_.Fraction(v), 0.0, 1.0);
    return area_.bottom() - static_cast<int>(std::lround(f * (area_.height() - 1)));
}

void TPlot::Frame(const QString& xTitle)
{
    canvas_.SetPenWidth(1);
    for (const double t : AxisTicks(x_, std::max(2, area_.width() / 70))) {
        const int x = X(t);
        canvas_.SetPenColor(GridColor);
        canvas_.MoveTo(x, area_.top());
        canvas_.LineTo(x, area_.bottom());
        canvas_.SetPenColor(FrameColor);
        canvas_.MoveTo(x, area_.bottom());
        canvas_.LineTo(x, area_.bottom() + 4);
        const QString label = PlotNumber(t);
        Text(canvas_, x - canvas_.TextRect(0, 0, label).width() / 2, area_.bottom() + 4, label);
    }
    for (const double t : AxisTicks(y_, std::max(2, area_.height() / 28))) {
        canvas_.SetPenColor(GridColor);
        canvas_.MoveTo(area_.left(), Y(t));
        canvas_.LineTo(area_.right(), Y(t));
    }
    canvas_.SetPenColor(FrameColor);
    canvas_.MoveTo(area_.left(), area_.top());
    canvas_.LineTo(area_.right(), area_.top());
    canvas_.LineTo(area_.right(), area_.bottom());
    canvas_.LineTo(area_.left(), area_.bottom());
    canvas_.LineTo(area_.left(), area_.top());
    const QRect box = canvas_.TextRect(0, 0, xTitle);
    Text(canvas_, area_.right() - box.width(), area_.bottom() + 4 + box.height(), xTitle);
}

void TPlot::VerticalAxis(bool right, TColor color)
{
    canvas_.SetPenWidth(1);
    canvas_.SetPenColor(color);
    const int edge = right ? area_.right() : area_.left();
    for (const double t : AxisTicks(y_, std::max(2, area_.height() / 28))) {
        const int y = Y(t);
        canvas_.MoveTo(edge, y);
        canvas_.LineTo(right ? edge + 4 : edge - 4, y);
        const QString label = PlotNumber(t);
        const QRect box = canvas_.TextRect(0, 0, label);
        Text(canvas_, right ? edge + 6 : edge - 6 - box.width(), y - box.height() / 2, label, color);
    }
}

void TPlot::Curve(const TEpochHistory& history, std::size_t index, TColor color, int width)
{
    // Thinned to the picture: of the points falling into one column only the
    // first, the lowest, the highest and the last are drawn, so a line of
    // thousands of points costs about as much as the plot is wide. One
    // painter for the whole line, without antialiasing like the canvas.
    QPolygon line;
    int column = std::numeric_limits<int>::min();
    int first = 0, low = 0, high = 0, last = 0;
    const auto flush = [&] {
        if (column == std::numeric_limits<int>::min())
            return;
        line << QPoint(column, first);
        if (low != first)
            line << QPoint(column, low);
        if (high != low)
            line << QPoint(column, high);
        if (last != high)
            line << QPoint(column, last);
    };
    for (std::size_t i = 0; i < history.Count(); ++i) {
        const double v = history[i].values[index];
        if (!std::isfinite(v) || (y_.log && !(v > 0.0)))
            continue;
        const int x = X(static_cast<double>(history[i].epoch));
        const int y = Y(v);
        if (x != column) {
            flush();
            column = x;
            first = low = high = last = y;
            continue;
        }
        // Rows grow downwards: the lowest value is the largest row.
        low = std::max(low, y);
        high = std::min(high, y);
        last = y;
    }
    flush();
    if (line.isEmpty())
        return;
    QPainter painter(&canvas_.Image());
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor(color), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (line.size() == 1)
        painter.drawPoint(line[0]);
    else
        painter.drawPolyline(line);
}

void TPlot::Level(double v, TColor color, bool dashed)
{
    if (!std::isfinite(v) || (y_.log && !(v > 0.0)))
        return;
    const int y = Y(v);
    if (dashed) {
        DashedLine(canvas_, area_.left() + 1, y, area_.right() - 1, y, color);
        DashedLine(canvas_, area_.left() + 1, y + 1, area_.right() - 1, y + 1, color);
        return;
    }
    canvas_.SetPenColor(color);
    canvas_.SetPenWidth(1);
    canvas_.MoveTo(area_.left() + 1, y);
    canvas_.LineTo(area_.right() - 1, y);
}

void TPlot::Mark(double v, TColor color)
{
    DashedLine(canvas_, X(v), area_.top() + 1, X(v), area_.bottom() - 1, color);
}

int LegendEntry(TCanvas& canvas, int x, int y, TColor color, bool dashed, const QString& text)
{
    const QRect box = canvas.TextRect(0, 0, text);
    const int mid = y + box.height() / 2;
    for (int row = mid; row <= mid + 1; ++row) {
        if (dashed) {
            DashedLine(canvas, x, row, x + 18, row, color);
        } else {
            canvas.SetPenColor(color);
            canvas.SetPenWidth(1);
            canvas.MoveTo(x, row);
            canvas.LineTo(x + 18, row);
        }
    }
    Text(canvas, x + 22, y, text);
    return x + 22 + box.width() + 12;
}

TConfusionLayout ConfusionLayout(const TCanvas& canvas, QRect area, std::size_t classes)
{
    TConfusionLayout layout;
    if (classes == 0 || classes > MaxDrawnClasses)
        return layout;
    // Columns: the row names, one per answer, the recall. Rows: the title,
    // the column names, one per true class.
    const int k = static_cast<int>(classes);
    const int line = canvas.TextRect(0, 0, QStringLiteral("0")).height();
    const int nameWidth = std::min(64, area.width() / 5);
    const int recallWidth = canvas.TextRect(0, 0, QStringLiteral("полнота")).width() + 6;
    const int top = area.top() + line + 2;
    layout.classes = classes;
    layout.cellWidth = std::max(4, (area.width() - nameWidth - recallWidth) / k);
    layout.cellHeight = std::max(4, std::min(line + 2, (area.bottom() - top - line) / (k + 1)));
    layout.left = area.left() + nameWidth;
    layout.top = top + layout.cellHeight;
    layout.numbers = layout.cellHeight >= line;
    return layout;
}

std::optional<TConfusionCell> ConfusionCellAt(const TConfusionLayout& layout, QPoint point)
{
    const int x = point.x() - layout.left, y = point.y() - layout.top;
    const int k = static_cast<int>(layout.classes);
    if (k == 0 || x < 0 || y < 0 || x >= k * layout.cellWidth || y >= k * layout.cellHeight)
        return std::nullopt;
    return TConfusionCell{static_cast<std::size_t>(y / layout.cellHeight),
                          static_cast<std::size_t>(x / layout.cellWidth)};
}

void DrawConfusion(TCanvas& canvas, QRect area, const QString& title, const TConfusion& matrix,
                   const std::vector<std::string>& names)
{
    const std::size_t k = matrix.Classes();
    const int line = canvas.TextRect(0, 0, QStringLiteral("0")).height();
    Text(canvas, area.left(), area.top(), title);
    if (k == 0)
        return;
    if (k > MaxDrawnClasses) {
        Text(canvas, area.left(), area.top() + line + 2,
             QStringLiteral("Классов больше %1: матрица не показывается.").arg(MaxDrawnClasses));
        return;
    }
    const auto name = [&](std::size_t c) {
        return c < names.size() && !names[c].empty() ? QString::fromStdString(names[c]) : QString::number(c);
    };
    const TConfusionLayout layout = ConfusionLayout(canvas, area, k);
    const int nameWidth = layout.left - area.left();
    const int top = area.top() + line + 2;
    const int cellWidth = layout.cellWidth;
    const int cellHeight = layout.cellHeight;
    const int left = layout.left;
    const int gridTop = layout.top;
    const bool numbers = layout.numbers;
    Text(canvas, left + static_cast<int>(k) * cellWidth + 4, top, QStringLiteral("полнота"));
    for (std::size_t c = 0; c < k && numbers; ++c)
        Text(canvas, left + static_cast<int>(c) * cellWidth + 1, top, Fitted(canvas, name(c), cellWidth - 2));
    for (std::size_t t = 0; t < k; ++t) {
        const int y = gridTop + static_cast<int>(t) * cellHeight;
        if (numbers)
            Text(canvas, area.left(), y, Fitted(canvas, name(t), nameWidth - 4));
        const std::uint64_t row = matrix.RowSum(t);
        for (std::size_t a = 0; a < k; ++a) {
            const int x = left + static_cast<int>(a) * cellWidth;
            const std::uint64_t n = matrix.Count(t, a);
            const double share = row == 0 ? 0.0 : static_cast<double>(n) / static_cast<double>(row);
            // White for none of the row, deep blue for all of it; the
            // diagonal in green.
            const int fade = static_cast<int>(std::lround(200.0 * (1.0 - share)));
            const TColor shade = t == a ? qRgb(fade, 55 + fade, fade) : qRgb(fade, fade, 55 + fade);
            canvas.SetPenColor(qRgb(210, 210, 210));
            canvas.SetBrushColor(n == 0 ? clWhite : shade);
            canvas.Rectangle(x, y, x + cellWidth + 1, y + cellHeight + 1);
            if (numbers && n > 0) {
                const QString text = QString::number(n);
                const int w = canvas.TextRect(0, 0, text).width();
                if (w <= cellWidth - 2)
                    Text(canvas, x + (cellWidth - w) / 2, y + (cellHeight - line) / 2 + 1, text,
                         share > 0.5 ? clWhite : clBlack);
            }
        }
        if (numbers)
            Text(canvas, left + static_cast<int>(k) * cellWidth + 4, y, PlotNumber(matrix.Recall(t)));
    }
}

QImage PixelsImage(const TPixels& pixels)
{
    if (pixels.width == 0 || pixels.height == 0)
        return {};
    return QImage(reinterpret_cast<const uchar*>(pixels.pixels.data()), static_cast<int>(pixels.width),
                  static_cast<int>(pixels.height), static_cast<qsizetype>(pixels.width) * 4, QImage::Format_RGB32)
        .copy();
}
