// The operator's choices kept between runs of the window (port entry, host system, resident
// flag and kind, chunk delay, log to file, monitor shown), in a small text file of key=value
// lines in the user's application-data folder.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace corvane::win32 {

class MainWindow;

using Settings = std::map<std::string, std::string>;

// %APPDATA%\Corvane\settings.ini, its folder made when missing; empty when there is none.
std::wstring RememberedSettingsFile();
// The file's values; none when it is missing or unreadable.
Settings ReadSettingsFile(const std::wstring& path);
// Writes the values through a new file that then replaces the old one, so that a failed write
// leaves the old file whole; false when it failed.
bool WriteSettingsFile(const std::wstring& path, const Settings& values);

// The choices as the controls hold them.
Settings OperatorSettings(const MainWindow& w);
// Puts the stored choices into the controls through their handlers, as the operator's clicks
// would. A stored value that is no longer valid leaves that control in its start state; each
// such value gives a line, written to the communication log (after "Log to File" is restored)
// and returned.
std::vector<std::string> RestoreOperatorSettings(MainWindow& w, const Settings& s);

}  // namespace corvane::win32
