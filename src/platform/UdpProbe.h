#pragma once
// One UDP request and the replies that come back within a short wait: how the SQL Server Resolution
// Protocol asks a network (or one host) which instances it has.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ByteReader.h"

namespace kestrane {

struct UdpProbeTarget {
    std::string address;  // IPv4 dotted text, e.g. "255.255.255.255" or "127.0.0.1"
    uint16_t port = 0;
    bool broadcast = false;  // allows a broadcast address
    std::chrono::milliseconds wait{1500};
};

// Sends `request` once and returns every datagram received until the wait ends. A socket that cannot
// be made, an address that does not parse or a send that fails gives no replies.
std::vector<std::vector<uint8_t>> CollectUdpReplies(const UdpProbeTarget& target, ByteView request);

}  // namespace kestrane
