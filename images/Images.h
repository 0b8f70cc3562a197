#pragma once
// Byte images. A cell is one signed byte, 0 (background) or 1 (set); a
// sequence element and a rescaled image carry one more byte, the bias byte 1,
// right after their cells, so that their buffer is the network's byte input.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "images/RangeError.h"

class TAbsImage {
public:
    std::uint32_t Size = 0;              // number of cells
    std::int32_t ClassIndex = 0;         // class of a sequence element, from 0
    std::vector<std::int8_t> Cells;      // the buffer: cells (+ bias byte where present)
    TAbsImage* Next = nullptr;           // next element of a sequence; not owned

    TAbsImage() = default;
    // n cells, all 0.
    explicit TAbsImage(std::uint32_t n);

    std::uint32_t GetSize() const { return Size; }
    std::int32_t GetClassIndex() const { return ClassIndex; }
    void SetClassIndex(std::int32_t c) { ClassIndex = c; }

    // Cells become a copy of the source's Size cells followed by the bias
    // byte 1; Size becomes the source's. ClassIndex and Next are kept.
    // Cells the source's buffer does not hold are copied as 0.
    void AssignWithBias(const TAbsImage& src);

    // Sets every cell to 0; ERangeError when the image has no cells.
    void Clear();
};

class TBinImage : public TAbsImage {
public:
    TBinImage() = default;
    explicit TBinImage(std::uint32_t n) : TAbsImage(n) {}
};

// Cells seen as a row-major grid: cell (x, y) is Cells[y * Width + x].
class TRectImage : public TBinImage {
public:
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;

    TRectImage() = default;

    std::uint32_t GetWidth() const { return Width; }
    std::uint32_t GetHeight() const { return Height; }

    // Both raise ERangeError unless x < Width and y < Height (and the cell
    // lies inside the buffer); nothing is read or written then.
    std::int8_t GetCell(std::uint32_t x, std::uint32_t y) const {
        const std::size_t i = CellIndex(x, y);
        return Cells[i];
    }
    void SetCell(std::uint32_t x, std::uint32_t y, std::int8_t value) {
        const std::size_t i = CellIndex(x, y);
        Cells[i] = value;
    }

    // w x h cells, all 0, no bias byte.
    void Resize(std::uint32_t w, std::uint32_t h);

    // Keeps the w x h window whose top-left cell is (x0, y0). A window that
    // reaches outside the grid raises ERangeError and changes nothing. The
    // byte after the new cells is the bias byte 1.
    void Crop(std::uint32_t x0, std::uint32_t y0, std::uint32_t w, std::uint32_t h);

    // Maps every cell holding exactly 1 onto a w x h grid (nearest lower
    // target cell, no interpolation, no filling) and appends the bias byte 1.
    void Rescale(std::uint32_t w, std::uint32_t h);

private:
    std::size_t CellIndex(std::uint32_t x, std::uint32_t y) const {
        if (x >= Width || y >= Height)
            throw ERangeError();
        const std::size_t i = static_cast<std::size_t>(y) * Width + x;
        if (i >= Cells.size())
            throw ERangeError();
        return i;
    }
};

// Where Rescale puts each source coordinate 0 .. from-1 of an axis when the
// axis becomes `to` cells long.
std::vector<std::uint32_t> RescaleAxis(std::uint32_t from, std::uint32_t to);

// How a figure is put onto the retina.
enum class TFigureFit : std::uint8_t {
    // Its box, without the last column and row, stretched to fill the retina
    // on both axes, each set cell landing on one retina cell (Crop, then
    // Rescale): what the retina view's ">>" does.
    Stretch,
    // Its whole box scaled by one factor, so that its longer side fills the
    // retina, and centred on the other axis; a retina cell is set when any
    // set cell of the figure overlaps the area it covers. Enlarging gives
    // solid strokes, shrinking keeps thin ones, and a picture enlarged by a
    // whole factor (every pixel copied k x k) gives exactly the same cells.
    Aspect,
};

// One axis of the aspect fit: the source pixel i of a box `from` cells long
// covers the target cells first[i] .. last[i] of an axis `to` cells long,
// when the box is scaled by num / den and centred (num / den must not exceed
// to / from). The positions are worked out in whole numbers, exactly.
struct TAspectAxis {
    std::vector<std::uint32_t> first;
    std::vector<std::uint32_t> last;
};
TAspectAxis AspectAxis(std::uint32_t from, std::uint32_t to, std::uint64_t num, std::uint64_t den);

// The factor num / den of the aspect fit of a boxWidth x boxHeight box onto a
// width x height retina: the smaller of width / boxWidth and height /
// boxHeight. Both box sides must be at least 1.
void AspectFactor(std::uint32_t boxWidth, std::uint32_t boxHeight, std::uint32_t width, std::uint32_t height,
                  std::uint64_t& num, std::uint64_t& den);
