#pragma once
// A resolution-protocol responder of the tests' own on 127.0.0.1: it answers the first request it gets
// with the given datagrams, then ends (after `waitMs` without one, or when it is destroyed). Nothing is
// ever sent anywhere but back to the asker.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace kestrane::test {

class Responder {
public:
    explicit Responder(std::vector<std::vector<uint8_t>> replies, int waitMs = 5000) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        socklen_t length = sizeof at;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this, waitMs, replies = std::move(replies)] {
            pollfd p{fd_, POLLIN, 0};
            const bool asked = poll(&p, 1, waitMs) > 0;
            done_ = true;
            if (!asked) return;
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
        if (!done_) {  // wakes the wait with a datagram to itself
            sockaddr_in self{};
            socklen_t length = sizeof self;
            getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &length);
            const uint8_t wake = 0;
            sendto(fd_, &wake, 1, 0, reinterpret_cast<sockaddr*>(&self), length);
        }
        thread_.join();
        close(fd_);
    }
    uint16_t port() const { return port_; }
    int requestByte() const { return requestByte_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    int requestByte_ = -1;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace kestrane::test
