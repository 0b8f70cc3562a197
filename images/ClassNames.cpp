#include "images/ClassNames.h"

#include <cstdio>
#include <utility>

namespace {

// The white space that separates words in the names file.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// The characters of Windows-1251 bytes 0x80..0xBF (0x98, unassigned, stands
// for the control character U+0098, as in the toolkit); 0xC0..0xFF are
// U+0410..U+044F in order.
constexpr char16_t Cp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457,
};

char ToCp1251(char32_t c) {
    if (c < 0x80)
        return static_cast<char>(c);
    if (c >= 0x0410 && c <= 0x044F)
        return static_cast<char>(0xC0 + (c - 0x0410));
    for (std::size_t i = 0; i < 64; ++i)
        if (Cp1251High[i] == c)
            return static_cast<char>(0x80 + i);
    return '?';
}

// Decodes the UTF-8 character at s[i], advancing i; false when the bytes
// there are no well-formed character (overlong forms, surrogates and values
// beyond U+10FFFF included).
bool NextUtf8(std::string_view s, std::size_t& i, char32_t& c) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        c = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, min = 0x10000;
    } else {
        return false;
    }
    if (s.size() - i < length)
        return false;
    for (std::size_t k = 1; k < length; ++k) {
        if (!IsUtf8Continuation(s[i + k]))
            return false;
        c = c << 6 | (byte(i + k) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    i += length;
    return true;
}

TClassNamesFile Refusal(TClassNamesError error, TFileOpenError openError = TFileOpenError::None) {
    TClassNamesFile r;
    r.error = error;
    r.openError = openError;
    return r;
}

} // namespace

TTextEncoding DetectEncoding(std::string_view bytes) {
    if (bytes.starts_with(ByteOrderMark))
        return TTextEncoding::Utf8;
    bool multiByte = false;
    char32_t c = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        if (!NextUtf8(bytes, i, c))
            return TTextEncoding::Cp1251;
        multiByte = multiByte || c >= 0x80;
    }
    return multiByte ? TTextEncoding::Utf8 : TTextEncoding::Cp1251;
}

std::string Utf8ToCp1251(std::string_view text) {
    std::string out;
    char32_t c = 0;
    for (std::size_t i = 0; i < text.size();)
        out.push_back(NextUtf8(text, i, c) ? ToCp1251(c) : (++i, '?'));
    return out;
}

TClassNamesFile LoadClassNames(const std::string& fileName) {
    TRegularFile f = OpenRegularFile(fileName);
    if (!f.file)
        return Refusal(TClassNamesError::CannotOpen, f.error);
    if (f.size > MaxClassNamesFileSize)
        return Refusal(TClassNamesError::TooLarge);
    std::string text(static_cast<std::size_t>(f.size), '\0');
    std::uint64_t done = 0;
    text.resize(ReadAtMost(f.file.get(), text.data(), text.size(), f.size, done));
    if (std::ferror(f.file.get()))
        return Refusal(TClassNamesError::ReadFailed);

    TClassNamesFile r;
    r.encoding = DetectEncoding(text);
    std::string_view rest = text;
    if (rest.starts_with(ByteOrderMark))
        rest.remove_prefix(ByteOrderMark.size());
    for (std::size_t i = 0; i < rest.size();) {
        if (IsBlank(rest[i])) {
            ++i;
            continue;
        }
        if (r.names.size() == MaxClassNames)
            return Refusal(TClassNamesError::TooManyNames);
        std::size_t end = i;
        while (end < rest.size() && !IsBlank(rest[end]))
            ++end;
        r.names.emplace_back(rest.substr(i, end - i));
        i = end;
    }
    return r;
}

std::vector<std::string> ReadClassNames(const std::string& fileName, bool* ok) {
    TClassNamesFile file = LoadClassNames(fileName);
    if (ok)
        *ok = file.Ok();
    if (file.encoding == TTextEncoding::Utf8)
        for (std::string& name : file.names)
            name = Utf8ToCp1251(name);
    return std::move(file.names);
}

std::string StorableClassName(const std::string& name, std::size_t classNumber) {
    if (name.empty())
        return std::to_string(classNumber);
    std::string s = name;
    for (char& c : s)
        if (IsBlank(c))
            c = '_';
    return s;
}

bool WriteClassNames(const std::string& fileName, const std::vector<std::string>& names) {
    TFilePtr f(std::fopen(fileName.c_str(), "wb"));
    if (!f)
        return false;
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += StorableClassName(names[i], i);
        text += "\r\n";
    }
    // The reader drops one byte-order mark at the start of the file: a first
    // name that starts with those bytes keeps them behind a mark of its own.
    if (text.starts_with(ByteOrderMark))
        text.insert(0, ByteOrderMark);
    bool ok = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
    if (std::fclose(f.release()) != 0)
        ok = false;
    return ok;
}

std::string ClassNamesFileName(const std::string& sequenceFileName) {
    const std::string& s = sequenceFileName;
    const std::size_t slash = s.find_last_of('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    // Step back over three characters, a multi-byte UTF-8 character counting
    // as one, without leaving the last path component.
    std::size_t cut = s.size();
    for (int chars = 0; chars < 3; ++chars) {
        if (cut == base)
            return s + ".nam";
        --cut;
        while (cut > base && IsUtf8Continuation(s[cut]))
            --cut;
    }
    return s.substr(0, cut) + "nam";
}
