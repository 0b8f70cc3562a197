#pragma once
// Numbers as the program writes them in its messages and labels.

#include <string>

// General format with 15 significant digits: trailing zeros and a bare
// decimal point are dropped (0.5 gives "0.5", 200000000 gives "200000000");
// values below 1E-5 in magnitude or needing more than 15 integer digits are
// written in scientific form ("1E-6", "1.5E20"). The decimal separator is
// the point.
std::string FloatText(double value);
