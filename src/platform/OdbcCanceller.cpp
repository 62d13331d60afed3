#include "platform/OdbcCanceller.h"

#include <sql.h>

namespace kestrane {

bool OdbcCanceller::Attach(void* statementHandle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return false;
    statement_ = statementHandle;
    return true;
}

void OdbcCanceller::Detach() {
    // Holding the lock here keeps a Cancel in progress from outliving the handle.
    std::lock_guard<std::mutex> lock(mutex_);
    statement_ = nullptr;
}

void OdbcCanceller::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    if (statement_) SQLCancel(statement_);
}

bool OdbcCanceller::Cancelled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

}  // namespace kestrane
