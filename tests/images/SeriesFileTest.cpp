// The series file reader: the forms of the count and of the values, where
// reading stops, every way a file can be refused, and arbitrary bytes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "images/SeriesFile.h"
#include "TempFiles.h"

namespace {

using std::string_literals::operator""s;

constexpr float kMax = std::numeric_limits<float>::max();

std::vector<float> Values(const std::string& text)
{
    const TSeriesFileResult r = ParseSeries(text);
    EXPECT_TRUE(r.Ok()) << "status " << static_cast<int>(r.status) << " for: " << text;
    return r.values;
}

SeriesFileStatus Status(const std::string& text)
{
    return ParseSeries(text).status;
}

// A count followed by n values 1, 2, ..., n on one line.
std::string Counted(const std::string& count, int n)
{
    std::string text = count + "\n";
    for (int i = 1; i <= n; ++i)
        text += std::to_string(i) + " ";
    return text;
}

TEST(SeriesFileCount, DecimalHexadecimalAndOctalFormsWithSign)
{
    EXPECT_EQ(Values("3 1 2 3").size(), 3u);
    EXPECT_EQ(Values("+3 1 2 3").size(), 3u);
    // A leading 0 makes the count octal, 0x or 0X hexadecimal.
    EXPECT_EQ(Values(Counted("010", 8)).size(), 8u);
    EXPECT_EQ(Values(Counted("0x10", 16)).size(), 16u);
    EXPECT_EQ(Values(Counted("0X1a", 26)).size(), 26u);
    EXPECT_EQ(Values(Counted("0xFf", 255)).size(), 255u);
    EXPECT_EQ(Values(Counted("0017", 15)).size(), 15u);
    // The octal and hexadecimal counts announce exactly their values: one
    // value fewer in the file is too few.
    const TSeriesFileResult shortOctal = ParseSeries(Counted("010", 7));
    EXPECT_EQ(shortOctal.status, SeriesFileStatus::TooFewValues);
    EXPECT_EQ(shortOctal.count, 8);
    EXPECT_EQ(shortOctal.valuesRead, 7u);
    const TSeriesFileResult shortHex = ParseSeries(Counted("0x10", 15));
    EXPECT_EQ(shortHex.status, SeriesFileStatus::TooFewValues);
    EXPECT_EQ(shortHex.count, 16);
}

TEST(SeriesFileCount, ZeroAndNegativeCountsAreRefusedWithTheirValue)
{
    for (const auto& [text, count] : std::vector<std::pair<std::string, std::int64_t>>{
             {"0", 0}, {"0 1 2", 0}, {"-0", 0}, {"-3 1 2 3", -3}, {"-0x10 1", -16}, {"-010", -8}, {"00", 0}}) {
        const TSeriesFileResult r = ParseSeries(text);
        EXPECT_EQ(r.status, SeriesFileStatus::CountNotPositive) << text;
        EXPECT_EQ(r.count, count) << text;
        EXPECT_TRUE(r.values.empty());
    }
}

TEST(SeriesFileCount, AnythingButAnIntegerCountIsRefused)
{
    EXPECT_EQ(Status(""), SeriesFileStatus::NoCount);
    EXPECT_EQ(Status(" \t\r\n\v\f "), SeriesFileStatus::NoCount);
    // Not a number, or a number that is not an integer or runs into other
    // characters: never split into a count and a first value.
    for (const std::string text : {"abc 1", "x3 1 2 3", "+ 3 1 2 3", "-", "+", "12.0 1 2", "3,0 1 2 3", "3e0 1 2 3",
                                   "3;1 2 3", "08 1 2 3 4 5 6 7 8", "019 1", "0x", "0x 1", "0xg 1", "12abc 1", ".5 1",
                                   "--3 1 2 3", "3-1 2 3"}) {
        const TSeriesFileResult r = ParseSeries(text);
        EXPECT_EQ(r.status, SeriesFileStatus::BadCount) << text;
        EXPECT_TRUE(r.values.empty()) << text;
    }
    // The line of the bad count is reported.
    const TSeriesFileResult r = ParseSeries("\n\n  ten\n1 2");
    EXPECT_EQ(r.status, SeriesFileStatus::BadCount);
    EXPECT_EQ(r.line, 3u);
}

TEST(SeriesFileCount, CountsBeyondThirtyTwoBitsAreRefusedAndHugeCountsAllocateNothingTheFileCannotHold)
{
    for (const std::string text : {"2147483648 1 2", "0x80000000 1", "99999999999999999999999999 1",
                                   "0xFFFFFFFFFFFFFFFFFFFFFFFF 1"}) {
        const TSeriesFileResult r = ParseSeries(text);
        EXPECT_EQ(r.status, SeriesFileStatus::CountTooLarge) << text;
        EXPECT_GT(r.count, std::numeric_limits<std::int32_t>::max()) << text;
    }
    // The largest count that fits, and one of two thousand million, in a
    // tiny file: the reader reports how many values there are instead of
    // reserving room for the count.
    for (const std::string count : {"2147483647", "2000000000", "0x7FFFFFFF"}) {
        const TSeriesFileResult r = ParseSeries(count + " 1.5 2.5 3.5");
        EXPECT_EQ(r.status, SeriesFileStatus::TooFewValues) << count;
        EXPECT_GE(r.count, 2000000000) << count;
        EXPECT_EQ(r.valuesRead, 3u) << count;
        EXPECT_TRUE(r.values.empty());
    }
}

TEST(SeriesFileValues, AnyWhiteSpaceSeparatesAndLinesMeanNothing)
{
    const std::vector<float> expected{1.5f, 2.0f, 2.5f, 2.0f, 1.5f};
    EXPECT_EQ(Values("5\n1.5 2 2.5 2 1.5\n"), expected);
    EXPECT_EQ(Values("5 1.5 2 2.5 2 1.5"), expected);
    EXPECT_EQ(Values("5\n1.5\n2\n2.5\n2\n1.5"), expected);
    EXPECT_EQ(Values("\r\n  5\r\n\t1.5\t\t2\r\n\r\n2.5 \v 2 \f1.5"), expected);
    EXPECT_EQ(Values("5\n1.5 2\n2.5 2 1.5"), expected);
    // A byte-order mark in front of the count is skipped.
    EXPECT_EQ(Values("\xEF\xBB\xBF" "5\n1.5 2 2.5 2 1.5"), expected);
}

TEST(SeriesFileValues, NothingAfterTheLastCountedValueIsRead)
{
    const std::vector<float> expected{4.0f, 5.0f};
    EXPECT_EQ(Values("2 4 5 6 7"), expected);
    EXPECT_EQ(Values("2 4 5\nthis is not a number"), expected);
    EXPECT_EQ(Values("2\n4\n5\n\x01\x02\xff garbage 1,5"s), expected);
    EXPECT_EQ(Values("2 4 5 "s + std::string(1, '\0') + "zzz"), expected);
}

TEST(SeriesFileValues, DecimalNumberFormsRoundToTheNearestFloat)
{
    EXPECT_EQ(Values("11 -1.5 +2 .5 5. 1e3 1E-2 -2.5e+1 007 0.1 -0 1e0"),
              (std::vector<float>{-1.5f, 2.0f, 0.5f, 5.0f, 1000.0f, 0.01f, -25.0f, 7.0f, 0.1f, -0.0f, 1.0f}));
    // Many digits still round to the nearest float.
    EXPECT_EQ(Values("2 0.333333333333333333333333333333 123456789012345678901234567890"),
              (std::vector<float>{1.0f / 3.0f, 1.2345679e29f}));
    EXPECT_EQ(Values("1 0000000000000000000000000000000000000000000012.5"), std::vector<float>{12.5f});
}

TEST(SeriesFileValues, ValuesBeyondTheFloatRangeAreClampedWithTheirSign)
{
    const std::vector<float> v =
        Values("8 1e39 -1e39 3.4028235e38 -3.5e38 1e400 -1e99999999999999999999 "
               "100000000000000000000000000000000000000000000000000 -0.000000000000001e60");
    ASSERT_EQ(v.size(), 8u);
    EXPECT_EQ(v[0], kMax);
    EXPECT_EQ(v[1], -kMax);
    EXPECT_EQ(v[2], kMax);
    EXPECT_EQ(v[3], -kMax);
    EXPECT_EQ(v[4], kMax);
    EXPECT_EQ(v[5], -kMax);
    EXPECT_EQ(v[6], kMax);
    EXPECT_EQ(v[7], -kMax);
    // Values too small for a float become the nearest tiny float or zero,
    // never the largest one.
    const std::vector<float> tiny = Values("4 1e-50 -1e-400 1e-40 1e-99999999999999999999");
    ASSERT_EQ(tiny.size(), 4u);
    EXPECT_EQ(tiny[0], 0.0f);
    EXPECT_EQ(tiny[1], 0.0f);
    EXPECT_TRUE(std::signbit(tiny[1]));
    EXPECT_NEAR(tiny[2], 1e-40, 1e-44);
    EXPECT_GT(tiny[2], 0.0f);
    EXPECT_EQ(tiny[3], 0.0f);
}

TEST(SeriesFileValues, AValueThatIsNotADecimalNumberIsRefusedWithItsPlace)
{
    struct Case {
        std::string text;
        std::uint64_t index;
        std::uint64_t line;
    };
    for (const Case& c : std::vector<Case>{
             {"3 1 x 3", 1, 1},
             {"3\n1\n1,5\n2", 1, 3},
             {"2 1 inf", 1, 1},
             {"2 nan 1", 0, 1},
             {"2 1 1e", 1, 1},
             {"2 1 1e+", 1, 1},
             {"2 . 1", 0, 1},
             {"2 - 1", 0, 1},
             {"2 +-1 1", 0, 1},
             {"2 1.5.5 1", 0, 1},
             {"2 1 0x10", 1, 1},
             {"2 1 2x", 1, 1},
             {"4\n1 2\n\n 3e5e 4", 2, 4},
             {"2 1"s + std::string(1, '\0') + " 2", 0, 1},
             {"2 \xD0\xBE\xD0\xB4\xD0\xB8\xD0\xBD 2", 0, 1},
         }) {
        const TSeriesFileResult r = ParseSeries(c.text);
        EXPECT_EQ(r.status, SeriesFileStatus::BadValue) << c.text;
        EXPECT_EQ(r.valuesRead, c.index) << c.text;
        EXPECT_EQ(r.line, c.line) << c.text;
        EXPECT_TRUE(r.values.empty()) << c.text;
    }
}

TEST(SeriesFileValues, AFileEndingEarlyNamesTheValuesItHolds)
{
    for (const auto& [text, count, held] : std::vector<std::tuple<std::string, std::int64_t, std::uint64_t>>{
             {"5 1 2 3", 5, 3}, {"1", 1, 0}, {"2\n\n", 2, 0}, {"0x3 7 8\n", 3, 2}}) {
        const TSeriesFileResult r = ParseSeries(text);
        EXPECT_EQ(r.status, SeriesFileStatus::TooFewValues) << text;
        EXPECT_EQ(r.count, count) << text;
        EXPECT_EQ(r.valuesRead, held) << text;
        EXPECT_TRUE(r.values.empty()) << text;
    }
}

TEST(SeriesFileValues, ArbitraryBytesNeverGiveMoreOrFewerValuesThanTheCount)
{
    std::mt19937 rng(20240611);
    const std::string alphabet = "0123456789 \n\t.-+eExX,abc\xEF\xBB\xBF";
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        const std::size_t length = rng() % 64;
        const bool anyByte = round % 2 == 0;
        for (std::size_t i = 0; i < length; ++i)
            text.push_back(anyByte ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()]);
        if (round % 3 == 0)
            text = std::to_string(rng() % 5) + " " + text;
        const TSeriesFileResult r = ParseSeries(text);
        if (r.Ok()) {
            ASSERT_GT(r.count, 0);
            ASSERT_EQ(r.values.size(), static_cast<std::size_t>(r.count));
            for (const float v : r.values)
                ASSERT_TRUE(std::isfinite(v));
        } else {
            ASSERT_TRUE(r.values.empty());
        }
    }
}

