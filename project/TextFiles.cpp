#include "project/TextFiles.h"

#include "images/ClassNames.h"
#include "project/AtomicFile.h"
#include "project/FileReasons.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

template <class Number>
std::string ShortestText(Number value)
{
    if (std::isnan(value))
        return {};
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

} // namespace

std::string LoadSequenceWithNames(const std::string& path, TSequenceWithNames& read)
{
    SettleInterruptedWrites(path);
    read.namesPath = ClassNamesFileName(path);
    const TClassNamesFile namesFile = LoadClassNames(read.namesPath);
    if (namesFile.error == TClassNamesError::TooLarge)
        return "файл имён классов «" + read.namesPath + "» больше " + std::to_string(MaxClassNamesFileSize >> 20) +
               " МиБ";
    if (namesFile.error == TClassNamesError::TooManyNames)
        return "файл имён классов «" + read.namesPath + "» содержит больше имён, чем может быть классов (" +
               std::to_string(MaxClassNames) + ")";
    TSequenceFileError error = TSequenceFileError::None;
    TFileOpenError openError = TFileOpenError::None;
    if (!read.sequence.LoadFromFile(path, &error, &openError))
        return SequenceLoadReason(error, openError);
    read.namesRead = namesFile.Ok();
    read.names.clear();
    read.names.reserve(namesFile.names.size());
    for (const std::string& word : namesFile.names)
        read.names.push_back(namesFile.encoding == TTextEncoding::Utf8 ? word : Cp1251ToUtf8(word));
    // A names file with fewer names than the sequence has classes was
    // likely not written with it.
    std::int32_t classes = 0;
    for (const TAbsImage& e : read.sequence.Elements())
        classes = std::max(classes, e.GetClassIndex() + 1);
    read.namesMismatch.clear();
    if (read.namesRead && read.names.size() < static_cast<std::size_t>(classes))
        read.namesMismatch = "файл имён классов «" + read.namesPath +
                             "», похоже, не от этой последовательности: имён в нём " +
                             std::to_string(read.names.size()) + ", а классов в последовательности " +
                             std::to_string(classes);
    return {};
}

std::string SaveSequenceWithNames(const std::string& path, const PatternRing& sequence,
                                  const std::vector<std::string>& names)
{
    std::vector<std::string> stored;
    stored.reserve(names.size());
    for (const std::string& name : names)
        stored.push_back(Utf8ToCp1251(name));
    return SaveFilesTogether({
        {path, [&sequence](std::FILE* file) { return sequence.Write(file); }},
        {ClassNamesFileName(path), [&stored](std::FILE* file) { return WriteClassNames(file, stored); }},
    });
}

std::string CsvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvNumber(double value)
{
    return ShortestText(value);
}

std::string CsvNumber(float value)
{
    return ShortestText(value);
}
