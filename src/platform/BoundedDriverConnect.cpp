#include "platform/BoundedDriverConnect.h"

#include <sql.h>
#include <sqlext.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/OdbcCanceller.h"

namespace kestrane {

namespace {

// Each abandoned connect holds a thread and a socket until its driver returns; past this many, new
// connects are refused rather than piled up.
constexpr int kMostAbandoned = 8;
constexpr auto kPollStep = std::chrono::milliseconds(50);

struct AbandonedCount {
    std::mutex mutex;
    int waiting = 0;
};

AbandonedCount& Abandoned() {
    static AbandonedCount* count = new AbandonedCount;  // never destroyed: workers may outlive main
    return *count;
}

struct Attempt {
    std::mutex mutex;
    std::condition_variable returned;
    bool finished = false;
    bool abandoned = false;
    SQLRETURN returnCode = SQL_ERROR;
    std::shared_ptr<void> environment;
    SQLHDBC dbc = SQL_NULL_HDBC;
    std::u16string text;
};

void Wipe(std::u16string& text) {
    volatile char16_t* p = text.data();
    for (size_t i = 0; i < text.size(); ++i) p[i] = 0;
    text.clear();
}

void RunAttempt(const std::shared_ptr<Attempt>& attempt) {
    const SQLRETURN rc =
        SQLDriverConnectW(attempt->dbc, nullptr, reinterpret_cast<SQLWCHAR*>(attempt->text.data()),
                          static_cast<SQLSMALLINT>(attempt->text.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    Wipe(attempt->text);
    {
        std::lock_guard<std::mutex> lock(attempt->mutex);
        attempt->returnCode = rc;
        attempt->finished = true;
        if (!attempt->abandoned) {
            attempt->returned.notify_all();
            return;
        }
    }
    // Nobody waits for this connection any more: end it and give its handles back.
    if (SQL_SUCCEEDED(rc)) SQLDisconnect(attempt->dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, attempt->dbc);
    attempt->environment.reset();
    std::lock_guard<std::mutex> lock(Abandoned().mutex);
    --Abandoned().waiting;
}

}  // namespace

int AbandonedConnectsWaiting() {
    std::lock_guard<std::mutex> lock(Abandoned().mutex);
    return Abandoned().waiting;
}

DriverConnectResult ConnectWithinLimit(std::shared_ptr<void> environment, void* dbc, std::u16string connectionText,
                                       const OdbcCanceller* canceller, std::chrono::milliseconds limit) {
    if (AbandonedConnectsWaiting() >= kMostAbandoned) {
        Wipe(connectionText);
        return {DriverConnectOutcome::TooManyWaiting};
    }
    auto attempt = std::make_shared<Attempt>();
    attempt->environment = std::move(environment);
    attempt->dbc = dbc;
    attempt->text = std::move(connectionText);
    std::thread worker([attempt] { RunAttempt(attempt); });

    const auto deadline = std::chrono::steady_clock::now() + limit;
    DriverConnectOutcome outcome = DriverConnectOutcome::Returned;
    std::unique_lock<std::mutex> lock(attempt->mutex);
    while (!attempt->finished) {
        if (canceller && canceller->Cancelled()) {
            outcome = DriverConnectOutcome::Cancelled;
            break;
        }
        if (limit.count() > 0 && std::chrono::steady_clock::now() >= deadline) {
            outcome = DriverConnectOutcome::TimedOut;
            break;
        }
        attempt->returned.wait_for(lock, kPollStep);
    }
    if (attempt->finished) {
        const short rc = attempt->returnCode;
        lock.unlock();
        worker.join();
        return {DriverConnectOutcome::Returned, rc};
    }
    // Counted while the attempt is locked, so the worker's decrement always comes after.
    attempt->abandoned = true;
    {
        std::lock_guard<std::mutex> countLock(Abandoned().mutex);
        ++Abandoned().waiting;
    }
    lock.unlock();
    worker.detach();
    return {outcome};
}

}  // namespace kestrane
