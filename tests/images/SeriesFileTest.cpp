// The series file reader: the forms of the count and of the values, where
// reading stops, and every way a file is refused. (Arbitrary bytes are the
// fuzz target's.)

#include <cmath>
#include <limits>
#include <tuple>

#include "images/SeriesFile.h"
#include "TempFiles.h"

namespace {

using std::string_literals::operator""s;
using Status = SeriesFileStatus;
constexpr float kMax = std::numeric_limits<float>::max();

std::vector<float> Values(const std::string& text)
{
    const TSeriesFileResult r = ParseSeries(text);
    EXPECT_TRUE(r.Ok()) << "status " << static_cast<int>(r.status) << " for: " << text;
    return r.values;
}

// A count followed by the values 1 .. n.
std::string Counted(const std::string& count, int n)
{
    std::string text = count + "\n";
    for (int i = 1; i <= n; ++i)
        text += std::to_string(i) + " ";
    return text;
}

TEST(SeriesFileCount, DecimalOctalAndHexadecimalWithOptionalSign)
{
    for (const auto& [count, n] : std::vector<std::pair<std::string, int>>{
             {"3", 3}, {"+3", 3}, {"010", 8}, {"0017", 15}, {"0x10", 16}, {"0X1a", 26}, {"0xFf", 255}}) {
        EXPECT_EQ(Values(Counted(count, n)).size(), static_cast<std::size_t>(n)) << count;
        // One value fewer is too few: the count means exactly n.
        const TSeriesFileResult shorter = ParseSeries(Counted(count, n - 1));
        EXPECT_EQ(shorter.status, Status::TooFewValues) << count;
        EXPECT_EQ(shorter.count, n);
        EXPECT_EQ(shorter.valuesRead, static_cast<std::uint64_t>(n - 1));
        EXPECT_TRUE(shorter.values.empty());
    }
}

TEST(SeriesFileCount, RefusedCountsWithTheirReason)
{
    for (const auto& [text, status, count] : std::vector<std::tuple<std::string, Status, std::int64_t>>{
             {"", Status::NoCount, 0}, {" \t\r\n\v\f ", Status::NoCount, 0},
             {"0 1 2", Status::CountNotPositive, 0}, {"-0", Status::CountNotPositive, 0},
             {"-3 1 2 3", Status::CountNotPositive, -3}, {"-0x10 1", Status::CountNotPositive, -16},
             {"2147483648 1 2", Status::CountTooLarge, 2147483648},
             {"0x80000000 1", Status::CountTooLarge, 2147483648}}) {
        const TSeriesFileResult r = ParseSeries(text);
        EXPECT_EQ(r.status, status) << text;
        EXPECT_EQ(r.count, count) << text;
    }
    EXPECT_EQ(ParseSeries("99999999999999999999999999 1").status, Status::CountTooLarge);
    // Not an integer, or running into other characters: never split into a
    // count and a first value.
    for (const std::string text : {"abc 1", "+ 3 1 2 3", "-", "12.0 1 2", "3,0 1 2 3", "3e0 1 2 3", "3;1 2 3",
                                   "08 1 2 3 4 5 6 7 8", "0x", "0xg 1", ".5 1", "--3 1", "3-1 2 3"})
        EXPECT_EQ(ParseSeries(text).status, Status::BadCount) << text;
    EXPECT_EQ(ParseSeries("\n\n  ten\n1 2").line, 3u);
    // A huge count in a tiny file: the values present are counted, and no
    // room is taken for the ones announced.
    for (const std::string count : {"2147483647", "2000000000"}) {
        const TSeriesFileResult r = ParseSeries(count + " 1.5 2.5 3.5");
        EXPECT_EQ(r.status, Status::TooFewValues);
        EXPECT_EQ(r.valuesRead, 3u);
    }
}

TEST(SeriesFileValues, WhiteSpaceSeparatesAndNothingAfterTheLastValueIsRead)
{
    const std::vector<float> five{1.5f, 2.0f, 2.5f, 2.0f, 1.5f};
    for (const std::string& text : std::vector<std::string>{
             "5\n1.5 2 2.5 2 1.5\n", "5 1.5 2 2.5 2 1.5", "\r\n  5\r\n\t1.5\t\t2\r\n\r\n2.5 \v 2 \f1.5",
             "\xEF\xBB\xBF" "5\n1.5 2 2.5 2 1.5", "5 1.5 2 2.5 2 1.5 6 7", "5 1.5 2 2.5 2 1.5\n\x01\xff garbage 1,5",
             "5 1.5 2 2.5 2 1.5 "s + '\0' + "zz"})
        EXPECT_EQ(Values(text), five) << text;
}

TEST(SeriesFileValues, DecimalFormsRoundToTheNearestFloatAndClampBeyondItsRange)
{
    EXPECT_EQ(Values("12 -1.5 +2 .5 5. 1e3 1E-2 -2.5e+1 007 0.1 1e0 0.333333333333333333333 0000012.5"),
              (std::vector<float>{-1.5f, 2.0f, 0.5f, 5.0f, 1000.0f, 0.01f, -25.0f, 7.0f, 0.1f, 1.0f, 1.0f / 3.0f,
                                  12.5f}));
    EXPECT_EQ(Values("7 1e39 -1e39 3.4028235e38 -3.5e38 1e400 -1e99999999999999999999 "
                     "-0.000000000000001e60"),
              (std::vector<float>{kMax, -kMax, kMax, -kMax, kMax, -kMax, -kMax}));
    // Too small for a float: the nearest tiny float or zero, never the limit.
    const std::vector<float> tiny = Values("3 1e-50 -1e-400 1e-40");
    EXPECT_EQ(tiny[0], 0.0f);
    EXPECT_EQ(tiny[1], 0.0f);
    EXPECT_TRUE(std::signbit(tiny[1]));
    EXPECT_NEAR(tiny[2], 1e-40, 1e-44);
}

TEST(SeriesFileValues, BadValuesAreRefusedWithTheirNumberAndLine)
{
    for (const auto& [text, index, line] : std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>>{
             {"3 1 x 3", 1, 1}, {"3\n1\n1,5\n2", 1, 3}, {"2 1 inf", 1, 1}, {"2 nan 1", 0, 1}, {"2 1 1e", 1, 1},
             {"2 1 1e+", 1, 1}, {"2 . 1", 0, 1}, {"2 +-1 1", 0, 1}, {"2 1.5.5 1", 0, 1}, {"2 1 0x10", 1, 1},
             {"2 1 2x", 1, 1}, {"4\n1 2\n\n 3e5e 4", 2, 4}, {"2 1"s + '\0' + " 2", 0, 1}}) {
        const TSeriesFileResult r = ParseSeries(text);
        EXPECT_EQ(r.status, Status::BadValue) << text;
        EXPECT_EQ(r.valuesRead, index) << text;
        EXPECT_EQ(r.line, line) << text;
        EXPECT_TRUE(r.values.empty());
    }
}

using SeriesFileOnDisk = TempFolderTest;

TEST_F(SeriesFileOnDisk, AFileReadsAsItsTextAcrossChunksAndMissingFilesCannotBeOpened)
{
    // About 160 KiB, so that numbers straddle the reader's chunks.
    std::string text = "20000\r\n";
    std::vector<float> expected;
    for (int i = 0; i < 20000; ++i) {
        expected.push_back(static_cast<float>(i % 977) * 0.125f - 50.0f);
        text += std::to_string(expected.back()) + (i % 7 == 6 ? "\r\n" : "\t");
    }
    WriteBytes(Path("long.ser"), Bytes(text.begin(), text.end()));
    EXPECT_EQ(ReadSeriesFile(Path("long.ser")).values, expected);
    const std::string bad = "5 1 2 x";
    WriteBytes(Path("bad.ser"), Bytes(bad.begin(), bad.end()));
    const TSeriesFileResult r = ReadSeriesFile(Path("bad.ser"));
    EXPECT_EQ(r.status, Status::BadValue);
    EXPECT_EQ(r.valuesRead, 2u);
    for (const std::string& name : {Path("missing.ser"), dir_.string(), ""s})
        EXPECT_EQ(ReadSeriesFile(name).status, Status::CannotOpen) << name;
}

} // namespace
