#pragma once
// What a failed ODBC call reports: every diagnostic record of the handle, read at once, carried as one
// exception so that the caller can tell a refused statement (class 42), a broken constraint (class 23)
// and a missing driver apart, as ADO's error codes did.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrane {

struct OdbcDiagnostic {
    std::string sqlState;   // five characters, e.g. "42S01"
    int32_t nativeError = 0;  // the server's error number, 0 for the driver's own
    std::wstring message;
};

class OdbcError : public std::runtime_error {
public:
    // Where the call failed: a connection that never opened is not a statement that the server refused.
    enum class Stage { Environment, Connect, Execute };

    OdbcError(Stage stage, std::vector<OdbcDiagnostic> records, std::wstring driver = {});

    Stage stage() const { return stage_; }
    const std::vector<OdbcDiagnostic>& records() const { return records_; }
    const std::wstring& driver() const { return driver_; }
    // The first record's SQLSTATE ("" when the driver gave none).
    std::string sqlState() const;
    int32_t nativeError() const;
    // True when any record's SQLSTATE begins with the two-character class.
    bool HasClass(const char* stateClass) const;
    // The server rejected the statement (syntax error or access rule: object exists, unknown object...).
    bool Rejected() const { return stage_ == Stage::Execute && HasClass("42"); }
    // A constraint refused the row.
    bool IntegrityViolation() const { return stage_ == Stage::Execute && HasClass("23"); }
    // The server did not answer within the login or query timeout (HYT00, HYT01).
    bool TimedOut() const { return HasState("HYT00") || HasState("HYT01"); }
    // The statement was cancelled from another thread (HY008).
    bool Cancelled() const { return HasState("HY008"); }
    bool HasState(const char* sqlState) const;
    // The server took the connection and then ended the login in a way the driver could not read (FreeTDS:
    // end of file, read failure, unexpected data, unknown protocol version): an older protocol may do.
    bool LoginDropped() const;
    // The driver is not installed (IM002, or the driver manager could not load it).
    bool DriverMissing() const;
    // Every record's message, one a line, led by the driver's name when it is known.
    std::wstring Description() const;

    // Marks the error as one of a driver that the driver manager does not know.
    void MarkDriverMissing() { driverMissing_ = true; }

private:
    Stage stage_;
    std::vector<OdbcDiagnostic> records_;
    std::wstring driver_;
    bool driverMissing_ = false;
};

}  // namespace kestrane
