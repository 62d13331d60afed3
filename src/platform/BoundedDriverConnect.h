#pragma once
// SQLDriverConnectW on a thread of its own, so that the caller's wait has an end even when the driver's
// does not (a server that takes the connection and never answers, a driver that ignores its login
// timeout), and so that Stop can end it: a connect cannot be cancelled once it is in the driver.
//
// A connect given up on keeps its thread, its connection handle and a share of the environment until the
// driver returns, and then frees them. While several such connects are still in their drivers, a new one
// is refused at once instead of adding another thread that may never end.
#include <chrono>
#include <memory>
#include <string>

namespace kestrane {

class OdbcCanceller;

enum class DriverConnectOutcome {
    Returned,        // the driver returned: see returnCode
    Cancelled,       // the canceller was cancelled first; the handle went with the abandoned worker
    TimedOut,        // the limit passed first; the handle went with the abandoned worker
    TooManyWaiting,  // not started: too many abandoned connects are still in their drivers
};

struct DriverConnectResult {
    DriverConnectOutcome outcome = DriverConnectOutcome::Returned;
    short returnCode = -1;  // SQLDriverConnectW's, when Returned
};

// Connects `dbc`, a connection handle of `environment`, with `connectionText` (wiped once the driver is
// done with it). Waits until the driver returns, `canceller` (may be null) is cancelled or `limit` has
// passed (zero: no limit). After Cancelled or TimedOut the caller must neither use nor free `dbc`.
DriverConnectResult ConnectWithinLimit(std::shared_ptr<void> environment, void* dbc, std::u16string connectionText,
                                       const OdbcCanceller* canceller, std::chrono::milliseconds limit);

// Connects given up on whose drivers have not returned yet.
int AbandonedConnectsWaiting();

}  // namespace kestrane
