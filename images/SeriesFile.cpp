#include "images/SeriesFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <memory>
#include <system_error>

#include "images/RegularFile.h"

namespace {

constexpr int kEnd = -1;
// The largest float, 3.4028235e38: values beyond the range become this.
constexpr float kFloatLimit = std::numeric_limits<float>::max();
// Counts are accumulated up to this bound; anything larger is simply "too
// large" and never needs its exact value.
constexpr std::uint64_t kCountSaturation = std::uint64_t{1} << 40;

bool IsSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(int c)
{
    return c >= '0' && c <= '9';
}

// The value of a hexadecimal digit; -1 for any other character.
int DigitValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Characters of a text in memory or of a file read in chunks, one at a time.
class TScanner {
public:
    explicit TScanner(std::string_view text) : pos_(text.data()), end_(text.data() + text.size()) {}
    // Reads the file in chunks, never past `limit` bytes.
    TScanner(std::FILE* file, std::uint64_t limit) : file_(file), limit_(limit), buffer_(kChunk) {}

    // The next character (0..255) without taking it; kEnd at the end of the
    // input or after a read error.
    int Peek()
    {
        if (pos_ == end_ && !Refill())
            return kEnd;
        return static_cast<unsigned char>(*pos_);
    }
    // Takes the character Peek returned; only after Peek gave one.
    void Advance()
    {
        ++pos_;
        ++consumed_;
    }
    void SkipSpace()
    {
        for (int c = Peek(); IsSpace(c); c = Peek()) {
            if (c == '\n')
                ++line_;
            Advance();
        }
    }

    bool Failed() const { return failed_; }
    std::uint64_t Consumed() const { return consumed_; }
    std::uint64_t Line() const { return line_; }

private:
    static constexpr std::size_t kChunk = 64 * 1024;

    bool Refill()
    {
        if (!file_ || failed_)
            return false;
        const std::size_t got = ReadAtMost(file_, buffer_.data(), buffer_.size(), limit_, read_);
        if (got == 0) {
            failed_ = std::ferror(file_) != 0;
            return false;
        }
        pos_ = buffer_.data();
        end_ = pos_ + got;
        return true;
    }

    const char* pos_ = nullptr;
    const char* end_ = nullptr;
    std::FILE* file_ = nullptr;
    std::uint64_t limit_ = 0;
    std::uint64_t read_ = 0;
    std::vector<char> buffer_;
    bool failed_ = false;
    std::uint64_t consumed_ = 0;
    std::uint64_t line_ = 1;
};

// True when the number just read is followed by white space or the end.
bool AtDelimiter(TScanner& in)
{
    const int c = in.Peek();
    return c == kEnd || IsSpace(c);
}

// Skips a UTF-8 byte-order mark. A lone first byte of one is taken too: the
// count check then refuses what follows.
void SkipByteOrderMark(TScanner& in)
{
    for (const int expected : {0xEF, 0xBB, 0xBF}) {
        if (in.Peek() != expected)
            return;
        in.Advance();
    }
}

// The count at the start of the file, into result.count; the status tells
// whether one was read.
SeriesFileStatus ReadCount(TScanner& in, TSeriesFileResult& result)
{
    in.SkipSpace();
    result.line = in.Line();
    int c = in.Peek();
    if (c == kEnd)
        return SeriesFileStatus::NoCount;
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        in.Advance();
        c = in.Peek();
    }
    if (!IsDigit(c))
        return SeriesFileStatus::BadCount;
    int base = 10;
    bool anyDigit = false;
    if (c == '0') {
        in.Advance();
        c = in.Peek();
        if (c == 'x' || c == 'X') {
            in.Advance();
            c = in.Peek();
            base = 16;
        } else {
            base = 8;
            anyDigit = true; // the 0 itself
        }
    }
    std::uint64_t value = 0;
    for (int d = DigitValue(c); d >= 0 && d < base; d = DigitValue(c)) {
        value = std::min(value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d),
                         kCountSaturation);
        anyDigit = true;
        in.Advance();
        c = in.Peek();
    }
    if (!anyDigit || !AtDelimiter(in))
        return SeriesFileStatus::BadCount;
    result.count = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
    return SeriesFileStatus::Ok;
}

// The decimal exponent of the leading non-zero digit of a number in the form
// ReadValue collects ("-12.5e3" gives 4); 0 for a number that is zero.
std::int64_t LeadingExponent(std::string_view number)
{
    constexpr std::int64_t kExponentBound = std::int64_t{1} << 40;
    std::size_t i = number.empty() || number[0] != '-' ? 0 : 1;
    std::int64_t integerDigits = 0;
    std::int64_t leading = 0;
    bool found = false;
    for (; i < number.size() && IsDigit(number[i]); ++i) {
        found = found || number[i] != '0';
        if (found)
            ++integerDigits;
    }
    if (found)
        leading = integerDigits - 1;
    if (i < number.size() && number[i] == '.') {
        ++i;
        for (std::int64_t k = 0; i < number.size() && IsDigit(number[i]); ++i, ++k)
            if (!found && number[i] != '0') {
                found = true;
                leading = -(k + 1);
            }
    }
    if (!found)
        return 0;
    std::int64_t exponent = 0;
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < number.size() && (number[i] == '+' || number[i] == '-'))
            negative = number[i++] == '-';
        for (; i < number.size() && IsDigit(number[i]); ++i)
            exponent = std::min(exponent * 10 + (number[i] - '0'), kExponentBound);
        if (negative)
            exponent = -exponent;
    }
    return leading + exponent;
}

