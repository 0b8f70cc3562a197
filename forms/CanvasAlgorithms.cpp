#include "forms/CanvasAlgorithms.h"

#include "framework/Canvas.h"
#include "framework/Convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Cells a grid can address: Width * Height, limited to its buffer.
std::size_t GridCells(const TRectImage& grid)
{
    const std::size_t n = static_cast<std::size_t>(grid.Width) * grid.Height;
    return std::min(n, grid.Cells.size());
}

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

std::optional<TCellPos> FindFirstSetCell(const TRectImage& grid, std::uint32_t width, std::uint32_t height,
                                         TCellPos from)
{
    const std::size_t usable = GridCells(grid);
    const std::uint32_t w = std::min(width, grid.Width);
    const std::uint32_t h = std::min(height, grid.Height);
    for (std::uint32_t y = from.y; y < h; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * grid.Width;
        if (row >= usable)
            break;
        const std::size_t n = std::min<std::size_t>(w, usable - row);
        const std::size_t start = y == from.y ? std::min<std::size_t>(from.x, n) : 0;
        const void* hit = std::memchr(grid.Cells.data() + row + start, 1, n - start);
        if (hit) {
            const auto x = static_cast<const std::int8_t*>(hit) - (grid.Cells.data() + row);
            return TCellPos{static_cast<std::uint32_t>(x), y};
        }
    }
    return std::nullopt;
}

TObjectBox FillObject(TRectImage& canvas, TRectImage& object, std::uint32_t x, std::uint32_t y, QImage* marks)
{
    TObjectBox box{x, y, x, y, 0};
    const std::uint32_t w = canvas.Width;
    // Only rows the buffer holds in full take part.
    const std::uint32_t h = w == 0 ? 0
                                   : static_cast<std::uint32_t>(std::min<std::size_t>(
                                         canvas.Height, canvas.Cells.size() / w));
    if (x >= w || y >= h)
        return box;
    std::int8_t* cells = canvas.Cells.data();
    if (cells[static_cast<std::size_t>(y) * w + x] != 1)
        return box;

    const std::size_t objectUsable = GridCells(object);
    // Yellow marks go straight into the bitmap's rows.
    uchar* markBits = nullptr;
    qsizetype markLine = 0;
    std::uint32_t markWidth = 0, markHeight = 0;
    if (marks && !marks->isNull()) {
        if (marks->format() != QImage::Format_RGB32 && marks->format() != QImage::Format_ARGB32)
            *marks = marks->convertToFormat(QImage::Format_RGB32);
        markBits = marks->bits();
        markLine = marks->bytesPerLine();
        markWidth = static_cast<std::uint32_t>(marks->width());
        markHeight = static_cast<std::uint32_t>(marks->height());
    }

    // The figure is taken run by run: a run is a stretch of set cells in one
    // row. Each seed on the list is a cell that held 1 when it was listed; the
    // run through it is taken (its cells become 0) and every run in the rows
    // above and below that touches it, corners included, is listed in turn.
    // The list lives on the heap, so a figure of any shape and size is taken
    // without a deep chain of calls.
    std::vector<TCellPos> seeds;
    seeds.reserve(256);
    seeds.push_back({x, y});
    while (!seeds.empty()) {
        const TCellPos seed = seeds.back();
        seeds.pop_back();
        std::int8_t* row = cells + static_cast<std::size_t>(seed.y) * w;
        if (row[seed.x] != 1)
            continue; // taken since it was listed
        std::uint32_t left = seed.x;
        while (left > 0 && row[left - 1] == 1)
            --left;
        std::uint32_t right = seed.x;
        while (right + 1 < w && row[right + 1] == 1)
            ++right;
        const std::uint32_t length = right - left + 1;

        std::memset(row + left, 0, length);
        if (seed.y < object.Height && left < object.Width) {
            const std::size_t from = static_cast<std::size_t>(seed.y) * object.Width + left;
            const std::size_t to = std::min<std::size_t>(
                static_cast<std::size_t>(seed.y) * object.Width + std::min(right, object.Width - 1) + 1,
                objectUsable);
            if (from < to)
                std::memset(object.Cells.data() + from, 1, to - from);
        }
        if (markBits && seed.y < markHeight && left < markWidth) {
            auto* line = reinterpret_cast<QRgb*>(markBits + seed.y * markLine);
            std::fill(line + left, line + std::min(right + 1, markWidth), clYellow);
        }
        box.left = std::min(box.left, left);
        box.maxX = std::max(box.maxX, right);
        box.top = std::min(box.top, seed.y);
        box.maxY = std::max(box.maxY, seed.y);
        box.cells += length;

        // Runs of the neighbouring rows that touch this one, corners included.
        const std::uint32_t from = left > 0 ? left - 1 : 0;
        const std::uint32_t to = right + 1 < w ? right + 1 : right;
        for (const std::uint32_t ny : {seed.y - 1, seed.y + 1}) {
            if ((ny == seed.y - 1 && seed.y == 0) || ny >= h)
                continue;
            const std::int8_t* next = cells + static_cast<std::size_t>(ny) * w;
            for (std::uint32_t nx = from; nx <= to; ++nx) {
                if (next[nx] != 1)
                    continue;
                seeds.push_back({nx, ny});
                while (nx + 1 <= to && next[nx + 1] == 1)
                    ++nx;
            }
        }
    }
    return box;
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

void CopyElementCells(const TAbsImage& element, TAbsImage& retina)
{
    const std::size_t n = std::min<std::size_t>(retina.Size, retina.Cells.size());
    const std::size_t have = std::min({n, static_cast<std::size_t>(element.Size), element.Cells.size()});
    if (have > 0)
        std::memcpy(retina.Cells.data(), element.Cells.data(), have);
    if (n > have)
        std::memset(retina.Cells.data() + have, 0, n - have);
}

std::optional<int> BufferByte(const TAbsImage& image, std::uint64_t index)
{
    if (index >= image.Cells.size())
        return std::nullopt;
    return image.Cells[static_cast<std::size_t>(index)];
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
