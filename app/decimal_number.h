// The number test and rounding of the chunk delay box, shared by both windows: no toolkit.
#pragma once

#include <optional>
#include <string_view>

namespace corvane {

// A decimal number with optional sign, fraction and exponent, blanks (spaces and tabs)
// around it allowed; no value for anything else, an empty text included.
std::optional<double> ReadDecimalNumber(std::string_view text);
// Rounds to the nearest integer, a half to the even neighbour; a value beyond the range of
// long long gives that range's nearest end, a NaN 0.
long long RoundHalfEven(double value);

}  // namespace corvane
