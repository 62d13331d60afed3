#pragma once
// Watches the run state's stop flag beside a save run, so that Stop reaches a worker that is blocked
// waiting for the server: when the flag is set, `onStop` runs once on the watcher's own thread. The
// watcher ends with the object.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/RunState.h"

namespace kestrane {

class StopWatcher {
public:
    StopWatcher(const RunState& state, std::function<void()> onStop);
    ~StopWatcher();
    StopWatcher(const StopWatcher&) = delete;
    StopWatcher& operator=(const StopWatcher&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace kestrane
