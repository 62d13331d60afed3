#pragma once
// A resolution-protocol responder of the tests' own on 127.0.0.1: it answers the first request it gets
// with the given datagrams, then ends. Nothing is ever sent anywhere but back to the asker.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <thread>
#include <vector>

namespace kestrane::test {

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

}  // namespace kestrane::test
