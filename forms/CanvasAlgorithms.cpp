#include "forms/CanvasAlgorithms.h"

#include "framework/Canvas.h"
#include "framework/Convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The bitmap in a 32-bit format whose pixels can be read row by row.
QImage Rgb32(const QImage& bitmap)
{
    if (bitmap.format() == QImage::Format_RGB32 || bitmap.format() == QImage::Format_ARGB32)
        return bitmap; // shared, not copied
    return bitmap.convertToFormat(QImage::Format_RGB32);
}

} // namespace

void ReadBitmapCells(const QImage& bitmap, std::uint32_t width, std::uint32_t height, TRectImage& cells)
{
    const std::size_t usable = GridCells(cells);
    if (usable == 0)
        return;
    std::memset(cells.Cells.data(), 0, usable);
    const QImage image = Rgb32(bitmap);
    const std::uint32_t w = std::min({width, cells.Width, static_cast<std::uint32_t>(std::max(image.width(), 0))});
    const std::uint32_t h = std::min({height, cells.Height, static_cast<std::uint32_t>(std::max(image.height(), 0))});
    for (std::uint32_t y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(static_cast<int>(y)));
        const std::size_t row = static_cast<std::size_t>(y) * cells.Width;
        const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(w, usable > row ? usable - row : 0));
        std::int8_t* out = cells.Cells.data() + row;
        for (std::uint32_t x = 0; x < n; ++x)
            out[x] = (line[x] & 0x00FFFFFFu) == 0 ? 1 : 0;
    }
}

TRunSink YellowRuns(QImage& bitmap)
{
    if (bitmap.isNull())
        return {};
    if (bitmap.format() != QImage::Format_RGB32 && bitmap.format() != QImage::Format_ARGB32)
        bitmap = bitmap.convertToFormat(QImage::Format_RGB32);
    uchar* const bits = bitmap.bits();
    const qsizetype line = bitmap.bytesPerLine();
    const auto width = static_cast<std::uint32_t>(bitmap.width());
    const auto height = static_cast<std::uint32_t>(bitmap.height());
    return [=](std::uint32_t y, std::uint32_t left, std::uint32_t right) {
        if (y >= height || left >= width)
            return;
        auto* row = reinterpret_cast<QRgb*>(bits + y * line);
        std::fill(row + left, row + std::min(right + 1, width), clYellow);
    };
}

float RetinaScale(std::uint32_t width)
{
    if (width == 0)
        return 0.0f;
    return static_cast<float>(static_cast<long double>(RetinaViewSize) / static_cast<long double>(width));
}

int RetinaEdge(std::uint32_t i, float scale)
{
    const long double edge = static_cast<long double>(i) * static_cast<long double>(scale);
    return static_cast<int>(std::min<long double>(std::trunc(edge), 1e9L));
}

std::vector<QRect> RetinaSquares(const TRectImage& retina)
{
    std::vector<QRect> squares;
    const float scale = RetinaScale(retina.Width);
    if (scale == 0.0f || retina.Height == 0)
        return squares;
    const std::size_t usable = GridCells(retina);
    for (std::uint32_t i = 0; i < retina.Width; ++i) {
        const int x1 = RetinaEdge(i, scale);
        const int x2 = RetinaEdge(i + 1, scale);
        for (std::uint32_t j = 0; j < retina.Height; ++j) {
            const std::size_t index = static_cast<std::size_t>(j) * retina.Width + i;
            if (index >= usable || retina.Cells[index] == 0)
                continue;
            const int y1 = RetinaEdge(j, scale);
            const int y2 = RetinaEdge(j + 1, scale);
            if (x2 > x1 && y2 > y1)
                squares.emplace_back(x1, y1, x2 - x1, y2 - y1);
        }
    }
    return squares;
}

QString PercentText(float value)
{
    const long double percent = std::trunc(static_cast<long double>(value) * 100.0L);
    return IntToStr(static_cast<std::int64_t>(percent)) + QStringLiteral("%");
}

TRetinaButtons ButtonsAfter(TRetinaEvent event, TRetinaButtons before)
{
    switch (event) {
    case TRetinaEvent::Opened:
        return {true, false};
    case TRetinaEvent::Shown:
        return {before.next, false};
    case TRetinaEvent::NothingLeft:
        return {false, false};
    case TRetinaEvent::ClassChanged:
        return {before.next, true};
    }
    return before;
}
