#include "forms/Recognition.h"

#include <algorithm>

bool FindSetCell(const TRectImage& image, std::uint32_t width, std::uint32_t height,
                 std::uint64_t& from, std::uint32_t& x, std::uint32_t& y)
{
    const std::uint32_t w = std::min(width, image.Width);
    const std::uint32_t h = std::min(height, image.Height);
    if (w == 0)
        return false;
    const std::size_t stored = image.Cells.size();
    for (std::uint64_t row = from / w; row < h; ++row) {
        const std::uint64_t rowStart = row * image.Width;
        if (rowStart >= stored)
            return false;
        const std::uint64_t first = row == from / w ? from % w : 0;
        const std::uint64_t end = std::min<std::uint64_t>(rowStart + w, stored);
        if (rowStart + first >= end)
            continue;
        const auto begin = image.Cells.begin() + static_cast<std::ptrdiff_t>(rowStart + first);
        const auto stop = image.Cells.begin() + static_cast<std::ptrdiff_t>(end);
        const auto hit = std::find(begin, stop, std::int8_t{1});
        if (hit != stop) {
            x = static_cast<std::uint32_t>(hit - image.Cells.begin() - static_cast<std::ptrdiff_t>(rowStart));
            y = static_cast<std::uint32_t>(row);
            from = row * w + x;
            return true;
        }
    }
    return false;
}
