#pragma once
// Drawing on a bitmap the way the windows need it: a pen (colour, width,
// position), a brush colour, rectangles, lines, single pixels and text.
// Nothing is antialiased: every pixel drawn is exactly the pen's, the
// brush's or the font's colour, so that a drawn stroke reads back as exactly
// black.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QString>

#include <functional>

// A colour as red, green and blue, fully opaque.
using TColor = QRgb;

inline constexpr TColor clBlack = qRgb(0, 0, 0);
inline constexpr TColor clWhite = qRgb(255, 255, 255);
inline constexpr TColor clYellow = qRgb(255, 255, 0);
inline constexpr TColor clBlue = qRgb(0, 0, 255);
inline constexpr TColor clRed = qRgb(255, 0, 0);

// The system's button-face colour.
TColor ButtonFaceColor();

// A white bitmap of the given size for a canvas, at 96 dots per inch so that
// a font of n points is n * 96 / 72 pixels high.
QImage MakeBitmap(int width, int height);

class TCanvas {
public:
    // Draws on the image, which must outlive the canvas. `changed` is told
    // every rectangle of the image that a drawing call may have changed.
    explicit TCanvas(QImage& image, std::function<void(const QRect&)> changed = {});

    TColor PenColor() const { return penColor_; }
    void SetPenColor(TColor color) { penColor_ = color; }
    int PenWidth() const { return penWidth_; }
    // Widths below 1 draw as 1.
    void SetPenWidth(int width) { penWidth_ = width; }
    TColor BrushColor() const { return brushColor_; }
    void SetBrushColor(TColor color) { brushColor_ = color; }

    QPoint PenPos() const { return penPos_; }
    // Moves the pen without drawing.
    void MoveTo(int x, int y) { penPos_ = QPoint(x, y); }
    // A line from the pen position to (x, y) with the pen's colour and width
    // (round ends); the pen moves to (x, y). A line of no length draws nothing.
    void LineTo(int x, int y);

    // Fills columns x1 .. x2 - 1 and rows y1 .. y2 - 1 with the brush colour
    // and draws the border of that area with the pen (a frame of the pen's
    // width centred on the outermost columns and rows). Nothing when the area
    // is empty. Rectangle(0, 0, width, height) paints the whole bitmap.
    void Rectangle(int x1, int y1, int x2, int y2);

    // The colour at (x, y); white outside the bitmap.
    TColor Pixel(int x, int y) const;
    // Sets one pixel; ignored outside the bitmap.
    void SetPixel(int x, int y, TColor color);

    QString FontName() const { return fontName_; }
    void SetFontName(const QString& name) { fontName_ = name; }
    // In points; 0 or less means the system's default size.
    int FontSize() const { return fontSize_; }
    void SetFontSize(int points) { fontSize_ = points; }
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color) { fontColor_ = color; }

    // With a transparent text background TextOut draws only the letters;
    // otherwise it first fills the text's box with the brush colour.
    bool TransparentText() const { return transparentText_; }
    void SetTransparentText(bool transparent) { transparentText_ = transparent; }

    // Writes the text with its top-left corner at (x, y) in the font's
    // colour; the pen moves to the end of the text, (x + its width, y).
    void TextOut(int x, int y, const QString& text);
    // The box TextOut(x, y, text) would cover.
    QRect TextRect(int x, int y, const QString& text) const;

    QImage& Image() { return image_; }
    const QImage& Image() const { return image_; }

private:
    QFont Font() const;
    void Changed(const QRect& area);

    QImage& image_;
    std::function<void(const QRect&)> changed_;
    TColor penColor_ = clBlack;
    int penWidth_ = 1;
    TColor brushColor_ = clWhite;
    QPoint penPos_;
    QString fontName_ = QStringLiteral("MS Sans Serif");
    int fontSize_ = 8;
    TColor fontColor_ = clBlack;
    bool transparentText_ = false;
};
