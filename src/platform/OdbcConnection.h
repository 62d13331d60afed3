#pragma once
// Our thin layer over the ODBC driver manager (unixODBC): an environment and a connection as RAII
// objects. A failed call throws OdbcError with every diagnostic record of its handle.
#include <memory>
#include <string>
#include <vector>

#include "platform/OdbcError.h"

namespace kestrane {

class OdbcCanceller;

class OdbcEnvironment {
public:
    OdbcEnvironment();  // ODBC 3.8 behaviour (driver-specific C types for time and datetimeoffset)
    ~OdbcEnvironment();
    OdbcEnvironment(const OdbcEnvironment&) = delete;
    OdbcEnvironment& operator=(const OdbcEnvironment&) = delete;

    void* handle() const { return env_.get(); }
    // A share of the handle, for a connect that may outlive this object (see BoundedDriverConnect.h).
    std::shared_ptr<void> shared() const { return env_; }
    // The driver names registered with the driver manager.
    std::vector<std::wstring> InstalledDrivers() const;

private:
    std::shared_ptr<void> env_;
};

class OdbcConnection {
public:
    explicit OdbcConnection(OdbcEnvironment& environment);
    ~OdbcConnection();  // disconnects when open
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // Connects without prompting. `driver` names the driver in errors; a driver that the driver manager
    // does not know gives an error whose DriverMissing() is true. The UTF-16 copy of the string (which
    // may hold a password) is wiped once the driver is done with it. The login timeout bounds the
    // connection and the login both (a server that accepts the socket and never answers); should the
    // driver not keep to it, the wait ends a few seconds later all the same (HYT00), and the canceller's
    // Cancel ends it at once (HY008).
    void Open(const std::wstring& connectionString, const std::wstring& driver, int loginTimeoutSeconds = 15);
    // Every statement made on this connection afterwards waits at most this long for the server (0: no
    // limit) and may be cancelled through `canceller` (may be null) from another thread.
    void SetQueryTimeout(int seconds) { queryTimeoutSeconds_ = seconds; }
    int queryTimeoutSeconds() const { return queryTimeoutSeconds_; }
    void SetCanceller(OdbcCanceller* canceller) { canceller_ = canceller; }
    OdbcCanceller* canceller() const { return canceller_; }
    void Close();
    bool IsOpen() const { return open_; }
    // Runs one statement as text (no parameters); its results are discarded.
    void Execute(const std::wstring& statement);

    void* handle() const { return dbc_; }
    const std::wstring& driver() const { return driver_; }

private:
    OdbcEnvironment& environment_;
    void* dbc_ = nullptr;
    bool open_ = false;
    std::wstring driver_;
    int queryTimeoutSeconds_ = 0;
    OdbcCanceller* canceller_ = nullptr;
};

// What SQLBrowseConnectW gave for a connection text: its return code and its output text.
struct OdbcBrowseResult {
    short returnCode = -1;
    std::wstring output;
};
// Asks the driver manager to browse `connectionText` on a connection of its own (environment, ODBC 3,
// connection, SQLBrowseConnectW with a 4824-character buffer, disconnect, free). Never throws.
OdbcBrowseResult OdbcBrowseConnect(const std::wstring& connectionText);

// Reads every diagnostic record of an ODBC handle (handleType as in SQLGetDiagRecW).
std::vector<OdbcDiagnostic> ReadOdbcDiagnostics(short handleType, void* handle);

// UTF-16 (SQLWCHAR) text to and from wide text; characters beyond U+FFFF become surrogate pairs.
std::u16string WideToSqlText(const std::wstring& text);
std::wstring SqlTextToWide(const char16_t* text, size_t length);

}  // namespace kestrane
