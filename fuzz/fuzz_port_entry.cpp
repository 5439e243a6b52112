// The port entry "comN:settings" is taken apart with FieldBefore, FieldAfter and DigitsOnly:
// the two fields and the delimiter make the text again, and DigitsOnly keeps exactly the digits.
#include "fuzz/fuzz_check.h"
#include "logs/text_utils.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

bool IsDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = TextOf(data, size);
    if (input.isEmpty()) return 0;
    // The first character chooses the delimiter's length (0 to 3), the next ones are it.
    const qsizetype length = input[0].unicode() % 4;
    const QString delimiter = input.mid(1, length);
    const QString text = input.mid(1 + length);

    const QString before = FieldBefore(text, delimiter);
    const QString after = FieldAfter(text, delimiter);
    if (delimiter.isEmpty()) {
        FUZZ_CHECK(before.isEmpty());
        FUZZ_CHECK(after == text);
    } else if (text.contains(delimiter)) {
        FUZZ_CHECK(before + delimiter + after == text);
        FUZZ_CHECK(!before.contains(delimiter));  // the first delimiter splits
    } else {
        FUZZ_CHECK(before == text);
        FUZZ_CHECK(after.isEmpty());
    }

    const QString digits = DigitsOnly(text);
    QString expected;
    for (QChar c : text)
        if (IsDigit(c)) expected += c;
    FUZZ_CHECK(digits == expected);
    FUZZ_CHECK(DigitsOnly(digits) == digits);

    // An entry made of a number and any settings text comes apart into exactly those.
    const QString entry = QStringLiteral("com") + digits + u':' + text;
    FUZZ_CHECK(FieldBefore(entry, QStringLiteral(":")) == QStringLiteral("com") + digits);
    FUZZ_CHECK(DigitsOnly(FieldBefore(entry, QStringLiteral(":"))) == digits);
    FUZZ_CHECK(FieldAfter(entry, QStringLiteral(":")) == text);
    return 0;
}
