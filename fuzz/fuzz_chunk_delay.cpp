// The number test of the chunk delay box and its rounding: a value exactly for the decimal
// grammar, the same value as strtod on plain numbers, and a rounding that stays within half a
// unit, breaks ties to even and keeps the box's range.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/decimal_number.h"
#include "fuzz/fuzz_check.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Blank(char c) { return c == ' ' || c == '\t'; }

// blanks, [sign], digits[.digits] or .digits, [e[sign]digits], blanks. On a match, `core` is
// the number without the blanks and `plain` tells whether it has no exponent.
bool Grammar(const std::string& t, std::string& core, bool& plain) {
    std::size_t i = 0;
    const std::size_t n = t.size();
    while (i < n && Blank(t[i])) ++i;
    const std::size_t start = i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < n && Digit(t[i])) ++i, ++digits;
    if (i < n && t[i] == '.') {
        ++i;
        while (i < n && Digit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    plain = true;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        plain = false;
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t exponent = 0;
        while (i < n && Digit(t[i])) ++i, ++exponent;
        if (exponent == 0) return false;
    }
    core = t.substr(start, i - start);
    while (i < n && Blank(t[i])) ++i;
    return i == n;
}

void CheckRounding(double v) {
    const long long r = RoundHalfEven(v);
    FUZZ_CHECK(r >= -9'000'000'000'000'000'000LL && r <= 9'000'000'000'000'000'000LL);
    if (std::isnan(v)) FUZZ_CHECK(r == 0);
    if (std::isfinite(v) && std::fabs(v) < 9.0e18) {
        const double off = std::fabs(static_cast<double>(r) - v);
        FUZZ_CHECK(off <= 0.5);
        if (off == 0.5) FUZZ_CHECK(r % 2 == 0);
    }
    if (v >= 0 && v <= 1000) FUZZ_CHECK(r >= 0 && r <= 1000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The box's text as UTF-8 bytes: letters beyond ASCII are bytes the reader must refuse.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<double> number = ReadDecimalNumber(text);
    std::string core;
    bool plain = false;
    FUZZ_CHECK(number.has_value() == Grammar(text, core, plain));
    if (number) {
        CheckRounding(*number);
        if (plain && core.size() <= 40) {
            FUZZ_CHECK(*number == std::strtod(core.c_str(), nullptr));
        }
    }

    // Any double, the odd ones included.
    if (size >= sizeof(double)) {
        double v;
        std::memcpy(&v, data, sizeof v);
        CheckRounding(v);
    }
    return 0;
}
