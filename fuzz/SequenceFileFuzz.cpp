// Any bytes as a sequence file: loading never crashes, never reads past a
// buffer, and leaves the sequence either as it was or holding exactly what
// the file says, as decoded here on its own; what loads saves and loads back
// identically. Inputs of a few hundred KiB reach large elements and the
// reader's chunked reading.
#include "FuzzFile.h"
#include "images/PatternRing.h"

#include <cstring>

namespace {

// Element i's class and bytes, walking from the cursor's successor.
std::string Contents(const PatternRing& ring)
{
    std::string s = std::to_string(ring.GetDimension()) + "/" + std::to_string(ring.GetCount()) + ":";
    for (const TAbsImage& e : ring.FileOrder()) {
        s += std::to_string(e.ClassIndex) + "=";
        s.append(reinterpret_cast<const char*>(e.Cells.data()), e.Cells.size());
    }
    return s;
}

// What a file of these bytes must load as, in the form of Contents; empty
// when it must be refused.
std::string Expected(const std::uint8_t* data, std::size_t size)
{
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i)
        if (!(data[i] == '\r' && i + 1 < size && data[i + 1] == '\n'))
            bytes += static_cast<char>(data[i]);
    const auto word = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int k = 3; k >= 0; --k)
            v = v << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(k)]);
        return v;
    };
    if (bytes.size() < 8)
        return {};
    const std::uint64_t d = word(0);
    const std::uint64_t n = word(4);
    if (d > PatternRing::MaxDimension || (4 + d) * n > bytes.size() - 8)
        return {};
    std::string s = std::to_string(d) + "/" + std::to_string(n) + ":";
    for (std::uint64_t k = 0, at = 8; k < n; ++k, at += 4 + d) {
        s += std::to_string(static_cast<std::int32_t>(word(at))) + "=";
        s.append(bytes, at + 4, d);
        s += '\1';
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string input = ScratchFile(".llt");
    static const std::string output = ScratchFile("-out.llt");
    WriteFile(input, data, size);

    PatternRing ring;
    TAbsImage marker(3);
    std::memset(marker.Cells.data(), 1, 3);
    ring.SetDimension(3);
    ring.Add(marker, 7);
    const std::string before = Contents(ring);

    const std::string expected = Expected(data, size);
    TSequenceFileError error = TSequenceFileError::None;
    if (!ring.LoadFromFile(input, &error)) {
        if (error == TSequenceFileError::None || Contents(ring) != before || !expected.empty())
            std::abort(); // a failed load must say why, change nothing, and have a cause
        return 0;
    }
    const std::string loaded = Contents(ring);
    if (loaded != expected)
        std::abort(); // not what the file holds
    if (!ring.SaveToFile(output))
        std::abort();
    if (Contents(ring) != loaded)
        std::abort(); // saving moved the cursor or changed an element
    PatternRing again;
    if (!again.LoadFromFile(output) || Contents(again) != loaded)
        std::abort(); // what was saved does not load back the same
    const std::string saved = ReadFile(output);
    if (!again.SaveToFile(output) || ReadFile(output) != saved)
        std::abort(); // save right after load must reproduce the file
    return 0;
}
