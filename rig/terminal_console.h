// The rig tool's console: the lines an operator types to play the terminal (or the host),
// and how received bytes are shown; and the command lines of the rig's tools.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace corvane::rig {

// "1b 77 63": tokens of one or two hex digits separated by blanks or tabs. Anything else,
// or no token at all, gives no bytes and the reason in why.
std::optional<std::string> ParseHexBytes(const std::string& text, std::string* why = nullptr);

struct ConsoleCommand {
    enum Kind { Nothing, ToProgramFromTerminal, ToProgramFromHost, Help, Quit, Refused };
    Kind kind = Nothing;
    std::string bytes;  // what to send
    std::string why;    // for Refused
};

// One console line (without its line end):
//   hex HH HH ...      the terminal sends these bytes
//   text TEXT          the terminal sends TEXT as it stands (no line end added)
//   request NN         the terminal asks for load file NN: "L", two digits, CR
//   host hex HH ...    the host sends these bytes
//   host text TEXT     the host sends TEXT
//   help, quit
// A blank line is Nothing; anything else is Refused.
ConsoleCommand ParseConsoleLine(const std::string& line);

// The console's own help text.
std::string ConsoleHelp();

// "1b 77 63" for the bytes.
std::string HexText(const std::string& bytes);
// Rows of up to perRow bytes: the hex, padded, then "|" the printable ASCII (others as ".") "|".
std::vector<std::string> DumpRows(const std::string& bytes, int perRow = 16);

// Lines typed on a descriptor (standard input), read on `io` as they come.
class ConsoleInput {
  public:
    // Each complete line (without its "\n" or "\r\n") goes to onLine as it comes, and at the
    // end of input what was left without a line end; a line longer than maxLine bytes is
    // dropped and onTooLong told. The descriptor is read through a duplicate of its own.
    ConsoleInput(asio::io_context& io, int fd, std::function<void(std::string)> onLine,
                 std::function<void()> onTooLong, std::size_t maxLine = 1 << 20);
    // Reading made the descriptor non-blocking; its flags are put back, as it is shared with
    // whoever started the tool (a shell).
    ~ConsoleInput();
    ConsoleInput(const ConsoleInput&) = delete;
    ConsoleInput& operator=(const ConsoleInput&) = delete;

    // The input ended (or could not be read, or there was none).
    bool ended() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// An option of a tool's command line: "--name VALUE" or "--name=VALUE", or a switch "--name".
struct OptionSpec {
    std::string name;
    std::string value;  // the value's name in the help; empty for a switch
    std::string help;
    std::string byDefault = {};  // the value when not given
};

struct ToolCommandLine {
    std::map<std::string, std::string> values;  // every option's, its default when not given
    std::set<std::string> given;                // the options given (switches are "1")
    std::vector<std::string> arguments;         // the rest, in order; all after "--"
    bool help = false;                          // -h, --help or -?
    std::string error;                          // what did not parse; empty when all did

    bool isSet(const std::string& name) const { return given.count(name) > 0; }
    std::string value(const std::string& name) const;
    // The option's value as a whole number from low to high; none, with the reason in why.
    std::optional<std::int64_t> number(const std::string& name, std::int64_t low, std::int64_t high,
                                       std::string* why) const;
};

// arguments: argv[1] on.
ToolCommandLine ParseToolCommandLine(const std::vector<std::string>& arguments,
                                     const std::vector<OptionSpec>& options);
// "Usage: " line, the description, then the options and arguments as a table.
std::string ToolHelp(const std::string& usage, const std::string& description,
                     const std::vector<OptionSpec>& options,
                     const std::vector<std::pair<std::string, std::string>>& arguments);

}  // namespace corvane::rig
