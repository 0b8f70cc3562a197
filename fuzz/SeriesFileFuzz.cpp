// Any bytes as a series file, read by the program's file reader (regular
// file check, chunked reading, reservation by the file's size): it gives
// exactly what the same bytes give in memory; a success holds exactly the
// announced count of finite-or-clamped values, and a failure holds none.
#include "FuzzFile.h"
#include "images/SeriesFile.h"

#include <cmath>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string input = ScratchFile(".ser");
    WriteFile(input, data, size);
    const TSeriesFileResult r = ReadSeriesFile(input);
    const TSeriesFileResult text = ParseSeries(std::string_view(reinterpret_cast<const char*>(data), size));
    if (r.status != text.status || r.count != text.count || r.valuesRead != text.valuesRead ||
        r.line != text.line || r.values != text.values || r.openError != TFileOpenError::None)
        std::abort();
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
