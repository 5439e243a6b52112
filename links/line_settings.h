// Line settings texts such as "2400,e,7,1": baud rate, parity letter, data bits, stop bits.
#pragma once

#include <optional>
#include <string>

namespace corvane {

enum class Parity { None, Even, Odd, Mark, Space };

struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    // Stop bits in halves: 2 = one, 3 = one and a half, 4 = two.
    int stopHalves = 2;
    bool operator==(const LineSettings&) const = default;
};

// Reads a settings text: parity n, e, o, m or s (either case); data bits 5 to 8; stop bits 1,
// 1.5 or 2; blanks around the fields are allowed. Anything else gives no value and, when
// `why` is given, the reason in it.
std::optional<LineSettings> ParseLineSettings(const std::string& text, std::string* why = nullptr);

// The text form, "2400,e,7,1".
std::string FormatLineSettings(const LineSettings& settings);

}  // namespace corvane
