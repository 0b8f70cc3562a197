#include "framework/Convert.h"

#include <QStringDecoder>
#include <QStringEncoder>

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
    constexpr int precision = 15;
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0.0)
        return QStringLiteral("0");

    // d.dddddddddddddde+XX: the value rounded to 15 significant digits.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, value);
    const std::string text(buffer);
    const std::size_t e = text.find('e');
    const int exponent = std::atoi(text.c_str() + e + 1);

    std::string digits;
    for (std::size_t i = 0; i < e; ++i)
        if (text[i] >= '0' && text[i] <= '9')
            digits += text[i];
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = value < 0 ? "-" : "";
    if (exponent >= precision || exponent < -5) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'E';
        out += std::to_string(exponent);
    } else if (exponent >= 0) {
        const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= integerDigits) {
            out += digits;
            out.append(integerDigits - digits.size(), '0');
        } else {
            out += digits.substr(0, integerDigits);
            out += '.';
            out += digits.substr(integerDigits);
        }
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    }
    return QString::fromStdString(out);
}

std::string ToCp1251(const QString& text)
{
    QStringEncoder encoder("windows-1251");
    const QByteArray bytes = encoder.encode(text);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString FromCp1251(std::string_view bytes)
{
    QStringDecoder decoder("windows-1251");
    return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}
