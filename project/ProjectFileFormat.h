#pragma once
// What the project file's writer and reader share (ProjectFileWriter.cpp,
// ProjectFileReader.cpp): the checksum, the base64 of the blocks, the
// measure of a JSON string's characters and the file's name in messages.
// Internal to the project file; callers use ProjectFile.h.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Blocks of numbers are stored as their little-endian bytes, copied as they lie in memory.
static_assert(std::endian::native == std::endian::little, "the project file code assumes a little-endian machine");

namespace project_file {

// ---------------------------------------------------------------------------
// CRC-32 (the polynomial of zlib, Ethernet and PNG), eight bytes at a time.

// The CRC register after `data`, from the register `c` before it; the
// checksum of a whole text is ~CrcUpdate(CrcStart, text).
inline constexpr std::uint32_t CrcStart = 0xFFFFFFFFu;

std::uint32_t CrcUpdate(std::uint32_t c, const char* data, std::size_t n);

// ---------------------------------------------------------------------------
// Base64 (RFC 4648, with padding).

inline constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each base64 character; -1 for any other byte.
struct TBase64Values {
    std::int8_t v[256] = {};
    constexpr TBase64Values()
    {
        for (auto& x : v) x = -1;
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kBase64[i])] = static_cast<std::int8_t>(i);
    }
};

inline constexpr TBase64Values kBase64Values;

// Characters of the encoding of n bytes.
constexpr std::uint64_t Base64Length(std::uint64_t n)
{
    return (n + 2) / 3 * 4;
}

// Decodes text that must be the canonical encoding of exactly n bytes into
// out[0..n); false when it is not.
bool DecodeBase64(std::string_view text, void* out, std::size_t n);

// ---------------------------------------------------------------------------
// JSON strings

// How many of the first n bytes are printable ASCII other than the quote and
// the backslash: characters a JSON string holds as they are. Eight bytes at
// a time up to the first eight that hold any other.
inline std::size_t PlainRun(const char* p, std::size_t n)
{
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        std::uint64_t x;
        std::memcpy(&x, p + k, 8);
        const std::uint64_t quote = x ^ (ones * '"');
        const std::uint64_t backslash = x ^ (ones * '\\');
        // The high bit of a byte of 0x80 or above, of one below 0x20, and of
        // one that the xor turned to zero; a false alarm only after a real one.
        if ((x | ((x - ones * 0x20) & ~x) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash)) & highs)
            break;
    }
    for (; k < n; ++k) {
        const auto c = static_cast<unsigned char>(p[k]);
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\')
            break;
    }
    return k;
}

// What the first byte of a UTF-8 character asks of the bytes after it (RFC
// 3629): how many there are, and the range of the first of them (of the
// others 0x80..0xBF), which keeps out overlong forms, surrogates and
// anything beyond U+10FFFF. No tails: the byte starts no character.
struct TUtf8Lead {
    int tails = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
};

constexpr TUtf8Lead Utf8Lead(unsigned char c)
{
    if (c >= 0xC2 && c <= 0xDF)
        return {1};
    if (c == 0xE0)
        return {2, 0xA0};
    if (c == 0xED)
        return {2, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF)
        return {2};
    if (c == 0xF0)
        return {3, 0x90};
    if (c >= 0xF1 && c <= 0xF3)
        return {3};
    if (c == 0xF4)
        return {3, 0x80, 0x8F};
    return {0};
}

// ---------------------------------------------------------------------------
// The members of the document, as the writer writes them and the reader
// looks them up (project-format.md describes each).

namespace member {
inline constexpr char amplitude[] = "amplitude";
inline constexpr char cells[] = "cells";
inline constexpr char changes[] = "changes";
inline constexpr char checksum[] = "checksum";
inline constexpr char classNames[] = "classNames";
inline constexpr char classes[] = "classes";
inline constexpr char count[] = "count";
inline constexpr char dimension[] = "dimension";
inline constexpr char fit[] = "fit";
inline constexpr char format[] = "format";
inline constexpr char fromFirstWindow[] = "fromFirstWindow";
inline constexpr char generator[] = "generator";
inline constexpr char height[] = "height";
inline constexpr char heldOut[] = "heldOut";
inline constexpr char inputOffset[] = "inputOffset";
inline constexpr char inputScale[] = "inputScale";
inline constexpr char inputs[] = "inputs";
inline constexpr char keepBest[] = "keepBest";
inline constexpr char keepGoing[] = "keepGoing";
inline constexpr char layers[] = "layers";
inline constexpr char lengths[] = "lengths";
inline constexpr char max[] = "max";
inline constexpr char maxEpochs[] = "maxEpochs";
inline constexpr char method[] = "method";
inline constexpr char min[] = "min";
inline constexpr char momentum[] = "momentum";
inline constexpr char network[] = "network";
inline constexpr char neurons[] = "neurons";
inline constexpr char offset[] = "offset";
inline constexpr char patience[] = "patience";
inline constexpr char rate[] = "rate";
inline constexpr char retina[] = "retina";
inline constexpr char seed[] = "seed";
inline constexpr char sequence[] = "sequence";
inline constexpr char series[] = "series";
inline constexpr char sizes[] = "sizes";
inline constexpr char slope[] = "slope";
inline constexpr char stepWidth[] = "stepWidth";
inline constexpr char targetAccuracy[] = "targetAccuracy";
inline constexpr char targetOffset[] = "targetOffset";
inline constexpr char targetScale[] = "targetScale";
inline constexpr char trainLength[] = "trainLength";
inline constexpr char training[] = "training";
inline constexpr char values[] = "values";
inline constexpr char version[] = "version";
inline constexpr char weights[] = "weights";
inline constexpr char width[] = "width";
inline constexpr char windowSize[] = "windowSize";
} // namespace member

// The words of the document's named values.
namespace value {
inline constexpr char backprop[] = "backprop";
inline constexpr char stochastic[] = "stochastic";
inline constexpr char stretch[] = "stretch";
inline constexpr char aspect[] = "aspect";
} // namespace value

// The file as the messages name it: its name without the folder, in «».
std::string Shown(const std::string& path);

} // namespace project_file
