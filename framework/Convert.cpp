#include "framework/Convert.h"

#include "project/Text.h"

#include <QFile>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

EConvertError::EConvertError(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

std::int32_t StrToInt(const QString& text)
{
    const std::string bytes = text.toStdString();
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    bool valid = p != end;
    for (const char* q = p; valid && q != end; ++q)
        valid = *q >= '0' && *q <= '9';

    std::uint64_t magnitude = 0;
    if (valid) {
        const auto [last, ec] = std::from_chars(p, end, magnitude);
        valid = ec == std::errc() && last == end;
    }
    // The magnitude of the most negative value is one more than the largest.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    if (!valid || magnitude > limit)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));

    const std::int64_t value = negative ? -static_cast<std::int64_t>(magnitude)
                                        : static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(value);
}

QString IntToStr(std::int64_t value)
{
    return QString::number(value);
}

QString FloatToStr(double value)
{
    return QString::fromStdString(FloatText(value));
}

std::string LocalPath(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

QString ShownPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}
