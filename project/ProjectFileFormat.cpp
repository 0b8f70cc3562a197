#include "project/ProjectFileFormat.h"

#include <cstring>
#include <filesystem>

namespace project_file {

namespace {

struct TCrcTables {
    std::uint32_t t[8][256] = {};
    constexpr TCrcTables()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

constexpr TCrcTables kCrc;

} // namespace

std::uint32_t CrcUpdate(std::uint32_t c, const char* data, std::size_t n)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto& t = kCrc.t;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint32_t lo;
        std::uint32_t hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= c;
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; n > 0; ++p, --n) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c;
}

bool DecodeBase64(std::string_view text, void* out, std::size_t n)
{
    if (text.size() != Base64Length(n))
        return false;
    auto* o = static_cast<unsigned char*>(out);
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const auto& v = kBase64Values.v;
    const std::size_t whole = n / 3;
    for (std::size_t g = 0; g < whole; ++g, s += 4, o += 3) {
        const int a = v[s[0]], b = v[s[1]], c = v[s[2]], d = v[s[3]];
        if ((a | b | c | d) < 0)
            return false;
        o[0] = static_cast<unsigned char>((a << 2) | (b >> 4));
        o[1] = static_cast<unsigned char>(((b & 15) << 4) | (c >> 2));
        o[2] = static_cast<unsigned char>(((c & 3) << 6) | d);
    }
    const std::size_t rest = n % 3;
    if (rest == 1) {
        const int a = v[s[0]], b = v[s[1]];
        if ((a | b) < 0 || (b & 15) != 0 || s[2] != '=' || s[3] != '=')
            return false;
        o[0] = static_cast<unsigned char>((a << 2) | (b >> 4));
    } else if (rest == 2) {
        const int a = v[s[0]], b = v[s[1]], c = v[s[2]];
        if ((a | b | c) < 0 || (c & 3) != 0 || s[3] != '=')
            return false;
        o[0] = static_cast<unsigned char>((a << 2) | (b >> 4));
        o[1] = static_cast<unsigned char>(((b & 15) << 4) | (c >> 2));
    }
    return true;
}

std::string Shown(const std::string& path)
{
    return "«" + std::filesystem::path(path).filename().string() + "»";
}

} // namespace project_file
