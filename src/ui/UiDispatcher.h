#pragma once
// Runs a piece of work on the user-interface thread and waits until it is done: how a worker touches the
// dialogs' controls and delivers the progress protocol (the sender blocks until the message is handled).
#include <functional>

namespace kestrane {

class UiDispatcher {
public:
    virtual ~UiDispatcher() = default;
    // Runs `work` on the user-interface thread and returns when it has run (or when the window it targets
    // is gone, in which case it is dropped).
    virtual void RunSync(const std::function<void()>& work) = 0;
};

// For callers that already are on the user-interface thread, and for tests.
class DirectDispatcher : public UiDispatcher {
public:
    void RunSync(const std::function<void()>& work) override { work(); }
};

}  // namespace kestrane
