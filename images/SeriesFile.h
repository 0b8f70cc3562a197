#pragma once
// Time-series files (extension "ser"): text holding a value count followed by
// that many values, all separated by white space (blanks, tabs, line breaks;
// lines carry no meaning).
//
// The count is an integer with an optional sign: hexadecimal after "0x" or
// "0X", octal after any other leading 0 (so 010 is eight), decimal otherwise.
// Each value is a decimal floating-point number (optional sign, digits,
// optional point and fraction, optional exponent) rounded to a 32-bit float;
// values beyond the float range become +-3.4028235e38. Nothing after the
// N-th value is read. A UTF-8 byte-order mark at the start is skipped.
//
// Every number must end at white space or at the end of the file, so that a
// count written "12.0" or a value written "1,5" is refused instead of being
// split into two numbers. The reader never allocates more values than the
// bytes of the file could hold, whatever the count claims.
//
// Only a regular file is read (see OpenRegularFile), and no further than the
// size it had when it was opened.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "images/RegularFile.h"

enum class SeriesFileStatus {
    Ok,
    CannotOpen,       // the file cannot be opened (see openError) or read
    NoCount,          // the file is empty or holds only white space
    BadCount,         // the first number is not an integer count
    CountNotPositive, // the count is 0 or negative
    CountTooLarge,    // the count does not fit in 32 signed bits
    TooFewValues,     // the file ends before the count's values
    BadValue,         // a value cannot be read as a number
};

struct TSeriesFileResult {
    SeriesFileStatus status = SeriesFileStatus::Ok;
    // The count as written (saturated far beyond the 32-bit range); 0 when
    // none was read.
    std::int64_t count = 0;
    // Values read before the reading stopped: with TooFewValues all the
    // values the file holds, with BadValue the index of the bad one.
    std::uint64_t valuesRead = 0;
    // Line (from 1) of the number that could not be read (BadCount, BadValue).
    std::uint64_t line = 0;
    // The `count` values when status is Ok; empty otherwise.
    std::vector<float> values;
    // Why the file could not be opened; None when it was, or when it was
    // opened but could not be read (status CannotOpen all the same).
    TFileOpenError openError = TFileOpenError::None;

    bool Ok() const { return status == SeriesFileStatus::Ok; }
};

// Reads a series from the text of a file.
TSeriesFileResult ParseSeries(std::string_view text);

// Reads a series file. Reading stops after the N-th value: the rest of the
// file is never read.
TSeriesFileResult ReadSeriesFile(const std::string& fileName);
