#include "project/Text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

std::string FloatText(double value)
{
    constexpr int precision = 15;
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    if (value == 0.0)
        return "0";

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
    return out;
}

const char* PluralForm(std::uint64_t count, const char* one, const char* few, const char* many)
{
    const std::uint64_t tens = count % 100;
    const std::uint64_t last = count % 10;
    if (tens >= 11 && tens <= 14)
        return many;
    if (last == 1)
        return one;
    if (last >= 2 && last <= 4)
        return few;
    return many;
}

std::string Counted(std::uint64_t count, const char* one, const char* few, const char* many)
{
    return std::to_string(count) + " " + PluralForm(count, one, few, many);
}
