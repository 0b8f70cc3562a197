#pragma once
// Conversions between numbers and the texts the windows show or read, and
// between file names and the texts the user sees.

#include <QString>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// The conversion error: a field that should hold a number does not. Its
// message is shown to the user by the exception display.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const QString& message);
    // The message as the user sees it.
    QString Message() const { return QString::fromUtf8(what()); }
};

// An optional sign followed by decimal digits, of a value that fits in 32
// signed bits. Anything else (the empty text, blanks, other characters, a
// value out of range) raises EConvertError with the text
// "'<text>' is not a valid integer value".
std::int32_t StrToInt(const QString& text);

// Decimal text of a whole number, with a minus sign when negative.
QString IntToStr(std::int64_t value);

// General format with 15 significant digits: trailing zeros and a bare
// decimal point are dropped (0.5 gives "0.5", 200000000 gives "200000000");
// values below 1E-5 in magnitude or needing more than 15 integer digits are
// written in scientific form ("1E-6", "1.5E20"). The decimal separator is
// the point.
QString FloatToStr(double value);

// A file name as the C library's file functions take it, and such a name
// back as text for the user.
std::string LocalPath(const QString& name);
QString ShownPath(const std::string& path);
