#include "platform/OdbcConnection.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/BoundedDriverConnect.h"
#include "platform/OdbcStatement.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use 16-bit SQLWCHAR");

SQLWCHAR* Sql(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

// How long past its own login timeout a driver may take before the wait for it is given up.
constexpr auto kDriverGrace = std::chrono::seconds(5);

}  // namespace

std::u16string WideToSqlText(const std::wstring& text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF) c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::wstring SqlTextToWide(const char16_t* text, size_t length) {
    std::vector<uint8_t> bytes(length * 2);
    if (length) std::memcpy(bytes.data(), text, bytes.size());
    return Utf16LeToWide(ByteView(bytes.data(), bytes.size()));
}

std::vector<OdbcDiagnostic> ReadOdbcDiagnostics(short handleType, void* handle) {
    std::vector<OdbcDiagnostic> records;
    for (SQLSMALLINT i = 1; handle != nullptr && i < 64; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[2048];
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(handleType, handle, i, state, &native, message,
                                            sizeof message / sizeof message[0], &length);
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
        OdbcDiagnostic d;
        for (int k = 0; k < 5 && state[k]; ++k) d.sqlState += static_cast<char>(state[k]);
        d.nativeError = native;
        const size_t shown = std::min<size_t>(std::max<SQLSMALLINT>(length, 0), sizeof message / sizeof message[0] - 1);
        d.message = SqlTextToWide(reinterpret_cast<const char16_t*>(message), shown);
        records.push_back(std::move(d));
    }
    return records;
}

OdbcEnvironment::OdbcEnvironment() {
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        throw OdbcError(OdbcError::Stage::Environment, {{"HY001", 0, L"The ODBC environment could not be created"}});
    if (!SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3_80), 0))) {
        auto records = ReadOdbcDiagnostics(SQL_HANDLE_ENV, env);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        throw OdbcError(OdbcError::Stage::Environment, std::move(records));
    }
    // Freed with the last share: a connect that was given up on may still hold one.
    env_ = std::shared_ptr<void>(env, [](void* handle) { SQLFreeHandle(SQL_HANDLE_ENV, handle); });
}

OdbcEnvironment::~OdbcEnvironment() = default;

std::vector<std::wstring> OdbcEnvironment::InstalledDrivers() const {
    std::vector<std::wstring> names;
    SQLWCHAR name[512], attributes[2048];
    SQLSMALLINT nameLength = 0, attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDriversW(env_.get(), direction, name, 512, &nameLength, attributes, 2048, &attributesLength))) {
        names.push_back(SqlTextToWide(reinterpret_cast<const char16_t*>(name), std::clamp<SQLSMALLINT>(nameLength, 0, 511)));
        direction = SQL_FETCH_NEXT;
    }
    return names;
}

OdbcBrowseResult OdbcBrowseConnect(const std::wstring& connectionText) {
    OdbcBrowseResult result;
    SQLHENV env = SQL_NULL_HENV;
    result.returnCode = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    if (!SQL_SUCCEEDED(result.returnCode)) return result;
    result.returnCode = SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (SQL_SUCCEEDED(result.returnCode)) result.returnCode = SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (SQL_SUCCEEDED(result.returnCode)) {
        std::u16string text = WideToSqlText(connectionText);
        std::vector<SQLWCHAR> out(4824, 0);
        SQLSMALLINT length = 0;
        result.returnCode = SQLBrowseConnectW(dbc, Sql(text), static_cast<SQLSMALLINT>(text.size()), out.data(),
                                              static_cast<SQLSMALLINT>(out.size()), &length);
        const size_t shown = std::min<size_t>(std::max<SQLSMALLINT>(length, 0), out.size() - 1);
        if (result.returnCode == SQL_NEED_DATA || SQL_SUCCEEDED(result.returnCode))
            result.output = SqlTextToWide(reinterpret_cast<const char16_t*>(out.data()), shown);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return result;
}

OdbcConnection::OdbcConnection(OdbcEnvironment& environment) : environment_(environment) {
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment.handle(), &dbc)))
        throw OdbcError(OdbcError::Stage::Environment, ReadOdbcDiagnostics(SQL_HANDLE_ENV, environment.handle()));
    dbc_ = dbc;
}

