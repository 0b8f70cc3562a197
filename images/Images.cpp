#include "images/Images.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// w * h as a cell count; ERangeError when it does not fit the 32-bit Size.
std::uint32_t GridSize(std::uint32_t w, std::uint32_t h) {
    const std::uint64_t n = static_cast<std::uint64_t>(w) * h;
    if (n > std::numeric_limits<std::uint32_t>::max())
        throw ERangeError();
    return static_cast<std::uint32_t>(n);
}

} // namespace

// Target coordinate of every source coordinate 0 .. from-1 on an axis of
// `to` cells: the source coordinate times the single-precision ratio
// to/from, formed in extended precision and truncated toward zero.
std::vector<std::uint32_t> RescaleAxis(std::uint32_t from, std::uint32_t to) {
    const float ratio = static_cast<float>(static_cast<long double>(to) /
                                           static_cast<long double>(from));
    std::vector<std::uint32_t> map(from);
    for (std::uint32_t i = 0; i < from; ++i) {
        const long double t = static_cast<long double>(i) * static_cast<long double>(ratio);
        std::uint64_t v = static_cast<std::uint64_t>(t);
        // The rounding of the ratio could only push the last coordinates of
        // a grid wider than 2^24 cells past the edge; keep them inside.
        if (v >= to)
            v = to - 1;
        map[i] = static_cast<std::uint32_t>(v);
    }
    return map;
}

TAspectAxis AspectAxis(std::uint32_t from, std::uint32_t to, std::uint64_t num, std::uint64_t den) {
    TAspectAxis axis;
    axis.first.resize(from);
    axis.last.resize(from);
    if (to == 0 || den == 0)
        return axis;
    // Edge e of the scaled box lies at (to * den - from * num + 2 * e * num) / (2 * den):
    // the margin left on this axis split in two, then e source cells.
    const std::uint64_t d = 2 * den;
    const std::uint64_t start = std::uint64_t{to} * den - std::min(std::uint64_t{to} * den, from * num);
    for (std::uint32_t i = 0; i < from; ++i) {
        const std::uint64_t a = start + 2 * std::uint64_t{i} * num;
        const std::uint64_t b = a + 2 * num;
        const std::uint64_t first = a / d;
        const std::uint64_t end = (b + d - 1) / d; // one past the last cell the pixel overlaps
        axis.first[i] = static_cast<std::uint32_t>(std::min<std::uint64_t>(first, to - 1));
        axis.last[i] = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::max(end, first + 1) - 1, to - 1));
    }
    return axis;
}

void AspectFactor(std::uint32_t boxWidth, std::uint32_t boxHeight, std::uint32_t width, std::uint32_t height,
                  std::uint64_t& num, std::uint64_t& den) {
    // width / boxWidth <= height / boxHeight  <=>  width * boxHeight <= height * boxWidth
    if (std::uint64_t{width} * boxHeight <= std::uint64_t{height} * boxWidth) {
        num = width;
        den = boxWidth;
    } else {
        num = height;
        den = boxHeight;
    }
}

TAbsImage::TAbsImage(std::uint32_t n) : Size(n), Cells(n, 0) {}

void TAbsImage::AssignWithBias(const TAbsImage& src) {
    const std::uint32_t n = src.Size;
    std::vector<std::int8_t> cells(static_cast<std::size_t>(n) + 1, 0);
    const std::size_t have = std::min<std::size_t>(n, src.Cells.size());
    if (have > 0)
        std::memcpy(cells.data(), src.Cells.data(), have);
    cells[n] = 1;
    Cells.swap(cells);
    Size = n;
}

void TAbsImage::Clear() {
    if (Size == 0 || Cells.empty())
        throw ERangeError();
    const std::size_t n = std::min<std::size_t>(Size, Cells.size());
    std::memset(Cells.data(), 0, n);
}

void TRectImage::Resize(std::uint32_t w, std::uint32_t h) {
    const std::uint32_t n = GridSize(w, h);
    // One byte to spare, so that the bias byte a later Crop adds needs no
    // new buffer.
    Cells.clear();
    Cells.reserve(static_cast<std::size_t>(n) + 1);
    Cells.resize(n, 0);
    Width = w;
    Height = h;
    Size = n;
}

void TRectImage::Crop(std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h) {
    const std::uint32_t n = GridSize(w, h);
    if (n > 0) {
        // The whole window must lie inside the grid and inside the buffer.
        const std::uint64_t x1 = static_cast<std::uint64_t>(x0) + w;
        const std::uint64_t y1 = static_cast<std::uint64_t>(y0) + h;
        if (x1 > Width || y1 > Height)
            throw ERangeError();
        const std::uint64_t last = (y1 - 1) * Width + (x1 - 1);
        if (last >= Cells.size())
            throw ERangeError();
    }
    // The window is moved to the front of the buffer in place: each row goes
    // to an index no higher than where it was read, so rows read later are
    // still intact. Room for the bias byte is made first, so a failing
    // allocation leaves the image as it was.
    Cells.reserve(static_cast<std::size_t>(n) + 1);
    for (std::uint32_t y = 0; y < (n > 0 ? h : 0); ++y) {
        const std::size_t from = static_cast<std::size_t>(y0 + y) * Width + x0;
        const std::size_t to = static_cast<std::size_t>(y) * w;
        if (from != to)
            std::memmove(Cells.data() + to, Cells.data() + from, w);
    }
    Cells.resize(static_cast<std::size_t>(n) + 1);
    Cells[n] = 1;
    Width = w;
    Height = h;
    Size = n;
}

void TRectImage::Rescale(std::uint32_t w, std::uint32_t h) {
    const std::uint32_t n = GridSize(w, h);
    std::vector<std::int8_t> cells(static_cast<std::size_t>(n) + 1, 0);
    if (Width > 0 && Height > 0 && n > 0) {
        const std::vector<std::uint32_t> tx = RescaleAxis(Width, w);
        const std::vector<std::uint32_t> ty = RescaleAxis(Height, h);
        // The target column grows with x, so the columns of a row fall into
        // runs of source cells that share one target cell: the target cell is
        // set when any cell of its run holds 1.
        struct Run { std::uint32_t from, length, target; };
        std::vector<Run> runs;
        for (std::uint32_t x = 0; x < Width; ++x) {
            if (runs.empty() || runs.back().target != tx[x])
                runs.push_back({x, 0, tx[x]});
            ++runs.back().length;
        }
        // Only the rows the buffer holds in full are read.
        const std::size_t rows = std::min<std::size_t>(Height, Cells.size() / Width);
        for (std::size_t y = 0; y < rows; ++y) {
            const std::int8_t* row = Cells.data() + y * Width;
            std::int8_t* target = cells.data() + static_cast<std::size_t>(ty[y]) * w;
            for (const Run& r : runs) {
                const bool set = r.length == 1 ? row[r.from] == 1
                                               : std::memchr(row + r.from, 1, r.length) != nullptr;
                if (set)
                    target[r.target] = 1;
            }
        }
    }
    cells[n] = 1;
    Cells.swap(cells);
    Width = w;
    Height = h;
    Size = n;
}
