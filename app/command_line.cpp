#include "app/command_line.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <initializer_list>

#include "links/host_connection.h"
#include "links/serial_devices.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "unknown"
#endif

namespace corvane {

namespace {

const std::vector<std::string> kResidentKinds = {"IST-I", "IST-II", "IST-III", "Viking"};

CommandLine Failed(const std::string& why) {
    CommandLine c;
    c.mode = CommandLine::Mode::Error;
    c.text = why;
    return c;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string Trimmed(const std::string& s) {
    const char* blanks = " \t\n\v\f\r";
    const std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The part of an entry before its first ":" (the whole entry when it has none).
std::string FirstField(const std::string& entry) { return entry.substr(0, entry.find(':')); }

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : separator) + p;
    return out;
}

// Whole decimal number with an optional sign, nothing else.
std::optional<int> WholeNumber(const std::string& text) {
    std::string digits = text;
    if (!digits.empty() && digits[0] == '+') digits.erase(0, 1);
    if (digits.empty() || digits[0] == '+') return std::nullopt;
    int value = 0;
    const char* end = digits.data() + digits.size();
    const auto [at, error] = std::from_chars(digits.data(), end, value);
    if (error != std::errc() || at != end) return std::nullopt;
    return value;
}

// The options and their values, read the way the program always read them: "--name VALUE"
// and "--name=VALUE"; a single dash before a word is a long option too ("-help", "-h");
// "--" ends the options. Unknown options are collected and reported together, after any
// value that is missing or given to a flag.
class OptionReader {
  public:
    struct Option {
        std::vector<std::string> names;  // the last one is the long name
        bool takesValue = false;
    };

    explicit OptionReader(std::vector<Option> options) : options_(std::move(options)) {
        values_.resize(options_.size());
        set_.resize(options_.size());
    }

    bool Read(const std::vector<std::string>& arguments) {
        bool ok = true;
        bool onlyPositional = false;
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            const std::string& a = arguments[i];
            if (onlyPositional || a.size() < 2 || a[0] != '-') {
                positional_.push_back(a);
            } else if (a == "--") {
                onlyPositional = true;
            } else {
                const std::size_t dashes = a[1] == '-' ? 2 : 1;
                const std::string name = a.substr(dashes, a.find('=', dashes) - dashes);
                if (!Found(name, a, arguments, i)) ok = false;
            }
        }
        return ok;
    }

    std::string ErrorText() const {
        if (!error_.empty()) return error_;
        if (unknown_.size() == 1) return fmt::format("Unknown option '{}'.", unknown_.front());
        if (unknown_.size() > 1) return fmt::format("Unknown options: {}.", Joined(unknown_, ", "));
        return {};
    }
    const std::vector<std::string>& Positional() const { return positional_; }
    bool IsSet(int option) const { return set_[option]; }
    const std::vector<std::string>& Values(int option) const { return values_[option]; }
    // The last value given, as a later option overrides an earlier one.
    std::string Value(int option) const {
        return values_[option].empty() ? std::string() : values_[option].back();
    }
    const std::string& LongName(int option) const { return options_[option].names.back(); }

  private:
    bool Found(const std::string& name, const std::string& argument,
               const std::vector<std::string>& arguments, std::size_t& i) {
        const auto option = std::find_if(options_.begin(), options_.end(), [&](const Option& o) {
            return std::find(o.names.begin(), o.names.end(), name) != o.names.end();
        });
        if (option == options_.end()) {
            unknown_.push_back(name);
            return false;
        }
        const auto at = static_cast<std::size_t>(option - options_.begin());
        set_[at] = true;
        const std::size_t assign = argument.find('=');
        if (!option->takesValue) {
            if (assign == std::string::npos) return true;
            error_ = fmt::format("Unexpected value after '{}'.", argument.substr(0, assign));
            return false;
        }
        if (assign != std::string::npos) {
            values_[at].push_back(argument.substr(assign + 1));
        } else if (i + 1 < arguments.size()) {
            values_[at].push_back(arguments[++i]);  // whatever it looks like
        } else {
            error_ = fmt::format("Missing value after '{}'.", argument);
            return false;
        }
        return true;
    }

