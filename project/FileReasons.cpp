#include "project/FileReasons.h"

std::string FileOpenReason(TFileOpenError error)
{
    switch (error) {
    case TFileOpenError::NotFound:
        return "файл не найден";
    case TFileOpenError::NotAFile:
        return "это не обычный файл (папка, устройство или канал)";
    case TFileOpenError::NoAccess:
        return "нет прав на чтение";
    case TFileOpenError::Failed:
    case TFileOpenError::None:
        break;
    }
    return "файл не удалось открыть";
}

std::string SequenceLoadReason(TSequenceFileError error, TFileOpenError openError)
{
    switch (error) {
    case TSequenceFileError::CannotOpen:
        return openError != TFileOpenError::None ? FileOpenReason(openError)
                                                 : "файл не найден или его нельзя открыть";
    case TSequenceFileError::ReadFailed:
        return "файл не удалось прочитать";
    case TSequenceFileError::NoHeader:
        return "файл слишком короткий, в нём нет заголовка";
    case TSequenceFileError::Truncated:
        return "файл обрывается раньше, чем кончаются объявленные в заголовке записи";
    case TSequenceFileError::TooLarge:
        return "размер элемента в заголовке больше " + std::to_string(PatternRing::MaxDimension) + " байт";
    case TSequenceFileError::OutOfMemory:
        return "последовательность не помещается в памяти";
    case TSequenceFileError::None:
        break;
    }
    return "неизвестная ошибка";
}
