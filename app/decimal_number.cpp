#include "app/decimal_number.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace corvane {

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<double> ReadDecimalNumber(std::string_view text) {
    std::size_t at = 0;
    std::size_t end = text.size();
    while (at < end && Blank(text[at])) ++at;
    while (end > at && Blank(text[end - 1])) --end;
    const std::string_view number = text.substr(at, end - at);
    // [+-]? (digits [. digits?] | . digits) ([eE][+-]? digits)?
    std::size_t i = 0;
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
    std::size_t whole = 0;
    while (i < number.size() && Digit(number[i])) ++i, ++whole;
    std::size_t fraction = 0;
    if (i < number.size() && number[i] == '.') {
        ++i;
        while (i < number.size() && Digit(number[i])) ++i, ++fraction;
    }
    if (whole == 0 && fraction == 0) return std::nullopt;
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
        std::size_t exponent = 0;
        while (i < number.size() && Digit(number[i])) ++i, ++exponent;
        if (exponent == 0) return std::nullopt;
    }
    if (i != number.size()) return std::nullopt;
    // The form is checked above (strtod reads it alike: the program keeps the C locale). An
    // overflowing exponent reads as an infinity, an underflowing one as zero: both are numbers.
    const double value = std::strtod(std::string(number).c_str(), nullptr);
    return value;
}

long long RoundHalfEven(double value) {
    if (std::isnan(value)) return 0;
    constexpr double kLimit = 9.0e18;
    if (value >= kLimit) return static_cast<long long>(kLimit);
    if (value <= -kLimit) return -static_cast<long long>(kLimit);
    const double lower = std::floor(value);
    const double rest = value - lower;
    long long result = static_cast<long long>(lower);
    if (rest > 0.5 || (rest == 0.5 && (result % 2 != 0))) ++result;
    return result;
}

}  // namespace corvane
