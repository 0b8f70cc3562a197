#pragma once
// The image range error: raised by the grid accessors and operations when a
// coordinate or window lies outside the grid, before any cell is touched.
// The windows catch it and show its text, then the follow-up text.

#include <stdexcept>

// Text of the first error box.
inline constexpr const char* RangeErrorText = "exp: OVERFLOW error";
// Text the framework shows after the first box is dismissed.
inline constexpr const char* RangeErrorFollowUpText = "Invalid floating point operation";

class ERangeError : public std::runtime_error {
public:
    ERangeError() : std::runtime_error(RangeErrorText) {}
};
