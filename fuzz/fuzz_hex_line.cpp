// The hex byte line of the send rows: any text is read exactly as a plain reading of the
// grammar says, and bytes written as a hex line read back as the same bytes.
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "relay/manual_send.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Tokens at single blanks; each one or more hex digits (leading zeros allowed) worth 0..FF.
std::optional<std::string> Reference(const std::string& text) {
    std::string bytes;
    if (text.empty()) return bytes;
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < text.size() && text[end] != ' ') ++end;
        if (end == start) return std::nullopt;
        size_t first = start;
        while (first < end - 1 && text[first] == '0') ++first;
        int value = 0;
        for (size_t i = start; i < end; ++i)
            if (HexDigit(text[i]) < 0) return std::nullopt;
        if (end - first > 2) return std::nullopt;
        for (size_t i = first; i < end; ++i) value = value * 16 + HexDigit(text[i]);
        bytes.push_back(static_cast<char>(value));
        if (end == text.size()) return bytes;
        start = end + 1;
    }
}

std::string HexLine(const std::string& bytes, bool upper, bool padded) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string line;
    for (const char c : bytes) {
        const auto value = static_cast<unsigned char>(c);
        if (!line.empty()) line.push_back(' ');
        if (padded || value >= 16) line.push_back(digits[value >> 4]);
        line.push_back(digits[value & 15]);
    }
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = BytesOf(data, size);
    const std::optional<std::string> parsed = ParseHexLine(text);
    const std::optional<std::string> expected = Reference(text);
    FUZZ_CHECK(parsed.has_value() == expected.has_value());
    if (parsed) {
        FUZZ_CHECK(*parsed == *expected);
        FUZZ_CHECK(ParseHexLine(HexLine(*parsed, false, true)) == parsed);
        FUZZ_CHECK(ParseHexLine(HexLine(*parsed, true, false)) == parsed);
    }

    // Every byte value survives the way out and back.
    FUZZ_CHECK(ParseHexLine(HexLine(text, size % 2 == 0, size % 3 == 0)) == text);
    return 0;
}
