#pragma once
// The test TDS endpoint (tests/tools/tds_endpoint.py) as a child process on 127.0.0.1: started with a
// set of rules, read back through the JSON lines it records, stopped when the object goes.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kestrane::test {

// "" when python3 and the FreeTDS driver are there; else why the endpoint tests cannot run.
std::string TdsEndpointUnavailable();

class TdsEndpoint {
public:
    // `rules`: the JSON list of rules the endpoint answers by (see the script).
    explicit TdsEndpoint(const nlohmann::json& rules = nlohmann::json::array());
    ~TdsEndpoint();
    TdsEndpoint(const TdsEndpoint&) = delete;
    TdsEndpoint& operator=(const TdsEndpoint&) = delete;

    bool running() const { return port_ > 0; }
    // "127.0.0.1,<port>", the server name as the drivers take it.
    std::wstring server() const;
    // Every recorded event, or those of one kind ("login", "batch", "rpc", "execute", "error"...).
    std::vector<nlohmann::json> Events(const std::string& event = {}) const;
    // The texts of the statements run, in order.
    std::vector<std::wstring> Statements() const;
    // The whole record as text, for checks that something never reached the server.
    std::string RecordText() const;

private:
    int pid_ = -1;
    int port_ = 0;
    std::string folder_;
};

}  // namespace kestrane::test

// Skips the current test when the endpoint cannot run here.
#define KESTRANE_REQUIRE_TDS_ENDPOINT()                                                  \
    do {                                                                                 \
        if (std::string why = ::kestrane::test::TdsEndpointUnavailable(); !why.empty())  \
            GTEST_SKIP() << why;                                                         \
    } while (0)
