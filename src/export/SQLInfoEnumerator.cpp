#include "export/SQLInfoEnumerator.h"

#include <algorithm>

#include "export/SsrpResponse.h"
#include "platform/OdbcConnection.h"
#include "platform/OdbcConnectionString.h"

namespace kestrane {

namespace {

std::wstring Trim(const std::wstring& text) {
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
    size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

int CSQLInfoEnumerator::ClearAll() {
    servers_.clear();
    return 1;
}

int CSQLInfoEnumerator::SplitList(std::wstring text, std::vector<std::wstring>& target, wchar_t separator) {
    text = Trim(text);
    target.clear();
    if (text.empty() || text.back() != separator) text += separator;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find(separator, start);
        const std::wstring part = Trim(text.substr(start, end - start));
        if (!part.empty()) target.push_back(part);
        start = end + 1;
    }
    return 1;
}

std::vector<std::wstring> CSQLInfoEnumerator::ParseBrowseOutput(const std::wstring& output, const std::wstring& key) {
    std::vector<std::wstring> names;
    const size_t at = output.find(key);
    if (at == std::wstring::npos) return names;
    const std::wstring behind = output.substr(at + key.size());
    const size_t open = behind.find(L'{');
    if (open == std::wstring::npos) return names;
    const std::wstring list = behind.substr(open + 1);
    const size_t close = list.find(L'}');
    if (close == std::wstring::npos) return names;
    SplitList(list.substr(0, close), names, L',');
    return names;
}

int CSQLInfoEnumerator::BrowseAndCollect(const std::wstring& connectionText, const std::wstring& key,
                                         std::vector<std::wstring>& target) {
    const OdbcBrowseResult result = OdbcBrowseConnect(connectionText);
    returnCode_ = result.returnCode;
    if (!result.output.empty()) target = ParseBrowseOutput(result.output, key);
    return 1;
}

int CSQLInfoEnumerator::EnumerateServers(const UdpProbeTarget& target) {
    ClearAll();
    for (const auto& driver : SqlServerDriverNames()) {
        BrowseAndCollect(L"Driver=" + BraceConnectionValue(driver), L"SERVER:Server=", servers_);
        if (!servers_.empty()) return 1;
    }
    const uint8_t request = target.broadcast ? kSsrpBroadcastRequest : kSsrpUnicastRequest;
    for (const auto& reply : CollectUdpReplies(target, ByteView(&request, 1)))
        for (auto& name : ParseSsrpResponse(reply))
            if (std::find(servers_.begin(), servers_.end(), name) == servers_.end()) servers_.push_back(std::move(name));
    return 1;
}

}  // namespace kestrane
