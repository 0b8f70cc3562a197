#include "forms/SequenceFile.h"

#include "framework/Convert.h"
#include "images/ClassNames.h"
#include "project/FileReasons.h"

namespace {

// Why a names file cannot serve, as the user is told after its name.
QString NamesFailureReason(const TClassNamesFile& file)
{
    switch (file.error) {
    case TClassNamesError::TooLarge:
        return QStringLiteral("больше %1 МиБ").arg(MaxClassNamesFileSize >> 20);
    case TClassNamesError::TooManyNames:
        return QStringLiteral("содержит больше имён, чем может быть классов (%1)").arg(MaxClassNames);
    default:
        break;
    }
    return QStringLiteral("не удалось прочитать");
}

} // namespace

QString ReadSequenceFile(const std::string& path, TSequenceFileRead& read)
{
    read.namesPath = ClassNamesFileName(path);
    const TClassNamesFile namesFile = LoadClassNames(read.namesPath);
    read.namesRead = namesFile.Ok();
    if (namesFile.error == TClassNamesError::TooLarge || namesFile.error == TClassNamesError::TooManyNames)
        return QStringLiteral("файл имён классов «%1» %2")
            .arg(ShownPath(read.namesPath), NamesFailureReason(namesFile));
    TSequenceFileError error = TSequenceFileError::None;
    TFileOpenError openError = TFileOpenError::None;
    if (!read.sequence.LoadFromFile(path, &error, &openError))
        return QString::fromStdString(SequenceLoadReason(error, openError));
    read.names.clear();
    read.names.reserve(namesFile.names.size());
    for (const std::string& word : namesFile.names)
        read.names.push_back(namesFile.encoding == TTextEncoding::Utf8 ? word : FromCp1251(word).toStdString());
    return {};
}
