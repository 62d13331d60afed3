#include "platform/OdbcError.h"

#include "platform/TextCodec.h"

namespace kestrane {

namespace {

std::string Summary(const std::vector<OdbcDiagnostic>& records) {
    if (records.empty()) return "ODBC call failed";
    return "[" + records.front().sqlState + "] " + WideToUtf8(records.front().message);
}

}  // namespace

OdbcError::OdbcError(Stage stage, std::vector<OdbcDiagnostic> records, std::wstring driver)
    : std::runtime_error(Summary(records)), stage_(stage), records_(std::move(records)), driver_(std::move(driver)) {}

std::string OdbcError::sqlState() const { return records_.empty() ? std::string() : records_.front().sqlState; }

int32_t OdbcError::nativeError() const {
    for (const auto& r : records_)
        if (r.nativeError != 0) return r.nativeError;
    return 0;
}

bool OdbcError::HasClass(const char* stateClass) const {
    for (const auto& r : records_)
        if (r.sqlState.compare(0, 2, stateClass) == 0) return true;
    return false;
}

bool OdbcError::HasState(const char* sqlState) const {
    for (const auto& r : records_)
        if (r.sqlState == sqlState) return true;
    return false;
}

bool OdbcError::LoginDropped() const {
    if (stage_ != Stage::Connect || TimedOut() || Cancelled()) return false;
    // FreeTDS's own message numbers, which its ODBC driver reports as native errors.
    constexpr int32_t kEndOfFile = 20017, kReadFailed = 20004, kBadToken = 20020, kUnknownVersion = 20146;
    for (const auto& r : records_)
        if (r.nativeError == kEndOfFile || r.nativeError == kReadFailed || r.nativeError == kBadToken ||
            r.nativeError == kUnknownVersion)
            return true;
    return false;
}

bool OdbcError::DriverMissing() const {
    if (driverMissing_) return true;
    for (const auto& r : records_)
        if (r.sqlState == "IM002" || r.sqlState == "IM003") return true;
    return false;
}

std::wstring OdbcError::Description() const {
    std::wstring text;
    if (!driver_.empty()) text = L"ODBC driver \"" + driver_ + L"\": ";
    for (size_t i = 0; i < records_.size(); ++i) {
        if (i) text += L'\n';
        text += records_[i].message;
    }
    if (records_.empty()) text += L"ODBC call failed";
    return text;
}

}  // namespace kestrane
