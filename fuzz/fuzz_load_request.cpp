// The terminal's load-file request and its lenient number reader, against a plain reading:
// blanks, an optional sign, the digits up to the first other character, limited to the range
// of an int.
#include <algorithm>
#include <climits>
#include <string>

#include "fuzz/fuzz_check.h"
#include "relay/pump.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

int ReferenceNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    int sign = 1;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) sign = text[i++] == '-' ? -1 : 1;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL << 40);
    return static_cast<int>(std::clamp<long long>(sign * value, INT_MIN, INT_MAX));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = BytesOf(data, size);
    FUZZ_CHECK(LenientNumber(text) == ReferenceNumber(text));

    const std::optional<int> request = LoadFileRequestOf(text);
    if (size == 4 && data[0] == 'L') {
        FUZZ_CHECK(request.has_value());
        FUZZ_CHECK(*request == ReferenceNumber(text.substr(1, 2)));
        FUZZ_CHECK(*request >= -9 && *request <= 99);
    } else {
        FUZZ_CHECK(!request.has_value());
    }
    // Every two-digit request names its file.
    if (size >= 2) {
        const int number = (data[0] % 10) * 10 + data[1] % 10;
        const std::string asked =
            "L" + std::string(number < 10 ? "0" : "") + std::to_string(number) + "\r";
        FUZZ_CHECK(LoadFileRequestOf(asked) == number);
    }
    return 0;
}
