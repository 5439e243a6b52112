#include "rig/sample_load_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "resident/loader.h"

namespace corvane::rig {

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string SampleLoadBytes(std::int64_t size) {
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

bool WriteSampleLoadFile(const std::string& programDir, int number, std::int64_t size,
                         std::string* path, std::string* why) {
    const std::string target = LoadFilePath(programDir, number);
    if (path) *path = target;
    if (number < 0 || number > 99 || size < 1) {
        if (why) *why = "the number must be 0 to 99 and the size at least 1";
        return false;
    }
    // Written beside the target and renamed over it once complete: a loader never reads a
    // half-written file.
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, SampleLoadBytes(size)) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    // mkstemp makes the file readable by its owner alone; a load file is an ordinary one.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (ok && ::chmod(temp.c_str(), 0666 & ~mask) != 0) ok = false, error = errno;
    if (ok && std::rename(temp.c_str(), target.c_str()) != 0) ok = false, error = errno;
    if (!ok) {
        ::unlink(temp.c_str());
        if (why) *why = std::strerror(error);
    }
    return ok;
}

}  // namespace corvane::rig
