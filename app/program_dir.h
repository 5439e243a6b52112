// The program's folder for a run (load files, ports/, log/).
#pragma once

#include <string>

namespace corvane {

// The folder of the running executable.
std::string ExecutableDir();

// The program's folder for a run: the one given; else, for a program installed in a folder
// shared with other programs (whose folder is no place for load files and logs), the user's
// own folder for it; else the executable's folder. Made when missing; returned absolute;
// empty `why` on success.
//   Linux: shared is a bin folder; the user's folder ($XDG_DATA_HOME or ~/.local/share)/corvane.
//   Windows: shared is anything under Program Files; the user's folder %APPDATA%\Corvane.
std::string ProgramDirFor(const std::string& given, std::string* why);

// The platform's halves of the choice.
bool InSharedProgramFolder(const std::string& executableDir);
std::string UserProgramDir();

}  // namespace corvane
