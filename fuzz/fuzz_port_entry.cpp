// The port entry "comN:settings" is taken apart with FieldBefore, FieldAfter and DigitsOnly:
// the two fields and the delimiter make the text again, and DigitsOnly keeps exactly the digits.
#include <algorithm>
#include <string>

#include "fuzz/fuzz_check.h"
#include "logs/text_utils.h"

using namespace corvane;
using namespace corvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string input = BytesOf(data, size);
    // The first byte chooses the delimiter's length (0 to 3), the next ones are it.
    const size_t length = data[0] % 4;
    const std::string delimiter = input.substr(1, length);
    const std::string text = input.substr(std::min(1 + length, size));

    const std::string before = FieldBefore(text, delimiter);
    const std::string after = FieldAfter(text, delimiter);
    if (delimiter.empty()) {
        FUZZ_CHECK(before.empty());
        FUZZ_CHECK(after == text);
    } else if (text.find(delimiter) != std::string::npos) {
        FUZZ_CHECK(before + delimiter + after == text);
        FUZZ_CHECK(before.find(delimiter) == std::string::npos);  // the first delimiter splits
    } else {
        FUZZ_CHECK(before == text);
        FUZZ_CHECK(after.empty());
    }

    const std::string digits = DigitsOnly(text);
    std::string expected;
    for (const char c : text)
        if (c >= '0' && c <= '9') expected.push_back(c);
    FUZZ_CHECK(digits == expected);
    FUZZ_CHECK(DigitsOnly(digits) == digits);

    // An entry made of a number and any settings text comes apart into exactly those.
    const std::string entry = "com" + digits + ':' + text;
    FUZZ_CHECK(FieldBefore(entry, ":") == "com" + digits);
    FUZZ_CHECK(DigitsOnly(FieldBefore(entry, ":")) == digits);
    FUZZ_CHECK(FieldAfter(entry, ":") == text);
    return 0;
}
