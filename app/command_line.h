// The program's options: none for the window (as it always started), a few for the window's
// start, and a whole bridge run without a display (--headless). Plain C++: the headless
// program reads them without Qt.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane {

struct CommandLine {
    enum class Mode { Window, Headless, Help, Version, Error };
    Mode mode = Mode::Window;
    std::string text;  // the help or version text, or what was wrong

    bool fresh = false;      // the window starts in its start state, nothing remembered is read
    std::string programDir;  // load files, ports/ and log/; empty for the default

    // The window's settings for a headless run.
    std::string portEntry = "com1:2400,e,7,1";
    std::string systemEntry;
    bool residentLoaded = false;
    std::string residentKind;  // empty: none chosen
    std::optional<int> chunkDelay;
    bool logToFile = false;
    // One run as the start button makes it, ended by the first fault; without it the run
    // keeps both links in service until it is told to end.
    bool once = false;
};

// arguments[0] is the program's name, as in argv.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// "com1" and "com1:9600,n,8,1" as the window reads them (without settings the relay's); a
// device path, also as a unit instance gives it ("dev/ttyUSB0"), with or without settings.
std::optional<std::string> PortEntryOption(const std::string& value, std::string* why);
// A preset whose name is `value` (the first of two with the same name), or whose whole entry
// text is `value`.
std::optional<std::string> SystemEntryOption(const std::string& value,
                                             const std::vector<std::string>& presets,
                                             std::string* why);
// "HOST:PORT" as a host system entry named after the host.
std::optional<std::string> HostEntryOption(const std::string& value, std::string* why);

std::string HelpText();
std::string VersionText();

}  // namespace corvane
