// The program's folder for a run (load files, ports/, log/).
#pragma once

#include <string>

namespace corvane {

// The folder of the running executable.
std::string ExecutableDir();

// The program's folder for a run: the one given; else, for a program installed in a bin
// folder (whose folder is no place for load files and logs), the user's data folder
// ($XDG_DATA_HOME or ~/.local/share)/corvane; else the executable's folder. Made when
// missing; returned absolute; empty `why` on success.
std::string ProgramDirFor(const std::string& given, std::string* why);

}  // namespace corvane
