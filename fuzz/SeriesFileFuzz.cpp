// Any bytes as a series file: parsing never crashes or over-allocates, a
// success holds exactly the announced count of finite-or-clamped values, and
// a failure holds none.
#include "images/SeriesFile.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TSeriesFileResult r = ParseSeries(text);
    if (!r.Ok()) {
        if (!r.values.empty())
            std::abort();
        return 0;
    }
    if (r.count <= 0 || static_cast<std::uint64_t>(r.count) != r.values.size())
        std::abort();
    // Every value costs at least one character and one separator.
    if (r.values.size() > size / 2 + 1)
        std::abort();
    for (const float v : r.values)
        if (std::isnan(v) || std::isinf(v))
            std::abort();
    return 0;
}
