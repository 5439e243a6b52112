// The number test of the chunk delay box and its rounding: a value exactly for the decimal
// grammar, the same value as strtod on plain numbers, and a rounding that stays within half a
// unit, breaks ties to even and keeps the box's range.
#include <QString>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/settings_controls.h"
#include "fuzz/fuzz_check.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

bool Digit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }
bool Blank(QChar c) { return c == u' ' || c == u'\t'; }

// blanks, [sign], digits[.digits] or .digits, [e[sign]digits], blanks. On a match, `core` is
// the number without the blanks and `plain` tells whether it has no exponent.
bool Grammar(const QString& t, QString& core, bool& plain) {
    qsizetype i = 0;
    const qsizetype n = t.size();
    while (i < n && Blank(t[i])) ++i;
    const qsizetype start = i;
    if (i < n && (t[i] == u'+' || t[i] == u'-')) ++i;
    qsizetype digits = 0;
    while (i < n && Digit(t[i])) ++i, ++digits;
    if (i < n && t[i] == u'.') {
        ++i;
        while (i < n && Digit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    plain = true;
    if (i < n && (t[i] == u'e' || t[i] == u'E')) {
        plain = false;
        ++i;
        if (i < n && (t[i] == u'+' || t[i] == u'-')) ++i;
        qsizetype exponent = 0;
        while (i < n && Digit(t[i])) ++i, ++exponent;
        if (exponent == 0) return false;
    }
    core = t.mid(start, i - start);
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

// The box's text: the input read as UTF-8, so the reader also sees letters beyond ASCII.
QString TextOf(const uint8_t* data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = TextOf(data, size);
    const std::optional<double> number = ReadDecimalNumber(text);
    QString core;
    bool plain = false;
    FUZZ_CHECK(number.has_value() == Grammar(text, core, plain));
    if (number) {
        CheckRounding(*number);
        if (plain && core.size() <= 40) {
            const QByteArray ascii = core.toLatin1();
            FUZZ_CHECK(*number == std::strtod(ascii.constData(), nullptr));
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
