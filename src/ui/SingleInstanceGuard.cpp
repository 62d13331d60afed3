#include "ui/SingleInstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kestrane {

std::string CSingleInstanceGuard::DefaultLockPath() {
    if (const char* path = std::getenv("KESTRANE_INSTANCE_LOCK"); path && *path) return path;
    return "/tmp/.kestrane-running.lock";
}

CSingleInstanceGuard::CSingleInstanceGuard(const std::string& lockPath) {
    // Read-only is enough for flock, so a lock file that another user created works too; no symlinks.
    const mode_t old = ::umask(0);
    fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    ::umask(old);
    if (fd_ < 0) return;  // no lock file: run unguarded rather than refuse to start
    int rc;
    do rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno == EWOULDBLOCK) anotherRunning_ = true;
}

CSingleInstanceGuard::~CSingleInstanceGuard() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace kestrane
