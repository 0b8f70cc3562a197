#include "project/Figures.h"

#include "project/Learning.h"

#include <algorithm>
#include <cstring>

std::size_t GridCells(const TRectImage& grid)
{
    const std::size_t n = static_cast<std::size_t>(grid.Width) * grid.Height;
    return std::min(n, grid.Cells.size());
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

namespace {

// One run of cells a fill took: row y, columns left .. right.
struct TRun {
    std::uint32_t y;
    std::uint32_t left;
    std::uint32_t right;
};

// The 8-connected fill, run by run (a run is a stretch of set cells in one
// row); `take` is told of every run as it is taken. Each seed on the list is
// a cell that held 1 when it was listed; the run through it is taken (its
// cells become 0) and every run in the rows above and below that touches it,
// corners included, is listed in turn. The list lives on the heap, so a
// figure of any shape and size is taken without a deep chain of calls, and
// the work is that of the figure's own cells and runs.
template <class Take>
TObjectBox Fill(TRectImage& canvas, std::uint32_t x, std::uint32_t y, std::vector<TCellPos>& seeds, Take&& take)
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

    seeds.clear();
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
        take(seed.y, left, right);
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

// The aspect fit of one box onto a retina: where each column and row of the
// box's whole extent lands.
class TAspectCut {
public:
    TAspectCut(const TFigureBox& box, std::uint32_t width, std::uint32_t height)
    {
        std::uint64_t num = 0, den = 0;
        AspectFactor(box.width + 1, box.height + 1, width, height, num, den);
        x_ = AspectAxis(box.width + 1, width, num, den);
        y_ = AspectAxis(box.height + 1, height, num, den);
    }

    // Sets the retina cells that the run of box row y, box columns left ..
    // right overlaps.
    void Put(std::uint32_t y, std::uint32_t left, std::uint32_t right, TRectImage& retina) const
    {
        if (y >= y_.first.size() || left > right || right >= x_.first.size())
            return;
        const std::uint32_t from = x_.first[left];
        const std::uint32_t to = x_.last[right];
        for (std::uint32_t ty = y_.first[y]; ty <= y_.last[y]; ++ty)
            std::memset(retina.Cells.data() + static_cast<std::size_t>(ty) * retina.Width + from, 1, to - from + 1);
    }

private:
    TAspectAxis x_;
    TAspectAxis y_;
};

// Takes figures off a canvas and samples them onto the retina, keeping its
// working lists from one figure to the next.
class TFigureCutter {
public:
    // The figure holding (x, y), taken off the canvas; its runs are kept for
    // Sample.
    TFigureBox Take(TRectImage& canvas, std::uint32_t x, std::uint32_t y, const TRunSink& onRun)
    {
        runs_.clear();
        const TObjectBox taken = Fill(canvas, x, y, seeds_, [&](std::uint32_t ry, std::uint32_t l, std::uint32_t r) {
            runs_.push_back({ry, l, r});
            if (onRun)
                onRun(ry, l, r);
        });
        cells_ = taken.cells;
        TFigureBox box{x, y, 0, 0};
        if (taken.cells > 0) {
            box.left = taken.left;
            box.top = taken.top;
            box.width = taken.maxX - taken.left;
            box.height = taken.maxY - taken.top;
        }
        return box;
    }

    // Cells of the figure taken last.
    std::uint64_t Cells() const { return cells_; }

    // The retina as SampleFigure leaves a grid holding only the last
    // figure's cells. Only the figure's runs are visited.
    void Sample(const TFigureBox& box, TRectImage& retina, std::int32_t retinaWidth, std::int32_t retinaHeight,
                TFigureFit fit)
    {
        const auto w = static_cast<std::uint32_t>(std::max(retinaWidth, 0));
        const auto h = static_cast<std::uint32_t>(std::max(retinaHeight, 0));
        retina.Resize(w, h);
        if (fit == TFigureFit::Aspect)
            SampleAspect(box, retina);
        else
            SampleStretch(box, retina);
        retina.Cells.push_back(1); // the bias byte, in the room Resize keeps for it
    }

private:
    // Crop, then Rescale: the box's last column and row fall outside the
    // crop, and a target cell is set when a figure cell maps onto it.
    void SampleStretch(const TFigureBox& box, TRectImage& retina) const
    {
        const std::uint32_t w = retina.Width;
        if (box.width == 0 || box.height == 0 || retina.Size == 0)
            return;
        const std::vector<std::uint32_t> tx = RescaleAxis(box.width, w);
        const std::vector<std::uint32_t> ty = RescaleAxis(box.height, retina.Height);
        std::int8_t* target = retina.Cells.data();
        for (const TRun& run : runs_) {
            const std::uint32_t y = run.y - box.top;
            const std::uint32_t from = run.left - box.left;
            if (y >= box.height || from >= box.width)
                continue;
            const std::uint32_t to = std::min(run.right - box.left, box.width - 1);
            std::int8_t* row = target + static_cast<std::size_t>(ty[y]) * w;
            for (std::uint32_t c = from; c <= to; ++c)
                row[tx[c]] = 1;
        }
    }

    void SampleAspect(const TFigureBox& box, TRectImage& retina) const
    {
        if (runs_.empty() || retina.Size == 0)
            return;
        const TAspectCut cut(box, retina.Width, retina.Height);
        for (const TRun& run : runs_)
            cut.Put(run.y - box.top, run.left - box.left, run.right - box.left, retina);
    }

    std::vector<TCellPos> seeds_;
    std::vector<TRun> runs_;
    std::uint64_t cells_ = 0;
};

} // namespace

TObjectBox FillObject(TRectImage& canvas, TRectImage& object, std::uint32_t x, std::uint32_t y, const TRunSink& onRun)
{
    const std::size_t objectUsable = GridCells(object);
    std::vector<TCellPos> seeds;
    return Fill(canvas, x, y, seeds, [&](std::uint32_t ry, std::uint32_t left, std::uint32_t right) {
        if (ry < object.Height && left < object.Width) {
            const std::size_t from = static_cast<std::size_t>(ry) * object.Width + left;
            const std::size_t to = std::min<std::size_t>(
                static_cast<std::size_t>(ry) * object.Width + std::min(right, object.Width - 1) + 1, objectUsable);
            if (from < to)
                std::memset(object.Cells.data() + from, 1, to - from);
        }
        if (onRun)
            onRun(ry, left, right);
    });
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

void SampleFigure(TRectImage& retina, const TFigureBox& box, std::int32_t retinaWidth, std::int32_t retinaHeight,
                  TFigureFit fit)
{
    if (fit == TFigureFit::Aspect) {
        // The runs of the whole box, read from the grid before it is replaced.
        const std::uint32_t right = box.left + box.width;
        const std::uint32_t bottom = box.top + box.height;
        if (right < box.left || bottom < box.top || right >= retina.Width || bottom >= retina.Height ||
            GridCells(retina) < static_cast<std::size_t>(retina.Width) * retina.Height)
            throw ERangeError();
        const auto w = static_cast<std::uint32_t>(std::max(retinaWidth, 0));
        const auto h = static_cast<std::uint32_t>(std::max(retinaHeight, 0));
        TRectImage sample;
        sample.Resize(w, h);
        if (sample.Size > 0) {
            const TAspectCut cut(box, w, h);
            for (std::uint32_t y = box.top; y <= bottom; ++y) {
                const std::int8_t* row = retina.Cells.data() + static_cast<std::size_t>(y) * retina.Width;
                for (std::uint32_t x = box.left; x <= right; ++x) {
                    if (row[x] != 1)
                        continue;
                    std::uint32_t end = x;
                    while (end < right && row[end + 1] == 1)
                        ++end;
                    cut.Put(y - box.top, x - box.left, end - box.left, sample);
                    x = end;
                }
            }
        }
        sample.Cells.push_back(1);
        retina = std::move(sample);
        return;
    }
    retina.Crop(box.left, box.top, box.width, box.height);
    retina.Rescale(static_cast<std::uint32_t>(std::max(retinaWidth, 0)),
                   static_cast<std::uint32_t>(std::max(retinaHeight, 0)));
}

TFigureBox ExtractFigure(TRectImage& canvas, TRectImage& retina, std::uint32_t x, std::uint32_t y,
                         std::int32_t retinaWidth, std::int32_t retinaHeight, const TRunSink& onRun, TFigureFit fit)
{
    TFigureCutter cutter;
    const TFigureBox box = cutter.Take(canvas, x, y, onRun);
    cutter.Sample(box, retina, retinaWidth, retinaHeight, fit);
    return box;
}

std::vector<TRecognisedFigure> RecogniseFigures(TRectImage& canvas, TRectImage& retina, std::uint32_t width,
                                                std::uint32_t height, std::int32_t retinaWidth,
                                                std::int32_t retinaHeight, TNeuralNet& net, const TRunSink& onRun,
                                                const TFigureFilter& filter, TFigureFit fit)
{
    std::vector<TRecognisedFigure> figures;
    std::vector<std::int8_t> input;
    TFigureCutter cutter;
    // Extraction only clears cells, so every cell before the last figure
    // found is already 0 and the search goes on from there.
    TCellPos from;
    while (figures.size() < filter.maxFigures) {
        const std::optional<TCellPos> cell = FindFirstSetCell(canvas, width, height, from);
        if (!cell)
            break;
        const TFigureBox box = cutter.Take(canvas, cell->x, cell->y, onRun);
        // Whatever the extraction did, the search moves on past this cell.
        from = TCellPos{cell->x + 1, cell->y};
        if (cutter.Cells() < filter.minCells)
            continue;
        cutter.Sample(box, retina, retinaWidth, retinaHeight, fit);
        figures.push_back({box, Classify(net, retina, input).index});
    }
    return figures;
}
