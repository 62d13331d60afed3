// Connecting through unixODBC and the FreeTDS driver, configured as setup installs it, to a server that
// takes the connection and never sends a byte: every connect ends, at its login timeout with the string
// the program builds, a few seconds later with a string that leaves the protocol to the driver (whose
// own retry never ends, not even once the server has gone), and at once on Cancel; connects given up on
// are bounded in number and give their place back once their driver returns.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/BoundedDriverConnect.h"
#include "platform/OdbcCanceller.h"
#include "platform/OdbcConnection.h"
#include "platform/OdbcConnectionString.h"
#include "platform/TextCodec.h"
#include "support/SilentTcpServer.h"
#include "support/TdsEndpoint.h"

namespace kestrane {
namespace {

struct Ended {
    double seconds = 0;
    bool timedOut = false, cancelled = false, opened = false;
    std::wstring description;
};

Ended Connect(OdbcEnvironment& env, const std::wstring& text, int timeout, OdbcCanceller* canceller = nullptr) {
    Ended ended;
    OdbcConnection connection(env);
    connection.SetCanceller(canceller);
    const auto began = std::chrono::steady_clock::now();
    try {
        connection.Open(text, L"FreeTDS", timeout);
        ended.opened = true;
    } catch (const OdbcError& e) {
        ended.timedOut = e.TimedOut();
        ended.cancelled = e.Cancelled();
        ended.description = e.Description();
    }
    ended.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return ended;
}

TEST(OdbcConnectBound, ConnectsToASilentServerEndInTimeAndAbandonedOnesAreBounded) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    OdbcEnvironment env;
    std::wstring driversOwn;
    {
        test::SilentTcpServer silent;
        ASSERT_TRUE(silent.running());
        const std::wstring named = BuildConnectionString({L"FreeTDS", silent.server(), L"", L"sa", L"pw"});
        ASSERT_NE(named.find(L";TDS_Version=7.4;"), std::wstring::npos);
        // As the driver's configuration leaves it: "auto" retries with another protocol and never ends.
        driversOwn = named.substr(0, named.find(L"TDS_Version="));

        // All at once, to keep the wall time near the longest wait.
        auto named2 = std::async(std::launch::async, [&] { return Connect(env, named, 2); });
        OdbcCanceller stop;
        auto stopped = std::async(std::launch::async, [&] { return Connect(env, driversOwn, 60, &stop); });
        std::vector<std::future<Ended>> abandoned;
        for (int i = 0; i < 7; ++i)
            abandoned.push_back(std::async(std::launch::async, [&] { return Connect(env, driversOwn, 1); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        stop.Cancel();

        const Ended s = stopped.get();
        EXPECT_TRUE(s.cancelled) << WideToUtf8(s.description);
        EXPECT_LT(s.seconds, 2.0);
        const Ended n = named2.get();
        EXPECT_TRUE(n.timedOut) << WideToUtf8(n.description);
        EXPECT_GE(n.seconds, 1.5);
        EXPECT_LT(n.seconds, 5.0);
        for (auto& f : abandoned) {
            const Ended a = f.get();
            EXPECT_TRUE(a.timedOut) << WideToUtf8(a.description);
            EXPECT_LT(a.seconds, 9.0);
        }
        // Eight drivers still wait: the next connect is refused at once, not left to pile up.
        EXPECT_EQ(AbandonedConnectsWaiting(), 8);
        const Ended refused = Connect(env, named, 2);
        EXPECT_TRUE(refused.timedOut);
        EXPECT_LT(refused.seconds, 0.5);
        EXPECT_NE(refused.description.find(L"still waiting"), std::wstring::npos) << WideToUtf8(refused.description);
        EXPECT_GE(silent.connections(), 9);
    }
    // The server gone, the stopped connect's driver returns (the others stay in the driver's endless
    // retry) and its worker gives its place back.
    for (int i = 0; i < 200 && AbandonedConnectsWaiting() > 7; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(AbandonedConnectsWaiting(), 7);
}

}  // namespace
}  // namespace kestrane
