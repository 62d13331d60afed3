#include "platform/UdpProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrane {

std::vector<std::vector<uint8_t>> CollectUdpReplies(const UdpProbeTarget& target, ByteView request) {
    std::vector<std::vector<uint8_t>> replies;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(target.port);
    if (inet_pton(AF_INET, target.address.c_str(), &to.sin_addr) != 1) return replies;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return replies;
    const int on = 1;
    if (target.broadcast) setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
        static_cast<ssize_t>(request.size())) {
        std::vector<uint8_t> buffer(65536);
        const auto end = std::chrono::steady_clock::now() + target.wait;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n < 0) break;
            replies.emplace_back(buffer.begin(), buffer.begin() + n);
        }
    }
    close(fd);
    return replies;
}

}  // namespace kestrane
