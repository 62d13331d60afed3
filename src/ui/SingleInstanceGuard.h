#pragma once
// One running program per machine: a lock held on a per-machine lock file for the life of the process.
// The kernel drops the lock when the process ends, however it ends.
#include <string>

namespace kestrane {

class CSingleInstanceGuard {
public:
    explicit CSingleInstanceGuard(const std::string& lockPath = DefaultLockPath());
    ~CSingleInstanceGuard();
    CSingleInstanceGuard(const CSingleInstanceGuard&) = delete;
    CSingleInstanceGuard& operator=(const CSingleInstanceGuard&) = delete;

    // True when another process holds the lock.
    bool IsAnotherInstanceRunning() const { return anotherRunning_; }

    // The machine-wide lock file; KESTRANE_INSTANCE_LOCK names another one (tests run side by side).
    static std::string DefaultLockPath();

private:
    int fd_ = -1;
    bool anotherRunning_ = false;
};

}  // namespace kestrane
