#include "images/ClassNames.h"

#include <cstdio>
#include <memory>
#include <utility>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The white space that separates words in the names file.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::vector<std::string> ReadClassNames(const std::string& fileName, bool* ok) {
    std::vector<std::string> words;
    FilePtr f(std::fopen(fileName.c_str(), "rb"));
    if (ok)
        *ok = false;
    if (!f)
        return words;
    std::string word;
    char chunk[1 << 14];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, f.get());
        for (std::size_t i = 0; i < got; ++i) {
            if (IsBlank(chunk[i])) {
                if (!word.empty())
                    words.push_back(std::move(word));
                word.clear();
            } else {
                word.push_back(chunk[i]);
            }
        }
        if (got < sizeof chunk)
            break;
    }
    // A folder opens like a file but cannot be read: it holds no names.
    if (std::ferror(f.get()))
        return {};
    if (!word.empty())
        words.push_back(std::move(word));
    if (ok)
        *ok = true;
    return words;
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
    FilePtr f(std::fopen(fileName.c_str(), "wb"));
    if (!f)
        return false;
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += StorableClassName(names[i], i);
        text += "\r\n";
    }
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
