#include "links/line_settings.h"

#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

#include "logs/text_utils.h"

namespace corvane {

namespace {

// The rates termios names on Linux (B50 .. B4000000); "134" stands for 134.5 baud.
constexpr std::array<int, 30> kRates = {
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(sep, from);
        if (at == std::string::npos) break;
        fields.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    fields.push_back(text.substr(from));
    return fields;
}

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<LineSettings> Fail(std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return std::nullopt;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(const std::string& text, std::string* why) {
    if (Trimmed(text).empty())
        return Fail(why, "no line settings given (expected e.g. \"2400,e,7,1\")");

    const std::vector<std::string> fields = Split(text, ',');
    if (fields.size() != 4)
        return Fail(why, fmt::format("\"{}\" has {} field(s); line settings are baud rate, "
                                     "parity, data bits and stop bits, e.g. \"2400,e,7,1\"",
                                     text, fields.size()));

    const std::string baudText = Trimmed(fields[0]);
    const std::string parityText = Trimmed(fields[1]);
    const std::string dataText = Trimmed(fields[2]);
    const std::string stopText = Trimmed(fields[3]);

    LineSettings s;

    if (baudText.empty()) return Fail(why, "the baud rate is missing");
    if (!AllDigits(baudText))
        return Fail(why, fmt::format("baud rate \"{}\" is not a number", baudText));
    long long baud = 0;
    const auto [end, error] =
        std::from_chars(baudText.data(), baudText.data() + baudText.size(), baud);
    const bool ok = error == std::errc() && end == baudText.data() + baudText.size();
    if (!ok || baud <= 0 || std::find(kRates.begin(), kRates.end(), baud) == kRates.end())
        return Fail(why, fmt::format("baud rate {} is not supported (standard rates 50 to "
                                     "4000000, e.g. 1200, 2400, 9600)",
                                     baudText));
    s.baud = static_cast<int>(baud);

    if (parityText.empty()) return Fail(why, "the parity letter is missing");
    const std::string badParity =
        fmt::format("parity \"{}\" is not one of n, e, o, m, s", parityText);
    if (parityText.size() != 1) return Fail(why, badParity);
    switch (parityText[0]) {
        case 'n':
        case 'N':
            s.parity = Parity::None;
            break;
        case 'e':
        case 'E':
            s.parity = Parity::Even;
            break;
        case 'o':
        case 'O':
            s.parity = Parity::Odd;
            break;
        case 'm':
        case 'M':
            s.parity = Parity::Mark;
            break;
        case 's':
        case 'S':
            s.parity = Parity::Space;
            break;
        default:
            return Fail(why, badParity);
    }

    if (dataText.empty()) return Fail(why, "the number of data bits is missing");
    if (dataText.size() != 1 || dataText[0] < '5' || dataText[0] > '8')
        return Fail(why, fmt::format("data bits \"{}\" must be 5, 6, 7 or 8", dataText));
    s.dataBits = dataText[0] - '0';

    if (stopText.empty()) return Fail(why, "the number of stop bits is missing");
    if (stopText == "1")
        s.stopHalves = 2;
    else if (stopText == "1.5")
        s.stopHalves = 3;
    else if (stopText == "2")
        s.stopHalves = 4;
    else
        return Fail(why, fmt::format("stop bits \"{}\" must be 1, 1.5 or 2", stopText));

    return s;
}

std::string FormatLineSettings(const LineSettings& settings) {
    char parity = 'n';
    switch (settings.parity) {
        case Parity::None:
            parity = 'n';
            break;
        case Parity::Even:
            parity = 'e';
            break;
        case Parity::Odd:
            parity = 'o';
            break;
        case Parity::Mark:
            parity = 'm';
            break;
        case Parity::Space:
            parity = 's';
            break;
    }
    const char* stop = "1";
    switch (settings.stopHalves) {
        case 3:
            stop = "1.5";
            break;
        case 4:
            stop = "2";
            break;
        default:
            break;
    }
    return fmt::format("{},{},{},{}", settings.baud, parity, settings.dataBits, stop);
}

}  // namespace corvane
