#pragma once
// Driving the toolkit from a test on a display: starting it with an application object, pumping its
// event loop until something holds, and a guard that ends a frozen test instead of letting it hang.
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/utils.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrane::test {

// Makes `app` the application and starts the toolkit (wxEntryCleanup ends it).
inline bool StartToolkit(wxApp* app) {
    wxApp::SetInstance(app);
    int argc = 1;
    static char name[] = "test_ui";
    char* argv[] = {name, nullptr};
    return wxEntryStart(argc, argv);
}

// Runs the event loop until `done` or the timeout; false on timeout.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    while (std::chrono::steady_clock::now() < end) {
        if (wxTheApp) wxTheApp->ProcessPendingEvents();
        while (loop && loop->Pending()) loop->Dispatch();
        if (wxTheApp) wxTheApp->ProcessIdle();
        if (done()) return true;
        wxMilliSleep(5);
    }
    return done();
}

inline void PumpFor(int ms) { PumpUntil([] { return false; }, ms); }

// Ends the process when the test has not ended in time: a freeze fails the test instead of hanging it.
class FreezeGuard {
public:
    explicit FreezeGuard(int seconds)
        : thread_([this, seconds] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!ended_.wait_for(lock, std::chrono::seconds(seconds), [this] { return over_; })) {
                  std::fputs("frozen: a worker and the user-interface thread wait for each other\n", stderr);
                  std::abort();
              }
          }) {}
    ~FreezeGuard() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            over_ = true;
        }
        ended_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool over_ = false;
    std::thread thread_;
};

}  // namespace kestrane::test
