// Any bytes as a project file: opening never crashes, never reads past a
// buffer, and does what CheckProjectFile asks.
//
// A mutated file would nearly always fail its checksum, and the members
// behind it would go unexplored; so where the input ends with a checksum
// member of the usual form, its eight digits are first set to the checksum
// of the bytes before it, as another tool editing a project would do. A
// checksum that does not match is tested by the project tests.
#include "ProjectRoundTrip.h"

#include <string_view>
#include <vector>

namespace {

std::uint32_t Crc32(std::string_view bytes)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (const unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

// Sets the digits of the last `"checksum": "XXXXXXXX"` to the checksum of
// the bytes before its key; anything else is left as it is.
void RepairChecksum(std::vector<char>& text)
{
    static constexpr std::string_view key = "\"checksum\"";
    const std::string_view all(text.data(), text.size());
    const std::size_t at = all.rfind(key);
    if (at == std::string_view::npos)
        return;
    std::size_t i = at + key.size();
    const auto space = [&] {
        while (i < all.size() && (all[i] == ' ' || all[i] == '\n' || all[i] == '\r' || all[i] == '\t')) ++i;
    };
    space();
    if (i >= all.size() || all[i] != ':')
        return;
    ++i;
    space();
    if (i + 10 > all.size() || all[i] != '"' || all[i + 9] != '"')
        return;
    const std::uint32_t crc = Crc32(all.substr(0, at));
    for (int k = 0; k < 8; ++k) text[i + 1 + static_cast<std::size_t>(k)] = "0123456789abcdef"[(crc >> (28 - 4 * k)) & 15];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string input = ScratchFile(".trelis");
    std::vector<char> text(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    RepairChecksum(text);
    WriteFile(input, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    CheckProjectFile(input);
    return 0;
}
