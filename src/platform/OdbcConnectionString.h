#pragma once
// Connection strings for the SQL Server ODBC drivers. Every value is braced with "}" doubled, so that a
// server name, user name or password holding ";" or "}" cannot add keywords of its own.
#include <string>
#include <vector>

namespace kestrane {

// The drivers tried in order, best first.
const std::vector<std::wstring>& SqlServerDriverNames();

// The protocol versions named to FreeTDS, newest first. Its own default ("auto") tries a second, older
// protocol after a login that timed out, and that attempt never ends on a server that stays silent.
const std::vector<std::wstring>& FreeTdsProtocolVersions();

struct OdbcLogin {
    std::wstring driver;
    std::wstring server;
    std::wstring database;  // empty for the steps that work at server level
    std::wstring user;      // empty: integrated (Kerberos) login
    std::wstring password;
};

// "Driver={...};Server={...};Database={...};" then "Trusted_Connection=Yes;" or "UID={...};PWD={...};",
// and for FreeTDS "TDS_Version=...;", whatever its configuration file says.
// Throws OdbcError (stage Connect) when a value cannot be written safely for the driver: a NUL
// character anywhere, or a "}" for FreeTDS, whose parser ends a braced value at the first "};" and does
// not undo the doubling.
// `protocolVersion` is FreeTDS's (empty: the first of FreeTdsProtocolVersions()); other drivers ignore it.
std::wstring BuildConnectionString(const OdbcLogin& login, const std::wstring& protocolVersion = {});

// "{" + value with every "}" doubled + "}".
std::wstring BraceConnectionValue(const std::wstring& value);

}  // namespace kestrane
