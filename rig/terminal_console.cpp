#include "rig/terminal_console.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <asio/posix/stream_descriptor.hpp>
#include <charconv>
#include <utility>

namespace corvane::rig {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string Trimmed(const std::string& s) {
    std::size_t begin = 0, end = s.size();
    while (begin < end && IsSpace(s[begin])) ++begin;
    while (end > begin && IsSpace(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

// The first word and the rest after one separating blank; the rest keeps its own blanks so
// that "text" sends exactly what was typed.
std::pair<std::string, std::string> SplitWord(const std::string& line) {
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    std::size_t end = i;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    return {line.substr(i, end - i), end < line.size() ? line.substr(end + 1) : std::string()};
}

ConsoleCommand Refuse(const std::string& why) { return {ConsoleCommand::Refused, {}, why}; }

ConsoleCommand Bytes(ConsoleCommand::Kind kind, const std::string& verb, const std::string& rest) {
    if (verb == "hex") {
        std::string why;
        const auto bytes = ParseHexBytes(rest, &why);
        if (!bytes) return Refuse(why);
        return {kind, *bytes, {}};
    }
    if (rest.empty()) return Refuse("nothing to send after \"text\"");
    return {kind, rest, {}};
}

}  // namespace

std::optional<std::string> ParseHexBytes(const std::string& text, std::string* why) {
    std::string out;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < n && !IsBlank(text[end])) ++end;
        const std::string token = text.substr(i, end - i);
        const int hi = HexDigit(token[0]);
        const int lo = token.size() == 2 ? HexDigit(token[1]) : 0;
        if (token.size() > 2 || hi < 0 || lo < 0) {
            if (why) *why = "\"" + token + "\" is not a byte in hex (one or two of 0-9, a-f)";
            return std::nullopt;
        }
        out.push_back(static_cast<char>(token.size() == 2 ? hi * 16 + lo : hi));
        i = end;
    }
    if (out.empty()) {
        if (why) *why = "no bytes given";
        return std::nullopt;
    }
    return out;
}

ConsoleCommand ParseConsoleLine(const std::string& line) {
    const auto [verb, rest] = SplitWord(line);
    if (verb.empty()) return {};
    if (verb == "hex" || verb == "text")
        return Bytes(ConsoleCommand::ToProgramFromTerminal, verb, rest);
    if (verb == "host") {
        const auto [hostVerb, hostRest] = SplitWord(rest);
        if (hostVerb == "hex" || hostVerb == "text")
            return Bytes(ConsoleCommand::ToProgramFromHost, hostVerb, hostRest);
        return Refuse("\"host\" takes \"hex HH ...\" or \"text TEXT\"");
    }
    if (verb == "request") {
        const std::string number = Trimmed(rest);
        bool ok = number.size() >= 1 && number.size() <= 2;
        for (char c : number) ok = ok && c >= '0' && c <= '9';
        if (!ok) return Refuse("\"request\" takes a file number 0 to 99");
        return {ConsoleCommand::ToProgramFromTerminal,
                "L" + std::string(2 - number.size(), '0') + number + "\r",
                {}};
    }
    if (verb == "help" && Trimmed(rest).empty()) return {ConsoleCommand::Help, {}, {}};
    if (verb == "quit" && Trimmed(rest).empty()) return {ConsoleCommand::Quit, {}, {}};
    return Refuse("unknown command \"" + verb + "\" (try help)");
}

std::string ConsoleHelp() {
    return "Commands (one a line):\n"
           "  hex 1b 77 63      the terminal sends these bytes to the program\n"
           "  text TEXT         the terminal sends TEXT as typed (no line end added)\n"
           "  request 05        the terminal asks for load file 05 (sends L05 and CR)\n"
           "  host hex HH ...   the host sends these bytes to the program\n"
           "  host text TEXT    the host sends TEXT\n"
           "  help, quit\n"
           "A line that does not parse is refused and nothing is sent.";
}

std::string HexText(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) s += ' ';
        const auto v = static_cast<unsigned char>(bytes[i]);
        s += kDigits[v >> 4];
        s += kDigits[v & 0xF];
    }
    return s;
}

std::vector<std::string> DumpRows(const std::string& bytes, int perRow) {
    std::vector<std::string> rows;
    if (perRow < 1) perRow = 1;
    const auto step = static_cast<std::size_t>(perRow);
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        const std::string row = bytes.substr(at, step);
        std::string hex = HexText(row);
        // Padded to a full row's width, so the text columns line up.
        hex.resize(std::max(hex.size(), step * 3 - 1), ' ');
        std::string text;
        for (char c : row) text += (c >= 0x20 && c < 0x7F) ? c : '.';
        rows.push_back(hex + "  |" + text + "|");
    }
    return rows;
}

