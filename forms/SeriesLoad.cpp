#include "forms/SeriesLoad.h"

#include "framework/Convert.h"
#include "images/SeriesFile.h"

#include <QFile>
#include <QFileInfo>

#include <limits>

namespace {

// The file as the messages name it: its name without the folder.
QString Shown(const QString& fileName)
{
    return QStringLiteral("«") + QFileInfo(fileName).fileName() + QStringLiteral("»");
}

QString Number(std::int64_t value)
{
    return IntToStr(value);
}

QString ReaderMessage(const QString& fileName, const TSeriesFileResult& read)
{
    const QString file = Shown(fileName);
    switch (read.status) {
    case SeriesFileStatus::Ok:
        break;
    case SeriesFileStatus::CannotOpen:
        return QStringLiteral("Не удаётся открыть файл %1.").arg(file);
    case SeriesFileStatus::NoCount:
        return QStringLiteral("Файл %1 пуст: в его начале должно стоять число значений ряда.").arg(file);
    case SeriesFileStatus::BadCount:
        return QStringLiteral("В начале файла %1 (строка %2) должно стоять целое число значений ряда.")
            .arg(file, Number(static_cast<std::int64_t>(read.line)));
    case SeriesFileStatus::CountNotPositive:
        return QStringLiteral("Число значений в файле %1 равно %2, а должно быть больше нуля.")
            .arg(file, Number(read.count));
    case SeriesFileStatus::CountTooLarge:
        return QStringLiteral("Число значений в файле %1 слишком велико: больше %2.")
            .arg(file, Number(std::numeric_limits<std::int32_t>::max()));
    case SeriesFileStatus::TooFewValues:
        return QStringLiteral("В файле %1 объявлено значений: %2, а записано только %3.")
            .arg(file, Number(read.count), Number(static_cast<std::int64_t>(read.valuesRead)));
    case SeriesFileStatus::BadValue:
        return QStringLiteral("Значение номер %2 в файле %1 (строка %3) не удаётся прочитать как число.")
            .arg(file, Number(static_cast<std::int64_t>(read.valuesRead) + 1),
                 Number(static_cast<std::int64_t>(read.line)));
    }
    return {};
}

// Reads the file and checks what every series needs: at least two values,
// not all equal. The values are kept for the caller's further checks.
TSeriesLoad ReadAndCheck(const QString& fileName)
{
    TSeriesLoad load;
    TSeriesFileResult read = ReadSeriesFile(QFile::encodeName(fileName).toStdString());
    if (!read.Ok()) {
        load.refusal = ReaderMessage(fileName, read);
        return load;
    }
    load.count = static_cast<std::int32_t>(read.count);
    if (load.count < 2) {
        load.refusal = QStringLiteral("В файле %1 только одно значение, а в ряду их должно быть хотя бы два.")
                           .arg(Shown(fileName));
        return load;
    }
    load.range = FindSeriesRange(read.values.data(), read.values.size());
    if (!(load.range.max > load.range.min)) {
        load.refusal = QStringLiteral("Все значения ряда в файле %1 равны %2: такой ряд нельзя привести "
                                      "к диапазону от 0 до 1.")
                           .arg(Shown(fileName), FloatToStr(load.range.min));
        return load;
    }
    load.values = std::make_unique_for_overwrite<float[]>(read.values.size());
    std::copy(read.values.begin(), read.values.end(), load.values.get());
    return load;
}

// Checks the count against the window size and training length; empty when
// they fit.
QString CountRefusal(const QString& fileName, std::int32_t count, std::int64_t windowSize, std::int64_t trainLength)
{
    if (windowSize >= count)
        return QStringLiteral("Размер окна (%1) должен быть меньше числа значений в файле %3 (%2).")
            .arg(Number(windowSize), Number(count), Shown(fileName));
    if (trainLength > count)
        return QStringLiteral("Длина ряда для обучения (%1) больше числа значений в файле %3 (%2).")
            .arg(Number(trainLength), Number(count), Shown(fileName));
    return {};
}

void Refuse(TSeriesLoad& load, QString refusal)
{
    load.refusal = std::move(refusal);
    load.values.reset();
}

} // namespace

TSeriesLoad CheckFullLoad(const QString& fileName, std::int32_t windowSize, std::int32_t trainLength)
{
    TSeriesLoad load;
    if (windowSize <= 0) {
        load.refusal = QStringLiteral("Размер окна должен быть больше нуля, а задан %1.").arg(Number(windowSize));
        return load;
    }
    if (trainLength <= windowSize) {
        load.refusal = QStringLiteral("Длина ряда для обучения (%1) должна быть больше размера окна (%2).")
                           .arg(Number(trainLength), Number(windowSize));
        return load;
    }
    load = ReadAndCheck(fileName);
    if (load.Refused())
        return load;
    if (QString refusal = CountRefusal(fileName, load.count, windowSize, trainLength); !refusal.isEmpty()) {
        Refuse(load, std::move(refusal));
        return load;
    }
    const std::uint64_t bytes =
        SeriesWindowBytes(static_cast<std::uint32_t>(load.count), static_cast<std::uint32_t>(windowSize));
    if (bytes > MaxSeriesWindowBytes) {
        Refuse(load, QStringLiteral("Размер окна %1 слишком велик для ряда из %2 значений: обучающая "
                                    "последовательность заняла бы %3 МБ памяти, а допустимо не больше %4 МБ.")
                         .arg(Number(windowSize), Number(load.count),
                              Number(static_cast<std::int64_t>((bytes + (1u << 20) - 1) >> 20)),
                              Number(static_cast<std::int64_t>(MaxSeriesWindowBytes >> 20))));
    }
    return load;
}

TSeriesLoad CheckReload(const QString& fileName, std::uint32_t windowSize, std::uint32_t trainLength)
{
    TSeriesLoad load = ReadAndCheck(fileName);
    if (load.Refused())
        return load;
    if (QString refusal = CountRefusal(fileName, load.count, windowSize, trainLength); !refusal.isEmpty())
        Refuse(load, refusal + QStringLiteral(" Обновление сохраняет размер окна и длину ряда последней загрузки; "
                                              "чтобы их изменить, загрузите ряд командой «Из файла»."));
    return load;
}

QString ReplacedNetworkMessage()
{
    return QStringLiteral("Текущая сеть построена уже не для временного ряда: её заменил новый проект. "
                          "Загрузите ряд заново командой «Из файла».");
}
