#pragma once
// Small cell grids for the figure tests, written as rows of text.

#include "images/Images.h"

#include <cstdint>
#include <string>
#include <vector>

namespace grids {

// A grid from rows of text: '#' is 1, anything else 0.
inline TRectImage Grid(const std::vector<std::string>& rows)
{
    TRectImage grid;
    grid.Resize(static_cast<std::uint32_t>(rows.at(0).size()), static_cast<std::uint32_t>(rows.size()));
    for (std::uint32_t y = 0; y < rows.size(); ++y)
        for (std::uint32_t x = 0; x < rows[y].size(); ++x)
            grid.SetCell(x, y, rows[y][x] == '#' ? 1 : 0);
    return grid;
}

inline std::uint64_t SetCells(const TRectImage& grid)
{
    std::uint64_t n = 0;
    for (std::uint32_t y = 0; y < grid.GetHeight(); ++y)
        for (std::uint32_t x = 0; x < grid.GetWidth(); ++x)
            n += grid.GetCell(x, y) == 1;
    return n;
}

inline TRectImage Blank(std::uint32_t w, std::uint32_t h)
{
    TRectImage grid;
    grid.Resize(w, h);
    return grid;
}

} // namespace grids
