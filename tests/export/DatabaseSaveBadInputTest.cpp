// The database save where things go wrong, on a corpus set through the real driver and the test
// endpoint: a refused row, an existing database, a missing driver, a refused login, a connection that
// closes mid-table, refused tables and rows, a stop between rows, crafted table names, missing
// connection fields. Each ends with clear lines, builds no statement from a value, and shows the
// password nowhere.
#include <gtest/gtest.h>

#include <fstream>

#include "ExportFixtures.h"
#include "export/DatabaseSaveRun.h"
#include "support/TdsEndpoint.h"

namespace kestrane {
namespace {

using nlohmann::json;
using namespace test;

const std::wstring kPassword = L"S3cr;et#pw";

struct Outcome {
    RecordingSaveView view;
    ScriptedPrompter prompter;
    RecordingProgressSink owner;
    DatabaseSaveResult result;
    std::vector<json> runs;
    std::wstring activity;
    size_t inserts = 0;
    size_t tables = 0;  // ticked

    // Everything the program showed or wrote down.
    std::wstring Shown() const {
        std::wstring all = activity;
        for (const auto& line : view.lines) all += line + L"\n";
        for (const auto& call : owner.calls) all += Utf8ToWide(call.text) + L"\n";
        for (const auto& m : prompter.messages) all += m.text + L"\n";
        return all;
    }
};

// The values list of an INSERT holds parameter markers and DEFAULT, nothing else.
bool OnlyMarkers(const std::string& text) {
    const size_t open = text.rfind(" VALUES (");
    if (open == std::string::npos || text.back() != ')') return false;
    const std::string list = text.substr(open + 9, text.size() - open - 10);
    for (size_t at = 0; at <= list.size();) {
        size_t end = list.find(',', at);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(at, end - at);
        const bool marker = item.size() > 2 && item.rfind("@P", 0) == 0 &&
                            item.find_first_not_of("0123456789", 2) == std::string::npos;
        if (!marker && item != "DEFAULT") return false;
        at = end + 1;
    }
    return true;
}

struct Case {
    const char* name;
    json rules;
    std::function<void(DatabaseSaveOptions&, Outcome&, RunState&)> prepare;
    std::function<void(const Outcome&)> check;
    std::vector<std::wstring> tableNames = {};
};

TEST(DatabaseSaveBadInput, EveryFailureEndsCleanly) {
    KESTRANE_REQUIRE_CORPUS();
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    const auto logged = [](const Outcome& o, const std::wstring& part) {
        for (const auto& line : o.view.lines)
            if (line.find(part) != std::wstring::npos) return true;
        return false;
    };
    // The activity log holds the tables' counts and the end, as the script save's does.
    const auto completed = [](const Outcome& o) {
        ASSERT_FALSE(o.prompter.messages.empty());
        EXPECT_EQ(o.prompter.messages.back().text, L"Saving process completed");
        EXPECT_NE(o.activity.find(L"Total Number of record inserted =  "), std::wstring::npos);
        EXPECT_NE(o.activity.find(L"\r\nSaving process completed!!!\r\n"), std::wstring::npos);
    };
    // Tables or rows the server did not take end the run with errors, counted, in the message, the last
    // line and the activity log; never "completed".
    const auto withErrors = [](const Outcome& o, uint64_t tables, uint64_t rows) {
        ASSERT_FALSE(o.prompter.messages.empty());
        const std::wstring end = o.prompter.messages.back().text;
        EXPECT_EQ(end.rfind(L"Saving process ended with errors: ", 0), 0u) << WideToUtf8(end);
        EXPECT_EQ(o.result.tablesNotCreated, tables);
        EXPECT_EQ(o.result.rowsNotSaved, rows);
        EXPECT_EQ(end.find(L"tables could not be created") != std::wstring::npos, tables != 0) << WideToUtf8(end);
        if (tables) EXPECT_NE(end.find(std::to_wstring(tables) + L" tables could not be created"), std::wstring::npos);
        if (rows) EXPECT_NE(end.find(L" " + std::to_wstring(rows) + L" rows were not saved"), std::wstring::npos);
        EXPECT_NE(end.find(L"; " + std::to_wstring(o.result.rowsAdded) + L" rows were saved."), std::wstring::npos);
        EXPECT_EQ(o.prompter.messages.back().icon, o.result.rowsAdded == 0 ? MessageIcon::Error : MessageIcon::Warning);
        EXPECT_EQ(o.view.lines.back(), end);
        EXPECT_NE(o.activity.find(end), std::wstring::npos);
        EXPECT_EQ(o.activity.find(L"completed"), std::wstring::npos);
    };
    // A save that saved nothing says so and why, in the message, the last line and the activity log.
    const auto failed = [](const Outcome& o, const std::wstring& why, const std::wstring& reason) {
        ASSERT_FALSE(o.prompter.messages.empty());
        const std::wstring end = o.prompter.messages.back().text;
        EXPECT_EQ(end.rfind(L"Saving process failed: " + why, 0), 0u) << WideToUtf8(end);
        EXPECT_NE(end.find(reason), std::wstring::npos) << WideToUtf8(end);
        EXPECT_EQ(o.prompter.messages.back().icon, MessageIcon::Error);
        EXPECT_EQ(o.view.lines.back(), end);
        EXPECT_NE(o.activity.find(end), std::wstring::npos);
        EXPECT_EQ(o.activity.find(L"completed"), std::wstring::npos);
        EXPECT_FALSE(o.result.databaseReady);
        EXPECT_TRUE(o.result.tablesCreated.empty());
    };
    const std::vector<Case> cases = {
        {"a duplicate key refuses one row; the next is still added",
         json::array({{{"match", "^INSERT"}, {"error", 2627}, {"severity", 14}, {"skip", 1}, {"times", 1}}}), {},
         [&](const Outcome& o) {
             withErrors(o, 0, 1);
             EXPECT_NE(o.activity.find(L"row not inserted after 1  row no.\r\n"), std::wstring::npos);
             EXPECT_EQ(o.result.rowsAdded + 1, o.inserts);
             EXPECT_GT(o.inserts, 2u);
             EXPECT_FALSE(logged(o, L"not inserted:"));  // a broken key is no failure of the table
         }},
        {"an existing database goes on", json::array({{{"match", "^create database"}, {"error", 1801}}}), {},
         [&](const Outcome& o) {
             completed(o);
             EXPECT_TRUE(logged(o, L"already exists"));
             EXPECT_TRUE(o.result.databaseReady);
             EXPECT_FALSE(o.result.tablesCreated.empty());
             EXPECT_EQ(o.result.rowsAdded, o.inserts);
             EXPECT_TRUE(o.owner.calls.empty());
         }},
        {"a missing driver ends the run with the hint", json::array(),
         [](DatabaseSaveOptions& options, Outcome&, RunState&) { options.connection.driver = L"ODBC Driver 18 for SQL Server"; },
         [&](const Outcome& o) {
             failed(o, L"the database Saved could not be created: ", L"ODBC Driver 18 for SQL Server");
             ASSERT_EQ(o.owner.texts(kMsgErrorDescription).size(), 1u);
             EXPECT_NE(o.owner.texts(kMsgErrorDescription)[0].find("select another provider from Provider: Combobox"),
                       std::string::npos);
             EXPECT_TRUE(o.result.tablesCreated.empty());
             EXPECT_TRUE(o.runs.empty());
         }},
        {"a refused login ends the run", json::array({{{"on", "login"}, {"message", "Login failed for user 'sa' (S3cr;et#pw)."}}}),
         {},
         [&](const Outcome& o) {
             failed(o, L"the database Saved could not be created: ", L"Login failed for user 'sa'");
             ASSERT_EQ(o.owner.texts(kMsgErrorDescription).size(), 1u);
             EXPECT_NE(o.owner.texts(kMsgErrorDescription)[0].find("Login failed"), std::string::npos);
             EXPECT_TRUE(logged(o, L"Connection is not successful") || logged(o, L"Login failed"));
             EXPECT_TRUE(o.runs.empty());
         }},
        {"a database that cannot be created ends the run before any table",
         json::array({{{"match", "^create database"}, {"error", 262},
                       {"message", "CREATE DATABASE permission denied in database 'master'."}}}),
         {},
         [&](const Outcome& o) {
             failed(o, L"the database Saved could not be created: ", L"CREATE DATABASE permission denied");
             ASSERT_EQ(o.runs.size(), 1u);  // no table goes anywhere
             EXPECT_EQ(o.runs[0]["text"], "create database [Saved]");
         }},
                {"the connection closes mid-table", json::array({{{"match", "^INSERT"}, {"close", true}, {"skip", 2}}}), {},
         [&](const Outcome& o) {
             // The rows after the cut, refused or never sent, are counted.
             EXPECT_GT(o.result.rowsNotSaved, 0u);
             withErrors(o, 0, o.result.rowsNotSaved);
             EXPECT_EQ(o.result.rowsAdded, 2u);
             EXPECT_TRUE(logged(o, L"not inserted: "));
             EXPECT_NE(o.activity.find(L"  row no.\r\n"), std::wstring::npos);
         }},
        {"every CREATE TABLE refused", json::array({{{"match", "^Create TABLE"}, {"error", 262}}}), {},
         [&](const Outcome& o) {
             withErrors(o, o.tables, 0);
             EXPECT_TRUE(o.result.tablesCreated.empty());
             EXPECT_EQ(o.inserts, 0u);
         }},
        {"every INSERT refused", json::array({{{"match", "^INSERT"}, {"error", 229}}}), {},
         [&](const Outcome& o) {
             EXPECT_EQ(o.result.tablesCreated.size(), o.tables);
             EXPECT_EQ(o.result.rowsAdded, 0u);
             EXPECT_GT(o.result.rowsNotSaved, 0u);
             withErrors(o, 0, o.result.rowsNotSaved);
         }},
        {"the connection closes at every INSERT", json::array({{{"match", "^INSERT"}, {"close", true}}}), {},
         [&](const Outcome& o) {
             EXPECT_EQ(o.result.rowsAdded, 0u);
             EXPECT_GT(o.result.rowsNotSaved, 0u);
             withErrors(o, 0, o.result.rowsNotSaved);
         }},
        {"every login after the first refused", json::array({{{"on", "login"}, {"error", 18456}, {"skip", 1}}}), {},
         [&](const Outcome& o) {
             EXPECT_TRUE(o.result.databaseReady);
             withErrors(o, o.tables, 0);
         }},
        {"a stop between rows ends the run", json::array(),
         [](DatabaseSaveOptions&, Outcome& o, RunState& state) {
             // The third operation walked (over all tables) asks to stop.
             o.view.onPosition = [&state, walked = 0](uint64_t position) mutable {
                 if (position > 0 && ++walked == 3) state.stopFlag = 1;
             };
         },
         [&](const Outcome& o) {
             // Said as a stop, after which table and operation, not as "completed".
             ASSERT_FALSE(o.prompter.messages.empty());
             const std::wstring end = o.prompter.messages.back().text;
             const std::wstring head = L"Saving process stopped after table ";
             EXPECT_EQ(end.rfind(head, 0), 0u) << WideToUtf8(end);
             const size_t operation = end.rfind(L", operation ");
             ASSERT_NE(operation, std::wstring::npos) << WideToUtf8(end);
             EXPECT_GT(operation, head.size());
             EXPECT_LE(std::stoul(end.substr(operation + 12)), 3u);
             EXPECT_EQ(end.back(), L'.');
             EXPECT_TRUE(o.result.stopped);
             EXPECT_EQ(o.view.lines.back(), end);
             EXPECT_LE(o.inserts, 3u);
             EXPECT_TRUE(o.view.finished);
             for (const std::wstring& line : LeftOutLines(o.view.lines))
                 EXPECT_TRUE(LeftOutLineAddsUp(line)) << WideToUtf8(line);
         }},
        {"crafted names stay names", json::array(), {},
         [&](const Outcome& o) {
             completed(o);
             std::vector<std::string> creates;
             for (const json& run : o.runs)
                 if (run["text"].get<std::string>().rfind("Create TABLE", 0) == 0) creates.push_back(run["text"]);
             // Control characters leave the names.
             for (const std::string name : {"]]; DROP TABLE x--", "O'Brien;", "z]]"}) {
                 const std::string prefix = "Create TABLE  [" + name + "](";
                 EXPECT_TRUE(std::any_of(creates.begin(), creates.end(),
                                         [&](const std::string& t) { return t.rfind(prefix, 0) == 0; }))
                     << prefix;
             }
             EXPECT_EQ(o.result.rowsAdded, o.inserts);
         },
         {L"\x01]; DROP TABLE x--", L"O'Brien\x1f;", L"z]"}},
        {"missing connection fields stop before any step", json::array(),
         [](DatabaseSaveOptions& options, Outcome&, RunState&) { options.connection.server.clear(); },
         [](const Outcome& o) {
             ASSERT_EQ(o.prompter.messages.size(), 1u);
             EXPECT_EQ(o.prompter.messages[0].text,
                       L"Please Select Sql Server or give Database name or select Provider name to create Database,All "
                       L"are mandatory ");
             EXPECT_EQ(o.prompter.messages[0].icon, MessageIcon::Error);
             EXPECT_TRUE(o.view.finished);
             EXPECT_TRUE(o.runs.empty());
         }},
    };
    const std::filesystem::path scratch = ExportScratch("database-bad-input");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScannedSet set;
        if (!OpenSetWithTables(set, 3, c.tableNames)) GTEST_SKIP() << "no corpus log with three tables";
        const std::string activityPath = (scratch / "log.txt").string();
        ASSERT_TRUE(set.state.activityLog.open(activityPath, BinaryFile::Mode::CreateWrite));
        TdsEndpoint endpoint(c.rules);
        ASSERT_TRUE(endpoint.running());
        DatabaseSaveOptions options{{true, true, true, {}}, {L"Saved", L"sa", kPassword, endpoint.server(), L"FreeTDS"},
                                    true, false};
        Outcome o;
        o.tables = set.TickAll().size();
        if (c.prepare) c.prepare(options, o, set.state);
        o.result = DatabaseSaveRun(set.state, set.holder, set.store, *set.log, o.view, o.prompter, o.owner)
                       .Run(set.TickAll(), options);
        set.state.activityLog.close();
        std::ifstream in(activityPath, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        o.activity = Utf16LeToWide(ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        o.runs = endpoint.Events("execute");
        // A value never becomes statement text: an INSERT holds only markers and DEFAULT.
        for (const json& run : o.runs) {
            const std::string text = run["text"];
            if (text.rfind("INSERT", 0) != 0) continue;
            ++o.inserts;
            EXPECT_TRUE(OnlyMarkers(text)) << text;
        }
        c.check(o);
        EXPECT_EQ(o.Shown().find(kPassword), std::wstring::npos) << WideToUtf8(o.Shown());
    }
}

}  // namespace
}  // namespace kestrane
