// Any bytes as a class-names file: the names read are exactly the input's
// white-space-separated words, split here independently of the reader, in
// the encoding the bytes are in; too many of them are refused; and what is
// written from them reads back the same.
#include "FuzzFile.h"
#include "images/ClassNames.h"
#include "images/Cp1251.h"

#include <algorithm>
#include <cctype>
#include <iconv.h>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::vector<std::string> Words(std::string_view text)
{
    std::vector<std::string> words(1);
    for (const char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c)))
            words.back() += c;
        else if (!words.back().empty())
            words.emplace_back();
    }
    if (words.back().empty())
        words.pop_back();
    return words;
}

// Whether the C library's converter takes the bytes as UTF-8 text.
bool ValidUtf8(std::string_view text)
{
    static const iconv_t converter = iconv_open("UTF-32LE", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        std::abort();
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string in(text);
    char* from = in.data();
    std::size_t fromLeft = in.size();
    std::vector<char> out(4 * in.size() + 4);
    char* to = out.data();
    std::size_t toLeft = out.size();
    return iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1) && fromLeft == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string input = ScratchFile(".nam");
    static const std::string output = ScratchFile("-out.nam");
    WriteFile(input, data, size);
    std::string_view text(reinterpret_cast<const char*>(data), size);

    const TClassNamesFile read = LoadClassNames(input);
    const bool marked = text.starts_with(kByteOrderMark);
    const bool multiByte =
        std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    const TTextEncoding encoding =
        marked || (multiByte && ValidUtf8(text)) ? TTextEncoding::Utf8 : TTextEncoding::Cp1251;
    if (marked)
        text.remove_prefix(kByteOrderMark.size());
    const std::vector<std::string> words = Words(text);

    if (words.size() > MaxClassNames) {
        if (read.error != TClassNamesError::TooManyNames || !read.names.empty())
            std::abort();
        return 0;
    }
    if (!read.Ok() || read.names != words || read.encoding != encoding)
        std::abort();
    for (const std::string& name : read.names)
        if (encoding == TTextEncoding::Utf8 && Utf8ToCp1251(name).empty() != name.empty())
            std::abort();

    if (!WriteClassNames(output, read.names))
        std::abort();
    if (LoadClassNames(output).names != read.names)
        std::abort();
    return 0;
}
