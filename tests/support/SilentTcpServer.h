#pragma once
// A server on 127.0.0.1 that takes every TCP connection, reads what it is sent and never sends a byte
// nor closes, until the object goes: a SQL Server that hangs before its first answer.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace kestrane::test {

class SilentTcpServer {
public:
    SilentTcpServer();
    ~SilentTcpServer();
    SilentTcpServer(const SilentTcpServer&) = delete;
    SilentTcpServer& operator=(const SilentTcpServer&) = delete;

    bool running() const { return port_ > 0; }
    // "127.0.0.1,<port>", the server name as the drivers take it.
    std::wstring server() const { return L"127.0.0.1," + std::to_wstring(port_); }
    // Connections taken so far.
    int connections() const { return connections_; }

private:
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace kestrane::test
