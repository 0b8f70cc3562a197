#include "project/SeriesLoad.h"

#include "images/SeriesFile.h"
#include "project/FileReasons.h"
#include "project/Text.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string_view>
#include <utility>

namespace {

// The file as the messages name it: its name without the folder.
std::string Shown(const std::string& fileName)
{
    return "«" + std::filesystem::path(fileName).filename().string() + "»";
}

std::string Number(std::int64_t value)
{
    return std::to_string(value);
}

// The message with each %1 .. %9 replaced by that argument, in one pass, so
// that an argument's own text (a file name) is never read as a mark.
std::string Fill(std::string_view text, std::initializer_list<std::string> args)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string ReaderMessage(const std::string& fileName, const TSeriesFileResult& read)
{
    const std::string file = Shown(fileName);
    switch (read.status) {
    case SeriesFileStatus::Ok:
        break;
    case SeriesFileStatus::CannotOpen:
        if (read.openError == TFileOpenError::None || read.openError == TFileOpenError::Failed)
            return Fill("Не удаётся открыть файл %1.", {file});
        return Fill("Не удаётся открыть файл %1: %2.", {file, FileOpenReason(read.openError)});
    case SeriesFileStatus::NoCount:
        return Fill("Файл %1 пуст: в его начале должно стоять число значений ряда.", {file});
    case SeriesFileStatus::BadCount:
        return Fill("В начале файла %1 (строка %2) должно стоять целое число значений ряда.", {file, Number(static_cast<std::int64_t>(read.line))});
    case SeriesFileStatus::CountNotPositive:
        return Fill("Число значений в файле %1 равно %2, а должно быть больше нуля.", {file, Number(read.count)});
    case SeriesFileStatus::CountTooLarge:
        return Fill("Число значений в файле %1 слишком велико: больше %2.", {file, Number(std::numeric_limits<std::int32_t>::max())});
    case SeriesFileStatus::TooFewValues:
        return Fill("В файле %1 объявлено значений: %2, а записано только %3.", {file, Number(read.count), Number(static_cast<std::int64_t>(read.valuesRead))});
    case SeriesFileStatus::BadValue:
        return Fill("Значение номер %2 в файле %1 (строка %3) не удаётся прочитать как число.", {file, Number(static_cast<std::int64_t>(read.valuesRead) + 1),
                 Number(static_cast<std::int64_t>(read.line))});
    }
    return {};
}

// Reads the file and checks what every series needs: at least two values,
// not all equal. The values are kept for the caller's further checks.
TSeriesLoad ReadAndCheck(const std::string& fileName)
{
    TSeriesLoad load;
    TSeriesFileResult read = ReadSeriesFile(fileName);
    if (!read.Ok()) {
        load.refusal = ReaderMessage(fileName, read);
        return load;
    }
    load.count = static_cast<std::int32_t>(read.count);
    if (load.count < 2) {
        load.refusal =
            Fill("В файле %1 только одно значение, а в ряду их должно быть хотя бы два.", {Shown(fileName)});
        return load;
    }
    load.range = FindSeriesRange(read.values.data(), read.values.size());
    if (!(load.range.max > load.range.min)) {
        load.refusal = Fill("Все значения ряда в файле %1 равны %2: такой ряд нельзя привести "
                            "к диапазону от 0 до 1.",
                            {Shown(fileName), FloatText(load.range.min)});
        return load;
    }
    load.values = std::make_unique_for_overwrite<float[]>(read.values.size());
    std::copy(read.values.begin(), read.values.end(), load.values.get());
    return load;
}

// Checks the count against the window size and training length; empty when
// they fit.
std::string CountRefusal(const std::string& fileName, std::int32_t count, std::int64_t windowSize,
                         std::int64_t trainLength)
{
    if (windowSize >= count)
        return Fill("Размер окна (%1) должен быть меньше числа значений в файле %3 (%2).",
                    {Number(windowSize), Number(count), Shown(fileName)});
    if (trainLength > count)
        return Fill("Длина ряда для обучения (%1) больше числа значений в файле %3 (%2).",
                    {Number(trainLength), Number(count), Shown(fileName)});
    return {};
}

void Refuse(TSeriesLoad& load, std::string refusal)
{
    load.refusal = std::move(refusal);
    load.values.reset();
}

} // namespace

TSeriesLoad CheckFullLoad(const std::string& fileName, std::int32_t windowSize, std::int32_t trainLength)
{
    TSeriesLoad load;
    if (windowSize <= 0) {
        load.refusal = Fill("Размер окна должен быть больше нуля, а задан %1.", {Number(windowSize)});
        return load;
    }
    if (trainLength <= windowSize) {
        load.refusal = Fill("Длина ряда для обучения (%1) должна быть больше размера окна (%2).",
                            {Number(trainLength), Number(windowSize)});
        return load;
    }
    load = ReadAndCheck(fileName);
    if (load.Refused())
        return load;
    if (std::string refusal = CountRefusal(fileName, load.count, windowSize, trainLength); !refusal.empty()) {
        Refuse(load, std::move(refusal));
        return load;
    }
    const std::uint64_t bytes =
        SeriesWindowBytes(static_cast<std::uint32_t>(load.count), static_cast<std::uint32_t>(windowSize));
    if (bytes > MaxSeriesWindowBytes) {
        Refuse(load, Fill("Размер окна %1 слишком велик для ряда из %2 значений: обучающая "
                          "последовательность заняла бы %3 МБ памяти, а допустимо не больше %4 МБ.",
                          {Number(windowSize), Number(load.count),
                           Number(static_cast<std::int64_t>((bytes + (1u << 20) - 1) >> 20)),
                           Number(static_cast<std::int64_t>(MaxSeriesWindowBytes >> 20))}));
    }
    return load;
}

TSeriesLoad CheckReload(const std::string& fileName, std::uint32_t windowSize, std::uint32_t trainLength)
{
    TSeriesLoad load = ReadAndCheck(fileName);
    if (load.Refused())
        return load;
    if (std::string refusal = CountRefusal(fileName, load.count, windowSize, trainLength); !refusal.empty())
        Refuse(load, refusal + " Обновление сохраняет размер окна и длину ряда последней загрузки; "
                                              "чтобы их изменить, загрузите ряд командой «Из файла».");
    return load;
}

std::string ReplacedNetworkMessage()
{
    return "Текущая сеть построена уже не для временного ряда: её заменил новый проект. "
           "Загрузите ряд заново командой «Из файла».";
}
