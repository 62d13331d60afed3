#include "support/SilentTcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrane::test {

SilentTcpServer::SilentTcpServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 || pipe(wake_) != 0) return;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length) != 0)
        return;
    port_ = ntohs(at.sin_port);
    thread_ = std::thread([this] {
        std::vector<pollfd> watched = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        while (poll(watched.data(), watched.size(), -1) >= 0 && !(watched[0].revents & POLLIN)) {
            if (watched[1].revents & POLLIN) {
                const int taken = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (taken >= 0) {
                    watched.push_back({taken, POLLIN, 0});
                    ++connections_;
                }
            }
            for (size_t i = 2; i < watched.size(); ++i) {
                if (!(watched[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                char sink[4096];
                if (read(watched[i].fd, sink, sizeof sink) <= 0) {  // the client gave up
                    close(watched[i].fd);
                    watched[i].fd = -1;
                }
            }
            for (auto& w : watched) w.revents = 0;
        }
        for (size_t i = 2; i < watched.size(); ++i)
            if (watched[i].fd >= 0) close(watched[i].fd);
    });
}

SilentTcpServer::~SilentTcpServer() {
    if (thread_.joinable()) {
        const char stop = 1;
        [[maybe_unused]] const ssize_t n = write(wake_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : {listener_, wake_[0], wake_[1]})
        if (fd >= 0) close(fd);
}

}  // namespace kestrane::test
