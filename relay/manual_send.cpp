#include "relay/manual_send.h"

#include "links/engine.h"
#include "links/terminal_port.h"
#include "relay/pump.h"

namespace corvane {

std::optional<std::string> ParseHexLine(const std::string& text) {
    std::string bytes;
    if (text.empty()) return bytes;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(' ', start);
        const std::string token = text.substr(start, end == std::string::npos ? end : end - start);
        if (token.empty()) return std::nullopt;
        int value = 0;
        for (const char c : token) {
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0) return std::nullopt;
            value = value * 16 + digit;
            if (value > 0xFF) return std::nullopt;
        }
        bytes.push_back(static_cast<char>(value));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return bytes;
}

void b_term_Click(Engine& e, const std::string& hexLine) {
    const auto bytes = ParseHexLine(hexLine);
    if (!bytes || !IsTerminalPortOpen(e)) return;
    try {
        e.Comm.Output(*bytes);
    } catch (const CommError&) {
    }
    WakePump(e);
}

void b_host_Click(Engine& e, const std::string& hexLine) {
    const auto bytes = ParseHexLine(hexLine);
    if (!bytes || !e.SSL.Connected()) return;
    e.SSL.Send(*bytes);
}

}  // namespace corvane
