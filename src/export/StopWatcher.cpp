#include "export/StopWatcher.h"

#include <chrono>

namespace kestrane {

StopWatcher::StopWatcher(const RunState& state, std::function<void()> onStop)
    : thread_([this, &state, onStop = std::move(onStop)] {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!done_) {
              if (state.stopRequested()) {
                  onStop();
                  return;
              }
              wake_.wait_for(lock, std::chrono::milliseconds(50));
          }
      }) {}

StopWatcher::~StopWatcher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

}  // namespace kestrane
