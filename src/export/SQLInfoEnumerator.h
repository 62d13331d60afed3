#pragma once
// Lists the SQL Server instances that can be seen from here, for the save options' server list. It asks
// each SQL Server ODBC driver to browse ("Driver={...}", the server key's braced list); when no driver
// can (FreeTDS cannot, nor can unixODBC without a browsing driver), it asks the network through the SQL
// Server Resolution Protocol and offers "host\instance" names. The call blocks for the protocol's wait.
#include <string>
#include <vector>

#include "platform/UdpProbe.h"

namespace kestrane {

class CSQLInfoEnumerator {
public:
    CSQLInfoEnumerator() { ClearAll(); }
    virtual ~CSQLInfoEnumerator() = default;

    // Where the resolution protocol asks: every host of the local network on UDP port 1434.
    static UdpProbeTarget BroadcastTarget() { return {"255.255.255.255", 1434, true, std::chrono::milliseconds(1500)}; }

    int ClearAll();
    // Fills servers(); `target` is where the resolution protocol asks when no driver can browse.
    int EnumerateServers(const UdpProbeTarget& target = BroadcastTarget());
    // Browses `connectionText` and splits the braced list behind `key` into `target`. Always 1.
    int BrowseAndCollect(const std::wstring& connectionText, const std::wstring& key, std::vector<std::wstring>& target);
    // Trims the text, splits it on `separator` and keeps each trimmed, non-empty part. Always 1.
    static int SplitList(std::wstring text, std::vector<std::wstring>& target, wchar_t separator);
    // The braced list behind `key` in a browse output, split on ","; empty when the key, "{" or "}" is missing.
    static std::vector<std::wstring> ParseBrowseOutput(const std::wstring& output, const std::wstring& key);

    const std::vector<std::wstring>& servers() const { return servers_; }
    short returnCode() const { return returnCode_; }

private:
    short returnCode_ = 0;
    std::vector<std::wstring> servers_;
};

}  // namespace kestrane
