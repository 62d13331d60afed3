// The instance scan: the browse text of an ODBC driver, the resolution protocol's replies, and the
// whole scan against a responder of our own on 127.0.0.1 (the tests never send anywhere else).

#include <gtest/gtest.h>

#include "export/SQLInfoEnumerator.h"
#include "export/SsrpResponse.h"
#include "support/SsrpResponder.h"

namespace kestrane {
namespace {

using Names = std::vector<std::wstring>;
using test::Responder;

std::vector<uint8_t> Response(const std::string& text, int declaredSize = -1) {
    const size_t size = declaredSize < 0 ? text.size() : static_cast<size_t>(declaredSize);
    std::vector<uint8_t> datagram = {kSsrpServerResponse, uint8_t(size & 0xFF), uint8_t(size >> 8)};
    datagram.insert(datagram.end(), text.begin(), text.end());
    return datagram;
}

TEST(InstanceBrowser, BrowseOutputListsTheServerKeysNames) {
    const std::wstring key = L"SERVER:Server=";
    const std::vector<std::pair<std::wstring, Names>> cases = {
        {L"SERVER:Server={one,two\\inst};UID:Login ID=?", {L"one", L"two\\inst"}},
        {L"SERVER:Server={ a , ,b ,};", {L"a", L"b"}},
        {L"SERVER:Server={solo}", {L"solo"}},
        {L"DATABASE:Database={x}", {}},
        {L"SERVER:Server=one,two", {}},
        {L"SERVER:Server={one,two", {}},
        {L"", {}},
    };
    for (const auto& [output, names] : cases) EXPECT_EQ(CSQLInfoEnumerator::ParseBrowseOutput(output, key), names);

    std::vector<std::wstring> target = {L"stale"};
    CSQLInfoEnumerator::SplitList(L"  x;;y ; ", target, L';');
    EXPECT_EQ(target, (Names{L"x", L"y"}));
}

TEST(InstanceBrowser, ResolutionRepliesBecomeHostInstanceNames) {
    const std::string two = "ServerName;DB1;InstanceName;MSSQLSERVER;IsClustered;No;Version;15.0.2000.5;tcp;1433;;"
                            "ServerName;DB1;InstanceName;SQLEXPRESS;IsClustered;No;Version;16.0.1000.6;tcp;50100;;";
    const std::vector<std::pair<std::vector<uint8_t>, Names>> cases = {
        {Response(two), {L"DB1", L"DB1\\SQLEXPRESS"}},
        // Cut off inside the second instance: the whole first one is kept.
        {Response(two.substr(0, two.size() - 20)), {L"DB1"}},
        // The size says more than the datagram holds, or less than its text.
        {Response(two, 4000), {L"DB1", L"DB1\\SQLEXPRESS"}},
        {Response(two, 60), {}},
        {Response("InstanceName;X;ServerName;H2;tcp;1433;;"), {L"H2\\X"}},
        {Response("ServerName;;InstanceName;X;;ServerName;H\x01;InstanceName;Y;;ServerName;H3;;"), {}},
        {Response("garbage without pairs;;;;"), {}},
        {{0x04, 0x05, 0x00, 'a', 'b', 'c', ';', ';'}, {}},
        {{kSsrpServerResponse, 0x10}, {}},
        {{}, {}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ParseSsrpResponse(ByteView(cases[i].first)), cases[i].second);
    }
}

TEST(InstanceBrowser, ScanAsksTheNetworkWhenNoDriverCanBrowse) {
    CSQLInfoEnumerator enumerator;
    {
        Responder responder({Response("ServerName;A;InstanceName;MSSQLSERVER;tcp;1433;;ServerName;A;InstanceName;I1;;"),
                             Response("ServerName;B;InstanceName;I2;;ServerName;A;InstanceName;I1;;ServerName;C;Inst"),
                             {0x05}});
        EXPECT_EQ(enumerator.EnumerateServers({"127.0.0.1", responder.port(), false, std::chrono::milliseconds(500)}), 1);
        EXPECT_EQ(enumerator.servers(), (Names{L"A", L"A\\I1", L"B\\I2"}));
        // Neither unixODBC's SQL Server drivers here nor FreeTDS could browse.
        EXPECT_NE(enumerator.returnCode(), 0);
        EXPECT_EQ(responder.requestByte(), kSsrpUnicastRequest);
    }
    // Nobody answers: an empty list, and the scan still ends.
    Responder silent({});
    enumerator.EnumerateServers({"127.0.0.1", silent.port(), false, std::chrono::milliseconds(200)});
    EXPECT_TRUE(enumerator.servers().empty());
}

}  // namespace
}  // namespace kestrane
