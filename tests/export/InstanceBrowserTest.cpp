// The instance scan: the browse text of an ODBC driver, the resolution protocol's replies, and the
// whole scan against a responder of our own on 127.0.0.1 (the tests never send anywhere else).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "export/SQLInfoEnumerator.h"
#include "export/SsrpResponse.h"

namespace kestrane {
namespace {

using Names = std::vector<std::wstring>;

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

// Answers one CLNT_UCAST_EX request on 127.0.0.1 with the given datagrams.
class Responder {
public:
    explicit Responder(std::vector<std::vector<uint8_t>> replies) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        socklen_t length = sizeof at;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this, replies = std::move(replies)] {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) return;
            uint8_t request[16];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fd_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n > 0) requestByte_ = request[0];
            for (const auto& reply : replies)
                sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        });
    }
    ~Responder() {
        thread_.join();
        close(fd_);
    }
    uint16_t port() const { return port_; }
    int requestByte() const { return requestByte_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    int requestByte_ = -1;
    std::thread thread_;
};

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
