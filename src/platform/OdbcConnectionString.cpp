#include "platform/OdbcConnectionString.h"

#include "platform/OdbcError.h"

namespace kestrane {

const std::vector<std::wstring>& SqlServerDriverNames() {
    static const std::vector<std::wstring> names = {L"ODBC Driver 18 for SQL Server", L"ODBC Driver 17 for SQL Server",
                                                    L"FreeTDS"};
    return names;
}

const std::vector<std::wstring>& FreeTdsProtocolVersions() {
    static const std::vector<std::wstring> versions = {L"7.4", L"7.3", L"7.2", L"7.1"};
    return versions;
}

std::wstring BraceConnectionValue(const std::wstring& value) {
    std::wstring out = L"{";
    for (wchar_t c : value) {
        out += c;
        if (c == L'}') out += L'}';
    }
    return out + L"}";
}

std::wstring BuildConnectionString(const OdbcLogin& login, const std::wstring& protocolVersion) {
    const bool freeTds = login.driver == L"FreeTDS";
    for (const std::wstring* value : {&login.driver, &login.server, &login.database, &login.user, &login.password}) {
        const bool nul = value->find(L'\0') != std::wstring::npos;
        if (nul || (freeTds && value->find(L'}') != std::wstring::npos))
            throw OdbcError(OdbcError::Stage::Connect,
                            {{"HY000", 0,
                              nul ? L"A connection value (server, database, user name or password) holds a NUL character"
                                  : L"The driver cannot take a \"}\" in the server, database, user name or password"}},
                            login.driver);
    }
    std::wstring text = L"Driver=" + BraceConnectionValue(login.driver) + L";Server=" + BraceConnectionValue(login.server) +
                        L";Database=" + BraceConnectionValue(login.database) + L";";
    if (login.user.empty())
        text += L"Trusted_Connection=Yes;";
    else
        text += L"UID=" + BraceConnectionValue(login.user) + L";PWD=" + BraceConnectionValue(login.password) + L";";
    if (freeTds)
        text += L"TDS_Version=" + (protocolVersion.empty() ? FreeTdsProtocolVersions().front() : protocolVersion) +
                L";";
    return text;
}

}  // namespace kestrane
