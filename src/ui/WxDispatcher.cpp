#include "ui/WxDispatcher.h"

#include <wx/app.h>
#include <wx/event.h>
#include <wx/thread.h>

namespace kestrane {

WxDispatcher::WxDispatcher() : shared_(std::make_shared<Shared>()) {}

WxDispatcher::~WxDispatcher() { Close(); }

bool WxDispatcher::IsClosed() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->closed;
}

void WxDispatcher::RunSync(const std::function<void()>& work) {
    if (wxIsMainThread()) {
        if (!IsClosed()) work();
        return;
    }
    auto call = std::make_shared<Call>();
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->closed) return;
        shared_->pending.insert(call);
    }
    // The queued work runs on the user-interface thread, as Close() does, so the two never overlap.
    const std::function<void()>* workPtr = &work;
    wxTheApp->CallAfter([shared = shared_, call, workPtr] {
        {
            std::lock_guard<std::mutex> lock(call->mutex);
            if (call->abandoned) return;
        }
        (*workPtr)();  // the worker is blocked below, so `work` is alive
        std::lock_guard<std::mutex> lock(call->mutex);
        call->finished = true;
        call->done.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(call->mutex);
        call->done.wait(lock, [&] { return call->finished || call->abandoned; });
    }
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->pending.erase(call);
}

void WxDispatcher::Close() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->closed = true;
    for (const auto& call : shared_->pending) {
        std::lock_guard<std::mutex> callLock(call->mutex);
        call->abandoned = true;
        call->done.notify_all();
    }
}

}  // namespace kestrane