// The float nearest to a number collected by ReadValue; beyond the float
// range the largest float with the number's sign. False if the text is not
// a number after all.
bool ToFloat(std::string_view number, float& value)
{
    const char* first = number.data();
    const char* last = first + number.size();
    const auto parsed = std::from_chars(first, last, value, std::chars_format::general);
    if (parsed.ec == std::errc() && parsed.ptr == last)
        return true;
    if (parsed.ec != std::errc::result_out_of_range)
        return false;
    const bool negative = number[0] == '-';
    if (LeadingExponent(number) > 0) {
        value = negative ? -kFloatLimit : kFloatLimit;
        return true;
    }
    // Below the smallest float: the nearest tiny float, or zero.
    double tiny = 0.0;
    const auto again = std::from_chars(first, last, tiny, std::chars_format::general);
    if (again.ec == std::errc() && again.ptr == last)
        value = static_cast<float>(tiny);
    else
        value = negative ? -0.0f : 0.0f;
    return true;
}

// One value at the cursor: optional sign, digits with an optional point
// and fraction (at least one digit in all), optional exponent with at least
// one digit, then white space or the end.
bool ReadValue(TScanner& in, std::string& number, float& value)
{
    number.clear();
    int c = in.Peek();
    if (c == '+' || c == '-') {
        if (c == '-')
            number.push_back('-');
        in.Advance();
        c = in.Peek();
    }
    std::size_t digits = 0;
    for (; IsDigit(c); c = in.Peek(), ++digits) {
        number.push_back(static_cast<char>(c));
        in.Advance();
    }
    if (c == '.') {
        number.push_back('.');
        in.Advance();
        c = in.Peek();
        for (; IsDigit(c); c = in.Peek(), ++digits) {
            number.push_back(static_cast<char>(c));
            in.Advance();
        }
    }
    if (digits == 0)
        return false;
    if (c == 'e' || c == 'E') {
        number.push_back('e');
        in.Advance();
        c = in.Peek();
        if (c == '+' || c == '-') {
            number.push_back(static_cast<char>(c));
            in.Advance();
            c = in.Peek();
        }
        std::size_t exponentDigits = 0;
        for (; IsDigit(c); c = in.Peek(), ++exponentDigits) {
            number.push_back(static_cast<char>(c));
            in.Advance();
        }
        if (exponentDigits == 0)
            return false;
    }
    return AtDelimiter(in) && ToFloat(number, value);
}

TSeriesFileResult Fail(TSeriesFileResult& result, SeriesFileStatus status)
{
    result.status = status;
    result.values.clear();
    result.values.shrink_to_fit();
    return std::move(result);
}

// Reads the whole series; `size` is the number of bytes of the input.
TSeriesFileResult Read(TScanner& in, std::uint64_t size)
{
    TSeriesFileResult result;
    SkipByteOrderMark(in);
    const SeriesFileStatus countStatus = ReadCount(in, result);
    if (in.Failed())
        return Fail(result, SeriesFileStatus::CannotOpen);
    if (countStatus != SeriesFileStatus::Ok)
        return Fail(result, countStatus);
    if (result.count <= 0)
        return Fail(result, SeriesFileStatus::CountNotPositive);
    if (result.count > std::numeric_limits<std::int32_t>::max())
        return Fail(result, SeriesFileStatus::CountTooLarge);

    const auto count = static_cast<std::uint64_t>(result.count);
    // Every value takes at least two bytes: a separator and a digit.
    const std::uint64_t room = size > in.Consumed() ? (size - in.Consumed()) / 2 : 0;
    result.values.reserve(static_cast<std::size_t>(std::min(count, room)));

    std::string number;
    for (std::uint64_t i = 0; i < count; ++i) {
        in.SkipSpace();
        result.valuesRead = i;
        result.line = in.Line();
        if (in.Peek() == kEnd)
            return Fail(result, in.Failed() ? SeriesFileStatus::CannotOpen : SeriesFileStatus::TooFewValues);
        float value = 0.0f;
        if (!ReadValue(in, number, value))
            return Fail(result, in.Failed() ? SeriesFileStatus::CannotOpen : SeriesFileStatus::BadValue);
        result.values.push_back(value);
    }
    result.valuesRead = count;
    result.line = 0;
    return result;
}

} // namespace

TSeriesFileResult ParseSeries(std::string_view text)
{
    TScanner in(text);
    return Read(in, text.size());
}

TSeriesFileResult ReadSeriesFile(const std::string& fileName)
{
    const TRegularFile file = OpenRegularFile(fileName);
    if (!file.file) {
        TSeriesFileResult cannotOpen;
        cannotOpen.status = SeriesFileStatus::CannotOpen;
        cannotOpen.openError = file.error;
        return cannotOpen;
    }
    TScanner in(file.file.get(), file.size);
    return Read(in, file.size);
}
