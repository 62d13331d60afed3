#pragma once
// The SQL Server Resolution Protocol as the instance scan uses it: the one-byte request, and the
// server-response datagram, read as "host\instance" names.
//
// SVR_RESP datagram:
//   offset  width  meaning
//   0       1      0x05
//   1       2      RESP_SIZE, little-endian: bytes of text that follow
//   3       n      text in the server's 8-bit code page: per instance
//                  "ServerName;H;InstanceName;I;IsClustered;No;Version;V;tcp;1433;;" (key;value pairs,
//                  the instance ended by ";;")
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ByteReader.h"

namespace kestrane {

constexpr uint8_t kSsrpBroadcastRequest = 0x02;  // CLNT_BCAST_EX: every instance of every host
constexpr uint8_t kSsrpUnicastRequest = 0x03;    // CLNT_UCAST_EX: every instance of one host
constexpr uint8_t kSsrpServerResponse = 0x05;    // SVR_RESP

// The server names of one reply: "host\instance", or "host" alone for the default instance
// (MSSQLSERVER). A datagram that is not a response gives none; a truncated one gives the instances it
// holds whole; an instance without a server or instance name, or with a control character in one, is
// passed over.
std::vector<std::wstring> ParseSsrpResponse(ByteView datagram);

}  // namespace kestrane
