#include "framework/Convert.h"

#include "project/Text.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>

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

namespace {

// The byte of every character the code page has: each of the 256 bytes
// decodes to a character of its own, so the table is read off the decoder.
const QHash<char16_t, char>& Cp1251Bytes()
{
    static const QHash<char16_t, char> bytes = [] {
        QHash<char16_t, char> table;
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            const QString decoded = FromCp1251(std::string_view(&c, 1));
            if (decoded.size() == 1)
                table.insert(decoded[0].unicode(), c);
        }
        return table;
    }();
    return bytes;
}

} // namespace

std::string ToCp1251(const QString& text)
{
    // Character by character rather than through the toolkit's encoder,
    // which stands in the control character SUB (0x1A) for a character the
    // code page lacks: the user could not tell it from an empty place.
    const QHash<char16_t, char>& table = Cp1251Bytes();
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        // A character beyond the 16-bit range is one character, one '?'.
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        const auto found = table.constFind(c.unicode());
        bytes.push_back(found != table.constEnd() && !c.isSurrogate() ? *found : '?');
    }
    return bytes;
}

QString FromCp1251(std::string_view bytes)
{
    QStringDecoder decoder("windows-1251");
    return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string LocalPath(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

QString ShownPath(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}
