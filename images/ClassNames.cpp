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

std::string ShownClassName(const std::vector<std::string>& names, std::int64_t k)
{
    if (k >= 0 && static_cast<std::uint64_t>(k) < names.size() && !names[static_cast<std::size_t>(k)].empty())
        return names[static_cast<std::size_t>(k)];
    return std::to_string(k);
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

bool WriteClassNames(std::FILE* file, const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += StorableClassName(names[i], i);
        text += "\r\n";
    }
    // The reader drops one byte-order mark at the start of the file: a first
    // name that starts with those bytes keeps them behind a mark of its own.
    if (text.starts_with(ByteOrderMark))
        text.insert(0, ByteOrderMark);
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

bool WriteClassNames(const std::string& fileName, const std::vector<std::string>& names) {
    TFilePtr f(std::fopen(fileName.c_str(), "wb"));
    if (!f)
        return false;
    bool ok = WriteClassNames(f.get(), names);
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
