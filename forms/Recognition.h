#pragma once
// Finding the figures of the canvas one after the other.

#include "images/Images.h"

#include <cstdint>

// The first cell holding 1 in row order (rows from the top, each row from
// the left) within the image's first `width` columns and `height` rows,
// starting the search at the position `from` of that order (y * width + x)
// and never looking beyond the image's cells. On success stores the cell in
// x, y and its position in `from`.
bool FindSetCell(const TRectImage& image, std::uint32_t width, std::uint32_t height,
                 std::uint64_t& from, std::uint32_t& x, std::uint32_t& y);