using SeriesFileOnDisk = TempFolderTest;

TEST_F(SeriesFileOnDisk, ReadsAFileAcrossItsChunksAsItsText)
{
    // About 160 KiB of values, so that numbers straddle the reader's chunks,
    // followed by text that is never looked at.
    const int n = 20000;
    std::string text = std::to_string(n) + "\r\n";
    std::vector<float> expected;
    for (int i = 0; i < n; ++i) {
        const float v = static_cast<float>(i % 977) * 0.125f - 50.0f;
        expected.push_back(v);
        text += std::to_string(v) + (i % 7 == 6 ? "\r\n" : "\t");
    }
    text += "\nthe end";
    const Bytes bytes(text.begin(), text.end());
    WriteBytes(Path("long.ser"), bytes);
    const TSeriesFileResult r = ReadSeriesFile(Path("long.ser"));
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.count, n);
    EXPECT_EQ(r.values, expected);
    EXPECT_EQ(ParseSeries(text).values, expected);
}

TEST_F(SeriesFileOnDisk, FailuresInAFileAreTheSameAsInItsText)
{
    for (const std::string text : {"5 1 2 3", "3 1 x 3", "08 1", "", "0", "2000000000 1 2"}) {
        WriteBytes(Path("bad.ser"), Bytes(text.begin(), text.end()));
        const TSeriesFileResult fromFile = ReadSeriesFile(Path("bad.ser"));
        const TSeriesFileResult fromText = ParseSeries(text);
        EXPECT_EQ(fromFile.status, fromText.status) << text;
        EXPECT_EQ(fromFile.count, fromText.count) << text;
        EXPECT_EQ(fromFile.valuesRead, fromText.valuesRead) << text;
        EXPECT_TRUE(fromFile.values.empty());
    }
}

TEST_F(SeriesFileOnDisk, MissingFilesAndFoldersCannotBeOpened)
{
    EXPECT_EQ(ReadSeriesFile(Path("missing.ser")).status, SeriesFileStatus::CannotOpen);
    EXPECT_EQ(ReadSeriesFile(dir_.string()).status, SeriesFileStatus::CannotOpen);
    EXPECT_EQ(ReadSeriesFile("").status, SeriesFileStatus::CannotOpen);
}

} // namespace