struct ConsoleInput::State {
    explicit State(asio::io_context& io) : input(io) {}
    asio::posix::stream_descriptor input;
    std::array<char, 4096> buffer{};
    std::string pending;  // what came after the last line end
    std::function<void(std::string)> onLine;
    std::function<void()> onTooLong;
    std::size_t maxLine = 0;
    int fd = -1;
    int flags = -1;  // the descriptor's own, to put back
    bool ended = false;
    bool gone = false;  // the ConsoleInput went; a read that ends now tells nobody

    void take(std::size_t n) {
        pending.append(buffer.data(), n);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            onLine(std::move(line));
            if (gone) return;
        }
        if (pending.size() > maxLine) {
            pending.clear();
            onTooLong();
        }
    }

    static void Read(const std::shared_ptr<State>& s) {
        s->input.async_read_some(asio::buffer(s->buffer), [s](std::error_code ec, std::size_t n) {
            if (s->gone) return;
            if (n > 0) s->take(n);
            if (s->gone) return;
            if (!ec) return Read(s);
            s->ended = true;
            if (!s->pending.empty()) s->onLine(std::exchange(s->pending, {}));
        });
    }
};

ConsoleInput::ConsoleInput(asio::io_context& io, int fd, std::function<void(std::string)> onLine,
                           std::function<void()> onTooLong, std::size_t maxLine)
    : state_(std::make_shared<State>(io)) {
    state_->onLine = std::move(onLine);
    state_->onTooLong = std::move(onTooLong);
    state_->maxLine = maxLine;
    state_->flags = ::fcntl(fd, F_GETFL);
    state_->fd = state_->flags < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    std::error_code ec;
    if (state_->fd >= 0) state_->input.assign(state_->fd, ec);
    if (state_->fd < 0 || ec) {
        if (state_->fd >= 0) ::close(state_->fd);
        state_->fd = -1;
        state_->ended = true;
        return;
    }
    State::Read(state_);
}

ConsoleInput::~ConsoleInput() {
    state_->gone = true;
    if (state_->fd < 0) return;
    ::fcntl(state_->fd, F_SETFL, state_->flags);
    std::error_code ignored;
    state_->input.close(ignored);
}

bool ConsoleInput::ended() const { return state_->ended; }

std::string ToolCommandLine::value(const std::string& name) const {
    const auto v = values.find(name);
    return v == values.end() ? std::string() : v->second;
}

std::optional<std::int64_t> ToolCommandLine::number(const std::string& name, std::int64_t low,
                                                    std::int64_t high, std::string* why) const {
    const std::string text = value(name);
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < low ||
        v > high) {
        if (why)
            *why = "--" + name + " takes a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not \"" + text + "\"";
        return std::nullopt;
    }
    return v;
}

ToolCommandLine ParseToolCommandLine(const std::vector<std::string>& arguments,
                                     const std::vector<OptionSpec>& options) {
    ToolCommandLine c;
    for (const OptionSpec& o : options) c.values[o.name] = o.byDefault;
    bool optionsEnd = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (optionsEnd || a.size() < 2 || a[0] != '-') {
            c.arguments.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnd = true;
            continue;
        }
        if (a == "-h" || a == "--help" || a == "-?") {
            c.help = true;
            continue;
        }
        const std::size_t equals = a.find('=');
        const std::string name = a.substr(2, equals == std::string::npos ? equals : equals - 2);
        const OptionSpec* option = nullptr;
        for (const OptionSpec& o : options)
            if (a[1] == '-' && name == o.name) option = &o;
        if (!option) {
            c.error = "unknown option \"" + a + "\"";
            return c;
        }
        if (option->value.empty()) {
            if (equals != std::string::npos) {
                c.error = "--" + name + " takes no value";
                return c;
            }
            c.values[name] = "1";
        } else if (equals != std::string::npos) {
            c.values[name] = a.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            c.values[name] = arguments[++i];
        } else {
            c.error = "missing value after \"" + a + "\"";
            return c;
        }
        c.given.insert(name);
    }
    return c;
}

std::string ToolHelp(const std::string& usage, const std::string& description,
                     const std::vector<OptionSpec>& options,
                     const std::vector<std::pair<std::string, std::string>>& arguments) {
    std::vector<std::pair<std::string, std::string>> rows = {
        {"-h, --help", "Displays help on commandline options."}};
    for (const OptionSpec& o : options)
        rows.emplace_back("--" + o.name + (o.value.empty() ? "" : " <" + o.value + ">"), o.help);
    std::size_t width = 0;
    for (const auto& row : rows) width = std::max(width, row.first.size());
    for (const auto& row : arguments) width = std::max(width, row.first.size());
    const auto table = [width](const std::vector<std::pair<std::string, std::string>>& list) {
        std::string text;
        for (const auto& [left, right] : list)
            text += "  " + left + std::string(width - left.size() + 2, ' ') + right + "\n";
        return text;
    };
    std::string text = "Usage: " + usage + "\n" + description + "\n\nOptions:\n" + table(rows);
    if (!arguments.empty()) text += "\nArguments:\n" + table(arguments);
    return text;
}

}  // namespace corvane::rig
