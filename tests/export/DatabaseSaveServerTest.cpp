// The database save against a server that misbehaves, on a corpus set through the real driver and the
// test endpoint: one that never answers the login, one that stops answering mid-rows (dead, or blocked
// and stopped by the user), and one that refuses a table, rows and a foreign key. Each run ends in
// bounded time and its visible log says what happened.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ExportFixtures.h"
#include "export/DatabaseSaveRun.h"
#include "support/SilentTcpServer.h"
#include "support/TdsEndpoint.h"

namespace kestrane {
namespace {

using nlohmann::json;
using namespace test;

struct ServerRun {
    RecordingSaveView view;
    ScriptedPrompter prompter;
    RecordingProgressSink owner;
    DatabaseSaveResult result;
    double seconds = 0;

    bool Logged(const std::wstring& part) const {
        return std::any_of(view.lines.begin(), view.lines.end(),
                           [&](const std::wstring& line) { return line.find(part) != std::wstring::npos; });
    }
    std::string Lines() const {
        std::string all;
        for (const auto& line : view.lines) all += WideToUtf8(line) + "\n";
        return all;
    }
};

// Saves every table of `set` into `server`, with keys and constraints; `during` runs beside the save.
template <typename Server>
ServerRun Save(ScannedSet& set, const Server& server, SqlTimeouts timeouts, const std::function<void()>& during = {}) {
    DatabaseSaveOptions options{{true, true, true, {}}, {L"Saved", L"sa", L"pw", server.server(), L"FreeTDS"},
                                true, false};
    ServerRun run;
    std::thread beside;
    if (during) beside = std::thread(during);
    const auto began = std::chrono::steady_clock::now();
    DatabaseSaveRun save(set.state, set.holder, set.store, *set.log, run.view, run.prompter, run.owner);
    save.SetTimeouts(timeouts);
    run.result = save.Run(set.TickAll(), options);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (beside.joinable()) beside.join();
    EXPECT_TRUE(run.view.finished);
    return run;
}

TEST(DatabaseSaveServer, SilentOrStoppedServersEndTheRunWithTheStepNamed) {
    KESTRANE_REQUIRE_CORPUS();
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    {
        ScannedSet set;
        if (!OpenSetWithTables(set, 3)) GTEST_SKIP() << "no corpus log with three tables";
        TdsEndpoint endpoint(json::array({{{"on", "prelogin"}, {"hang", true}}}));
        const ServerRun run = Save(set, endpoint, {2, 2});
        EXPECT_LT(run.seconds, 15.0);
        EXPECT_TRUE(run.Logged(L"The server did not answer within 2 seconds while connecting to it (creating database "
                               L"Saved)"))
            << run.Lines();
        EXPECT_TRUE(run.result.tablesCreated.empty());
        ASSERT_EQ(run.owner.texts(kMsgErrorDescription).size(), 1u);
        EXPECT_EQ(run.view.lines.back().rfind(L"Saving process failed: the database Saved could not be created: The "
                                              L"server did not answer within 2 seconds",
                                              0),
                  0u)
            << run.Lines();
        EXPECT_EQ(run.prompter.messages.back().text, run.view.lines.back());
    }
    const auto hangAtSecondRow = [](bool attention) {
        return json::array({{{"match", "^INSERT"}, {"hang", true}, {"attention", attention}, {"skip", 1}}});
    };
    {  // Dead mid-rows: the row times out, and nothing more is asked of the server.
        ScannedSet set;
        ASSERT_TRUE(OpenSetWithTables(set, 3));
        TdsEndpoint endpoint(hangAtSecondRow(false));
        const ServerRun run = Save(set, endpoint, {5, 2});
        EXPECT_LT(run.seconds, 20.0);
        EXPECT_TRUE(run.Logged(L"The server did not answer within 2 seconds while inserting rows into table "))
            << run.Lines();
        // Said as a failure, never "completed".
        EXPECT_EQ(run.view.lines.back(), L"Saving process failed: the server does not answer, the save ends here; 1 "
                                         L"rows were saved before.")
            << run.Lines();
        EXPECT_EQ(run.prompter.messages.back().text, run.view.lines.back());
        EXPECT_EQ(run.prompter.messages.back().icon, MessageIcon::Error);
        EXPECT_EQ(run.result.tablesCreated.size(), 1u);
        EXPECT_EQ(endpoint.Events("execute").back()["text"].get<std::string>().rfind("INSERT", 0), 0u);
    }
    {  // Blocked mid-rows, with a long timeout: Stop cancels the row in flight.
        ScannedSet set;
        ASSERT_TRUE(OpenSetWithTables(set, 3));
        TdsEndpoint endpoint(hangAtSecondRow(true));
        const ServerRun run = Save(set, endpoint, {5, 60}, [&] {
            for (int i = 0; i < 200 && endpoint.Events("hang").empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            set.state.stopFlag = 1;
        });
        EXPECT_LT(run.seconds, 15.0);
        EXPECT_EQ(endpoint.Events("attention").size(), 1u);
        EXPECT_TRUE(run.Logged(L"Stopped while inserting rows into table ")) << run.Lines();
        EXPECT_EQ(run.result.tablesCreated.size(), 1u);
    }
}

// A server that takes the connection and never sends a byte, through the driver as setup configures it
// and the save's own timeouts: the save ends at the login timeout, or at once on Stop.
TEST(DatabaseSaveServer, ASilentServerEndsTheSaveAtItsLoginTimeoutOrAtStop) {
    KESTRANE_REQUIRE_CORPUS();
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    ScannedSet waited, stopped;
    if (!OpenSetWithTables(waited, 1) || !OpenSetWithTables(stopped, 1)) GTEST_SKIP() << "no corpus log with a table";
    test::SilentTcpServer silent;
    ASSERT_TRUE(silent.running());
    const SqlTimeouts real;
    ASSERT_EQ(real.loginSeconds, 15);
    std::thread stopping([&] {
        ServerRun run = Save(stopped, silent, real, [&] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            stopped.state.stopFlag = 1;
        });
        EXPECT_LT(run.seconds, 4.0);
        EXPECT_TRUE(run.Logged(L"Stopped while creating database Saved.")) << run.Lines();
        EXPECT_TRUE(run.result.stopped);
    });
    const ServerRun run = Save(waited, silent, real);
    stopping.join();
    EXPECT_GE(run.seconds, 14.0);
    EXPECT_LT(run.seconds, 19.0);
    EXPECT_TRUE(run.Logged(L"The server did not answer within 15 seconds while connecting to it (creating database Saved)"))
        << run.Lines();
    EXPECT_TRUE(run.result.tablesCreated.empty());
    EXPECT_EQ(run.owner.texts(kMsgErrorDescription).size(), 1u);
}

TEST(DatabaseSaveServer, RefusedTablesRowsAndKeysAreLoggedAndKeysGoOnlyBetweenCreatedTables) {
    KESTRANE_REQUIRE_CORPUS();
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    ScannedSet set;
    if (!OpenSetWithTables(set, 3)) GTEST_SKIP() << "no corpus log with three tables";
    const auto tables = set.TickAll();
    std::vector<std::wstring> names;
    for (const TickedTable& t : tables) names.push_back(set.store.Tables().at(t.objectId));
    // Keys from the first table to the second (both created), to the third (refused) and to a table that
    // the run never saw.
    auto key = [&](uint32_t id, uint32_t referencedId, const std::wstring& referenced) {
        ForeignKeyRecord k;
        k.foreignKeyId = 900000 + id;
        k.name = L"FK_" + std::to_wstring(id);
        k.referencingTableId = tables[0].objectId;
        k.referencingTableName = names[0];
        k.referencingColumnId = k.referencedColumnId = 1;
        k.referencingColumnName = k.referencedColumnName = L"x";
        k.referencedTableId = referencedId;
        k.referencedTableName = referenced;
        return k;
    };
    auto& keys = set.holder.Catalog()->foreignKeys;
    keys = {key(1, tables[1].objectId, names[1]), key(2, tables[2].objectId, names[2]), key(3, 77777, L"Elsewhere")};

    TdsEndpoint endpoint(json::array({
        {{"match", "^Create TABLE"}, {"error", 2714}, {"skip", 2}, {"times", 1}},
        {{"match", "^INSERT"}, {"error", 2627}, {"severity", 14}, {"times", 2}},
        {{"match", "^alter table .* foreign key"}, {"error", 1776}, {"message", "There are no primary or candidate keys in the "
                                                                 "referenced table."}},
    }));
    const ServerRun run = Save(set, endpoint, {});
    EXPECT_EQ(run.result.tablesCreated.size(), tables.size() - 1);
    EXPECT_TRUE(run.Logged(L"Table " + names[2] + L" not created: ODBC driver \"FreeTDS\": [FreeTDS][SQL Server]There is already an object "
                           L"named '" + names[2] + L"' in the database."))
        << run.Lines();
    // The refused rows are counted per table with the first reason.
    uint64_t refused = 0;
    for (const std::wstring& line : run.view.lines) {
        const size_t at = line.find(L" rows refused: ");
        if (at == std::wstring::npos) continue;
        refused += std::stoull(line.substr(0, at));
        EXPECT_NE(line.find(L"Violation of PRIMARY KEY constraint"), std::wstring::npos) << WideToUtf8(line);
    }
    EXPECT_EQ(refused, 2u) << run.Lines();
    // One key sent, and its refusal logged with the server's message.
    std::vector<std::string> sentKeys;
    for (const auto& text : endpoint.Events("execute"))
        if (text["text"].get<std::string>().rfind("alter table", 0) == 0) sentKeys.push_back(text["text"]);
    ASSERT_EQ(sentKeys.size(), 1u);
    EXPECT_NE(sentKeys[0].find("[FK_1]"), std::string::npos);
    EXPECT_TRUE(run.Logged(L"Not added: " + Utf8ToWide(sentKeys[0]) +
                           L" -- ODBC driver \"FreeTDS\": [FreeTDS][SQL Server]There are no primary or candidate keys in the referenced "
                           L"table."))
        << run.Lines();
}

}  // namespace
}  // namespace kestrane
