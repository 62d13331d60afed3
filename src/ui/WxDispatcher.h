#pragma once
// UiDispatcher over the wx event loop: a worker's work is queued to the user-interface thread and the
// worker waits for it. Close() (user-interface thread) drops what is queued and releases every waiting
// worker, so that a window can go away while a worker still talks to it.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

#include "ui/UiDispatcher.h"

namespace kestrane {

class WxDispatcher : public UiDispatcher {
public:
    WxDispatcher();
    ~WxDispatcher() override;
    void RunSync(const std::function<void()>& work) override;
    void Close();
    bool IsClosed() const;

private:
    struct Call {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
    };
    struct Shared {
        std::mutex mutex;
        bool closed = false;
        std::set<std::shared_ptr<Call>> pending;
    };
    std::shared_ptr<Shared> shared_;
};

}  // namespace kestrane
