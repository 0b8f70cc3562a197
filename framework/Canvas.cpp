#include "framework/Canvas.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>

#include <algorithm>

TColor ButtonFaceColor()
{
    return QApplication::palette().color(QPalette::Button).rgb();
}

QImage MakeBitmap(int width, int height)
{
    QImage image(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32);
    constexpr int dotsPerMeter = 3780; // 96 dots per inch
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(clWhite);
    return image;
}

TCanvas::TCanvas(QImage& image, std::function<void(const QRect&)> changed)
    : image_(image), changed_(std::move(changed))
{
}

void TCanvas::Changed(const QRect& area)
{
    const QRect inside = area & image_.rect();
    if (changed_ && !inside.isEmpty())
        changed_(inside);
}

void TCanvas::LineTo(int x, int y)
{
    const QPoint from = penPos_;
    const QPoint to(x, y);
    penPos_ = to;
    if (from == to || image_.isNull())
        return;
    const int width = std::max(penWidth_, 1);
    {
        QPainter painter(&image_);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(QColor(penColor_), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(from, to);
    }
    const int reach = width / 2 + 2;
    Changed(QRect(from, to).normalized().adjusted(-reach, -reach, reach, reach));
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2)
{
    if (x2 <= x1 || y2 <= y1 || image_.isNull())
        return;
    const QRect area(QPoint(x1, y1), QPoint(x2 - 1, y2 - 1));
    const int width = std::max(penWidth_, 1);
    const int before = (width - 1) / 2; // frame extent before the border line
    const int after = width / 2;        // and after it
    {
        QPainter painter(&image_);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.fillRect(area, QColor(brushColor_));
        const QColor pen(penColor_);
        const int left = area.left(), right = area.right(), top = area.top(), bottom = area.bottom();
        painter.fillRect(QRect(QPoint(left - before, top - before), QPoint(right + after, top + after)), pen);
        painter.fillRect(QRect(QPoint(left - before, bottom - before), QPoint(right + after, bottom + after)), pen);
        painter.fillRect(QRect(QPoint(left - before, top - before), QPoint(left + after, bottom + after)), pen);
        painter.fillRect(QRect(QPoint(right - before, top - before), QPoint(right + after, bottom + after)), pen);
    }
    Changed(area.adjusted(-before, -before, after, after));
}

TColor TCanvas::Pixel(int x, int y) const
{
    if (!image_.valid(x, y))
        return clWhite;
    return image_.pixel(x, y);
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    if (!image_.valid(x, y))
        return;
    image_.setPixel(x, y, color);
    Changed(QRect(x, y, 1, 1));
}

QFont TCanvas::Font() const
{
    QFont font(fontName_);
    const int points = fontSize_ > 0 ? fontSize_ : std::max(QApplication::font().pointSize(), 1);
    font.setPointSize(points);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

QRect TCanvas::TextRect(int x, int y, const QString& text) const
{
    // Metrics at the bitmap's resolution, not the screen's.
    const QFontMetrics metrics(Font(), const_cast<QImage*>(&image_));
    return QRect(x, y, metrics.horizontalAdvance(text), metrics.height());
}

void TCanvas::TextOut(int x, int y, const QString& text)
{
    const QRect box = TextRect(x, y, text);
    penPos_ = QPoint(x + box.width(), y);
    if (image_.isNull() || text.isEmpty())
        return;
    {
        QPainter painter(&image_);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(Font());
        if (!transparentText_)
            painter.fillRect(box, QColor(brushColor_));
        painter.setPen(QColor(fontColor_));
        painter.drawText(QPoint(x, y + painter.fontMetrics().ascent()), text);
    }
    // Letters may reach a little beyond their advance (italics, overhangs).
    Changed(box.adjusted(-2, 0, 2, 0));
}
