#include "app/hand_over.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/program_dir.h"

namespace corvane {

void HandOverToHeadless(int argc, char** argv) {
    const std::string program = ExecutableDir() + "/corvane-headless";
    std::vector<char*> arguments;
    arguments.push_back(const_cast<char*>(program.c_str()));
    for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    std::fflush(nullptr);  // nothing written so far is lost with the process image
    // A blocked signal stays blocked across the exec: the headless run must see its stop.
    sigset_t termination;
    sigemptyset(&termination);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&termination, sig);
    sigprocmask(SIG_UNBLOCK, &termination, nullptr);
    ::execv(program.c_str(), arguments.data());
    const int error = errno;
    std::fprintf(stderr, "corvane: cannot start corvane-headless: %s: %s\n", program.c_str(),
                 std::strerror(error));
    std::exit(2);
}

}  // namespace corvane
