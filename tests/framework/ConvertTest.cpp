#include "framework/Convert.h"
#include "images/ClassNames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

// The message the user sees for a text that is not a number.
QString ConversionMessage(const QString& text)
{
    try {
        StrToInt(text);
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return QStringLiteral("(no error)");
}

TEST(StrToInt, ReadsSignedDecimalNumbersOfThe32BitRange)
{
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("100"), 100);
    EXPECT_EQ(StrToInt("+25"), 25);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("-0"), 0);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("2147483647"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(StrToInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(StrToInt("000000000000000000000042"), 42);
}

TEST(StrToInt, RefusesEverythingElseWithTheTextAsTyped)
{
    const char* const refused[] = {
        "", " ", "+", "-", "--5", "+-5", " 5", "5 ", "5\n", "12a", "a12", "1.5", "1e3", "0x10",
        "$10", "1 000", "2147483648", "-2147483649", "99999999999999999999999",
    };
    for (const char* text : refused) {
        const QString typed = QString::fromUtf8(text);
        EXPECT_THROW(StrToInt(typed), EConvertError) << text;
        EXPECT_EQ(ConversionMessage(typed), "'" + typed + "' is not a valid integer value") << text;
    }
}

TEST(StrToInt, RefusesDigitsOfOtherScriptsAndKeepsCyrillicInTheMessage)
{
    // Arabic-Indic and full-width digits are digits to Unicode, not here.
    EXPECT_THROW(StrToInt(QString::fromUtf8("\u0661\u0662")), EConvertError);
    EXPECT_THROW(StrToInt(QString::fromUtf8("\uFF11\uFF12")), EConvertError);
    const QString typed = QString::fromUtf8("десять");
    EXPECT_EQ(ConversionMessage(typed), QString::fromUtf8("'десять' is not a valid integer value"));
    // A percent sign in the text is shown as typed, not taken as a placeholder.
    EXPECT_EQ(ConversionMessage("%1%s"), "'%1%s' is not a valid integer value");
}

TEST(IntToStr, WritesPlainDecimalThatReadsBack)
{
    EXPECT_EQ(IntToStr(4294967295LL), "4294967295");
    for (std::int32_t v : {0, 1, -1, -12, 305, 2147483647, -2147483647 - 1})
        EXPECT_EQ(StrToInt(IntToStr(v)), v);
}

TEST(FloatToStr, FifteenSignificantDigitsAndScientificBeyondThemOrBelowOneHundredThousandth)
{
    const std::pair<double, const char*> cases[] = {
        {0.5, "0.5"}, {200000000.0, "200000000"}, {2.0, "2"}, {-1.25, "-1.25"}, {0.0, "0"},
        {1.0 / 3.0, "0.333333333333333"}, {2.0 / 3.0, "0.666666666666667"}, {123456789012345.0, "123456789012345"},
        // A float shown through double keeps its binary value to 15 digits.
        {static_cast<double>(0.1f), "0.100000001490116"},
        // 200000000 times a range of 0.5, as the series window writes it.
        {0.5 * 200000000.0f, "100000000"},
        {0.00001, "0.00001"}, {0.000015, "0.000015"}, {0.000001, "1E-6"}, {-0.0000025, "-2.5E-6"},
        {999999999999999.0, "999999999999999"}, {1e15, "1E15"}, {1.5e20, "1.5E20"},
        // Rounding to 15 digits can carry into a new integer digit.
        {999999999999999.9, "1E15"},
        {std::numeric_limits<double>::infinity(), "INF"}, {-std::numeric_limits<double>::infinity(), "-INF"},
        {std::nan(""), "NAN"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FloatToStr(value), text) << text;
}

} // namespace
