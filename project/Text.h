#pragma once
// Numbers as the program writes them in its messages and labels, and the
// words that go with counts.

#include <cstdint>
#include <string>

// General format with 15 significant digits: trailing zeros and a bare
// decimal point are dropped (0.5 gives "0.5", 200000000 gives "200000000");
// values below 1E-5 in magnitude or needing more than 15 integer digits are
// written in scientific form ("1E-6", "1.5E20"). The decimal separator is
// the point.
std::string FloatText(double value);

// The form of a Russian noun that goes with a count: `one` after 1, 21, 101…
// (but not 11), `few` after 2–4, 22–24… (but not 12–14), `many` after the
// rest ("1 эпоха", "3 эпохи", "11 эпох", "144 клетки").
const char* PluralForm(std::uint64_t count, const char* one, const char* few, const char* many);
// The count and the form that goes with it: "3 эпохи".
std::string Counted(std::uint64_t count, const char* one, const char* few, const char* many);
