// `corvane --headless` is the program corvane-headless, which needs no Qt: the window program
// becomes it before it loads anything of its own.
#pragma once

namespace corvane {

// Replaces this process with corvane-headless from the running executable's folder, with the
// same arguments. When it cannot, says why on standard error and exits with status 2.
[[noreturn]] void HandOverToHeadless(int argc, char** argv);

}  // namespace corvane