OdbcConnection::~OdbcConnection() {
    Close();
    if (dbc_) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

void OdbcConnection::Open(const std::wstring& connectionString, const std::wstring& driver, int loginTimeoutSeconds) {
    Close();
    driver_ = driver;
    if (!dbc_) throw OdbcError(OdbcError::Stage::Connect, {{"HY001", 0, L"No connection handle"}}, driver);
    const auto timeout = reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(loginTimeoutSeconds));
    SQLSetConnectAttrW(dbc_, SQL_ATTR_LOGIN_TIMEOUT, timeout, 0);
    SQLSetConnectAttrW(dbc_, SQL_ATTR_CONNECTION_TIMEOUT, timeout, 0);
    const auto began = std::chrono::steady_clock::now();
    const auto limit = loginTimeoutSeconds > 0 ? std::chrono::milliseconds(std::chrono::seconds(loginTimeoutSeconds) + kDriverGrace)
                                               : std::chrono::milliseconds(0);
    const DriverConnectResult result =
        ConnectWithinLimit(environment_.shared(), dbc_, WideToSqlText(connectionString), canceller_, limit);
    switch (result.outcome) {
        case DriverConnectOutcome::Returned:
            break;
        case DriverConnectOutcome::Cancelled:
        case DriverConnectOutcome::TimedOut: {
            // The handle went with the driver's call; this connection goes on with a new one.
            SQLHDBC dbc = SQL_NULL_HDBC;
            dbc_ = SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment_.handle(), &dbc)) ? dbc : nullptr;
            if (result.outcome == DriverConnectOutcome::Cancelled)
                throw OdbcError(OdbcError::Stage::Connect, {{"HY008", 0, L"Operation canceled while connecting"}}, driver);
            throw OdbcError(OdbcError::Stage::Connect,
                            {{"HYT00", 0, L"Login timeout expired: the driver did not return in time"}}, driver);
        }
        case DriverConnectOutcome::TooManyWaiting:
            throw OdbcError(OdbcError::Stage::Connect,
                            {{"HYT00", 0,
                              L"Login timeout expired: earlier connections to servers that did not answer are still "
                              L"waiting in the driver"}},
                            driver);
    }
    if (SQL_SUCCEEDED(result.returnCode)) {
        open_ = true;
        return;
    }
    auto records = ReadOdbcDiagnostics(SQL_HANDLE_DBC, dbc_);
    // FreeTDS reports a pre-login that timed out as the server's end of file: the clock tells.
    const bool timedOut = std::any_of(records.begin(), records.end(), [](const auto& r) { return r.sqlState == "HYT00"; });
    if (!timedOut && loginTimeoutSeconds > 0 &&
        std::chrono::steady_clock::now() - began >= std::chrono::seconds(loginTimeoutSeconds) - std::chrono::milliseconds(200))
        records.insert(records.begin(), {"HYT00", 0, L"Login timeout expired"});
    OdbcError error(OdbcError::Stage::Connect, std::move(records), driver);
    // unixODBC reports an unknown driver name as a library it cannot open (SQLSTATE 01000).
    const auto installed = environment_.InstalledDrivers();
    if (!driver.empty() && std::find(installed.begin(), installed.end(), driver) == installed.end())
        error.MarkDriverMissing();
    throw error;
}

void OdbcConnection::Close() {
    if (!open_) return;
    SQLDisconnect(dbc_);
    open_ = false;
}

void OdbcConnection::Execute(const std::wstring& statement) {
    OdbcStatement(*this).ExecuteDirect(statement);
}

}  // namespace kestrane
