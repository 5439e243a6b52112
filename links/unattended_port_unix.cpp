// The keeper's watch for a terminal port's device on Linux: an inotify descriptor on its
// path, its folder and, for a link, the folder it leads to says when to look again, so that
// nothing looks for it on a timer.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asio/posix/stream_descriptor.hpp>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "links/unattended_internal.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {

// The nearest folder at or above `path` that exists: a watch there sees the rest appear.
fs::path ExistingFolder(fs::path path) {
    std::error_code ec;
    while (!path.empty() && !fs::is_directory(path, ec)) {
        const fs::path parent = path.parent_path();
        if (parent == path) break;
        path = parent;
    }
    return path;
}

constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// A device node's own changes: udev gives a new node its group and mode a moment after it
// appears.
constexpr std::uint32_t kNodeEvents = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

bool DeviceMissing(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// ---- PathWatch ----

struct PathWatch::Inner {
    explicit Inner(asio::io_context& io) : descriptor(io) {}
    asio::posix::stream_descriptor descriptor;
    std::function<void()> changed;
};

PathWatch::PathWatch(asio::io_context& io, std::function<void()> changed)
    : io_(io), changed_(std::move(changed)) {}

PathWatch::~PathWatch() { Stop(); }

void PathWatch::Stop() {
    if (!inner_) return;
    inner_->changed = nullptr;
    std::error_code ec;
    inner_->descriptor.close(ec);  // its wait ends aborted
    inner_.reset();
}

bool PathWatch::Watch(const std::vector<std::string>& paths) {
    Stop();
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return false;
    int watches = 0;
    auto add = [&](const fs::path& p, std::uint32_t mask) {
        if (!p.empty() && ::inotify_add_watch(fd, p.c_str(), mask) >= 0) ++watches;
    };
    for (const std::string& start : paths) {
        fs::path p = start;
        // The path, its folder, and each link's target with its folder in turn.
        for (int depth = 0; depth < 8 && !p.empty(); ++depth) {
            add(ExistingFolder(p.parent_path()), kFolderEvents);
            struct stat st {};
            if (::lstat(p.c_str(), &st) != 0) break;
            add(p, kNodeEvents | IN_DONT_FOLLOW);
            if (!S_ISLNK(st.st_mode)) break;
            std::error_code ec;
            const fs::path target = fs::read_symlink(p, ec);
            if (ec) break;
            p = target.is_absolute() ? target : p.parent_path() / target;
        }
    }
    if (watches == 0) {
        ::close(fd);
        return false;
    }
    auto inner = std::make_shared<Inner>(io_);
    std::error_code ec;
    inner->descriptor.assign(fd, ec);
    if (ec) {
        ::close(fd);
        return false;
    }
    inner->changed = changed_;
    inner_ = inner;
    inner->descriptor.async_wait(
        asio::posix::stream_descriptor::wait_read, [inner](const std::error_code& error) {
            if (error || !inner->changed) return;
            // The events themselves do not matter: the keeper looks.
            char buffer[4096];
            while (::read(inner->descriptor.native_handle(), buffer, sizeof buffer) > 0) {
            }
            inner->changed();
        });
    return true;
}

}  // namespace corvane