    std::vector<Option> options_;
    std::vector<std::vector<std::string>> values_;
    std::vector<bool> set_;
    std::vector<std::string> unknown_;
    std::vector<std::string> positional_;
    std::string error_;
};

enum Opt {
    kHelp,
    kVersion,
    kHeadless,
    kFresh,
    kProgramDir,
    kPort,
    kSystem,
    kHost,
    kResident,
    kKind,
    kDelay,
    kLog,
    kOnce
};

// --resident-loaded takes an optional kind, which the reader cannot express: the kind is
// moved to an option of its own.
std::vector<std::string> WithResidentKind(const std::vector<std::string>& arguments) {
    const std::string flag = "--resident-loaded";
    std::vector<std::string> out;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (i > 0 && StartsWith(a, flag + '=')) {
            out.push_back(flag);
            out.push_back("--resident-kind=" + a.substr(flag.size() + 1));
        } else if (i > 0 && a == flag && i + 1 < arguments.size() &&
                   !StartsWith(arguments[i + 1], "-")) {
            out.push_back(flag);
            out.push_back("--resident-kind=" + arguments[++i]);
        } else {
            out.push_back(a);
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> PortEntryOption(const std::string& value, std::string* why) {
    std::string v = Trimmed(value);
    if (StartsWith(v, "dev/")) v = "/" + v;  // a unit's %I drops the "/"
    if (const std::optional<DeviceEntry> device = ParseDeviceEntry(v))
        return device->device + ':' + device->settings;
    if (StartsWith(Lower(v), "com")) {
        if (v.find(':') == std::string::npos) return v + ':' + kDeviceDefaultSettings;
        return v;
    }
    if (why)
        *why = fmt::format(
            "--port {}: give a port entry such as com1:2400,e,7,1 or a device path such as "
            "/dev/ttyUSB0",
            value);
    return std::nullopt;
}

std::optional<std::string> SystemEntryOption(const std::string& value,
                                             const std::vector<std::string>& presets,
                                             std::string* why) {
    for (const std::string& entry : presets) {
        if (FirstField(entry) == value) return entry;
    }
    if (std::find(presets.begin(), presets.end(), value) != presets.end()) return value;
    if (why) {
        std::vector<std::string> names;
        for (const std::string& entry : presets) {
            const std::string name = FirstField(entry);
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
        *why = fmt::format(
            "--system {}: no such host system (the list has {}; or give --host HOST:PORT)", value,
            Joined(names, ", "));
    }
    return std::nullopt;
}

std::optional<std::string> HostEntryOption(const std::string& value, std::string* why) {
    const std::size_t colon = value.rfind(':');
    const bool hasColon = colon != std::string::npos;
    const std::string host = hasColon ? Trimmed(value.substr(0, colon)) : std::string();
    std::string portWhy;
    const std::optional<int> port =
        hasColon ? HostPortOf(value.substr(colon + 1), &portWhy) : std::nullopt;
    std::string problem;
    if (!hasColon || host.empty())
        problem = "give HOST:PORT, for example 127.0.0.1:8105";
    else if (host.find(':') != std::string::npos)
        problem =
            "the host entry holds fields separated by \":\", so give a host name or an IPv4 "
            "address";
    else if (!port)
        problem = portWhy;
    if (!problem.empty()) {
        if (why) *why = fmt::format("--host {}: {}", value, problem);
        return std::nullopt;
    }
    return fmt::format("{0}:{0}:{1}", host, *port);
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    OptionReader reader({
        {{"h", "help"}, false},
        {{"v", "version"}, false},
        {{"headless"}, false},
        {{"fresh"}, false},
        {{"program-dir"}, true},
        {{"port"}, true},
        {{"system"}, true},
        {{"host"}, true},
        {{"resident-loaded"}, false},
        {{"resident-kind"}, true},
        {{"chunk-delay"}, true},
        {{"log"}, false},
        {{"once"}, false},
    });
    if (!reader.Read(WithResidentKind(arguments))) return Failed(reader.ErrorText());
    if (!reader.Positional().empty())
        return Failed("unexpected argument: " + reader.Positional().front());
    CommandLine c;
    if (reader.IsSet(kHelp)) {
        c.mode = CommandLine::Mode::Help;
        c.text = HelpText();
        return c;
    }
    if (reader.IsSet(kVersion)) {
        c.mode = CommandLine::Mode::Version;
        c.text = VersionText();
        return c;
    }
    for (const int o : {kProgramDir, kPort, kSystem, kHost, kKind, kDelay}) {
        if (reader.Values(o).size() > 1)
            return Failed(fmt::format("--{} is given more than once", reader.LongName(o)));
    }
    c.fresh = reader.IsSet(kFresh);
    if (reader.IsSet(kProgramDir)) {
        c.programDir = reader.Value(kProgramDir);
        if (c.programDir.empty()) return Failed("--program-dir needs a folder");
    }
    if (!reader.IsSet(kHeadless)) {
        for (const int o : {kPort, kSystem, kHost, kResident, kDelay, kLog, kOnce}) {
            if (reader.IsSet(o))
                return Failed(fmt::format(
                    "--{} is an option of --headless; the window takes its settings from its "
                    "controls",
                    reader.LongName(o)));
        }
        return c;
    }

    c.mode = CommandLine::Mode::Headless;
    std::string why;
    if (reader.IsSet(kPort)) {
        const std::optional<std::string> entry = PortEntryOption(reader.Value(kPort), &why);
        if (!entry) return Failed(why);
        c.portEntry = *entry;
    }
    if (reader.IsSet(kSystem) == reader.IsSet(kHost))
        return Failed("--headless needs the host: --system NAME or --host HOST:PORT, one of them");
    const std::optional<std::string> entry =
        reader.IsSet(kSystem) ? SystemEntryOption(reader.Value(kSystem), SystemPresets(), &why)
                              : HostEntryOption(reader.Value(kHost), &why);
    if (!entry) return Failed(why);
    c.systemEntry = *entry;
    c.residentLoaded = reader.IsSet(kResident);
    if (reader.IsSet(kKind)) {
        const std::string k = reader.Value(kKind);
        for (const std::string& known : kResidentKinds) {
            if (Lower(known) == Lower(k)) c.residentKind = known;
        }
        if (c.residentKind.empty())
            return Failed(fmt::format("--resident-loaded {}: the kinds are {}", k,
                                      Joined(kResidentKinds, ", ")));
    }
    if (reader.IsSet(kDelay)) {
        const std::optional<int> ms = WholeNumber(Trimmed(reader.Value(kDelay)));
        if (!ms || *ms < 0 || *ms > 1000)
            return Failed(fmt::format("--chunk-delay {}: give whole milliseconds, 0 to 1000",
                                      reader.Value(kDelay)));
        c.chunkDelay = *ms;
    }
    c.logToFile = reader.IsSet(kLog);
    c.once = reader.IsSet(kOnce);
    return c;
}

std::string HelpText() {
    return R"(Usage: corvane [--fresh] [--program-dir DIR]
       corvane --headless [--once] [--port ENTRY] (--system NAME | --host HOST:PORT)
               [--resident-loaded [KIND]] [--chunk-delay MS] [--log] [--program-dir DIR]
       corvane-headless [the options of --headless]

Bridges a PLATO terminal on a serial port with a PLATO host over TCP.
Without --headless it shows its window, with the settings of the last time.

  --fresh                   start in the start state; remembered settings are not read
  --program-dir DIR         folder of the load files istlfNN.dat, ports/ and log/
                            (default: the executable's folder; when installed in a
                            bin folder, ~/.local/share/corvane)
  --headless                a bridge run without a window or display, until SIGTERM
                            or SIGINT; the communication log goes to standard output.
                            It keeps the terminal in service: a port whose device is
                            missing or gone is waited for and opened again (the host is
                            kept 60 s meanwhile), a host that went away is reached again
                            (at once, then after 1, 2, 4 ... 60 s), a load is served
                            whenever the terminal asks, and a loaded terminal's first key
                            connects the host. Under systemd it reports its state.
                            The run is the program corvane-headless, which needs no Qt:
                            corvane hands --headless and the other options over to it
  --once                    one run as the start button makes it, which ends at the
                            first fault: a lost link or a host not reached (status 1),
                            a port that cannot be opened (status 2)
  --port ENTRY              com1:2400,e,7,1 (the default), or a device such as
                            /dev/ttyUSB0 (opens at 2400,e,7,1) or /dev/ttyUSB0:9600,n,8,1
  --system NAME             a host system of the list by name (cyber1, novanet, Ludric)
                            or by its whole entry
  --host HOST:PORT          a host system not in the list
  --resident-loaded [KIND]  the terminal holds its resident already (KIND: IST-I,
                            IST-II, IST-III, Viking); else it is loaded on request
  --chunk-delay MS          pause after each 256-byte chunk of the load, 0 to 1000
                            (default 385)
  --log                     also append the communication log to log/000.txt
  -h, --help                print this and exit
  -v, --version             print the version and exit

Exit status: 0 after SIGTERM or SIGINT (or the window closed), 1 when a --once run
loses a link or cannot reach the host, 2 for a bad option, a port that is there and
cannot be opened (access refused, busy, not a serial port; with --once also a missing
device), or no display for the window.
)";
}

std::string VersionText() { return "corvane " CORVANE_VERSION "\n"; }

}  // namespace corvane
