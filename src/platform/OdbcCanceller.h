#pragma once
// Lets another thread end the statement that a connection is running (Stop during a save): the running
// statement registers its handle here, and Cancel sends the driver's cancel to it. Once cancelled, every
// later statement on the connection is refused before it starts.
#include <mutex>

namespace kestrane {

class OdbcCanceller {
public:
    // Called by the statement around each call that waits for the server. Attach is false when the
    // canceller was cancelled already: the statement must not run.
    bool Attach(void* statementHandle);
    void Detach();
    // From any thread: cancels the attached statement, if any, and every later one.
    void Cancel();
    bool Cancelled() const;

private:
    mutable std::mutex mutex_;
    void* statement_ = nullptr;
    bool cancelled_ = false;
};

}  // namespace kestrane
