// The export session's steps through unixODBC, the FreeTDS driver and the test endpoint: the statements
// each step sends, its log lines, and how each scripted server error ends it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "export/SqlExportSession.h"
#include "platform/OdbcError.h"
#include "platform/TextCodec.h"
#include "support/RecordingSinks.h"
#include "support/TdsEndpoint.h"

namespace kestrane {
namespace {

using nlohmann::json;
using test::TdsEndpoint;

struct RecordingLog : LogListSink {
    void AddLine(uint32_t, const std::wstring& text) override { lines.push_back(text); }
    std::vector<std::wstring> lines;
};

// A session wired to recording sinks, talking to one endpoint.
struct Harness {
    explicit Harness(const json& rules = json::array()) : endpoint(rules), session(state, progress) {
        session.SetOwnerLog(&ownerLog);
        session.SetDatabaseLog(&databaseLog);
        fields = {L"Db]1", L"sa", L"S3cr;et#pw", endpoint.server(), L"FreeTDS"};
    }
    // Everything the program itself wrote where a user or a log file could see it.
    std::wstring Shown() const {
        std::wstring all;
        for (const auto* log : {&ownerLog.lines, &databaseLog.lines})
            for (const auto& line : *log) all += line + L"\n";
        for (const auto& call : progress.calls) all += Utf8ToWide(call.text) + L"\n";
        return all;
    }
    TdsEndpoint endpoint;
    RunState state{"/nonexistent"};
    test::RecordingProgressSink progress;
    RecordingLog ownerLog, databaseLog;
    CSqlExportSession session;
    SqlConnectionFields fields;
};

using Lines = std::vector<std::wstring>;

TEST(SqlExportSession, EachStepSendsItsStatementsAndLogsItsLines) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    struct Case {
        const char* name;
        uint8_t existing;
        std::function<bool(Harness&)> step;
        Lines statements, ownerLines, databaseLines;
        const char* loginDatabase;
    };
    ForeignKeyRecord key;
    key.name = L"FK]x";
    key.referencingTableName = L"Order's";
    key.referencingColumnName = L"c;1";
    key.referencedTableName = L"Cust]";
    key.referencedColumnName = L"id\x01";
    key.status = 0x5000;
    const std::vector<Case> cases = {
        {"test, new database", 0, [](Harness& h) { return h.session.TestConnection(h.fields); },
         {L"create database [Db]]1]", L"DROP database [Db]]1]"},
         {L"Opening Connection using SqlServer authentication ....", L"Connection is successful", L"creating Database.....",
          L"Database created.", L"Deleting Created Database.....", L"Database deleted..", L"Connection is successful",
          L"Closing Connection.....", L"Connection Closed."},
         {}, ""},
        {"test, existing database", 1, [](Harness& h) { return h.session.TestConnection(h.fields); },
         {L"use [Db]]1]"},
         {L"Opening Connection using SqlServer authentication ....", L"Connection is successful",
          L"Opening Existing Database.....", L"Existing Database Open successfully.", L"Connection is successful",
          L"Closing Connection.....", L"Connection Closed."},
         {}, ""},
        {"create database", 0, [](Harness& h) { return h.session.CreateOrOpenDatabase(h.fields); },
         {L"create database [Db]]1]"}, {},
         {L"Opening Connection using sql server authentication....", L"Connection is successful", L"creating Database.....",
          L"Database created.", L"Closing Connection.....", L"Connection Closed."},
         ""},
        {"open database", 1, [](Harness& h) { return h.session.CreateOrOpenDatabase(h.fields); },
         {L"use [Db]]1]"}, {},
         {L"Opening Connection using sql server authentication....", L"Connection is successful",
          L"Opening Existing Database.....", L"Exisitng Database Open successfully.", L"Closing Connection.....",
          L"Connection Closed."},
         ""},
        {"create table once", 0,
         [](Harness& h) {
             return h.session.CreateTableOnce(L"CREATE TABLE [t] (a int)", L"t", h.fields) &&
                    h.session.CreateTableOnce(L"CREATE TABLE [t] (b int)", L"t", h.fields);
         },
         {L"CREATE TABLE [t] (a int)"}, {L"table already exist.."}, {}, "Db]1"},
        {"statement", 0, [](Harness& h) { return h.session.ExecuteStatement(h.fields, L"Create Index i on t(a)"); },
         {L"Create Index i on t(a)"}, {}, {}, "Db]1"},
        {"foreign key", 0, [&](Harness& h) { return h.session.AddForeignKey(key, h.fields); },
         {L"alter table [Order's] add constraint [FK]]x] foreign key([c;1]) references [Cust]]]([id]) on update "
          L"cascade on delete cascade"},
         {}, {}, "Db]1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        ASSERT_TRUE(h.endpoint.running());
        h.state.saveIntoExistingDatabase = c.existing;
        EXPECT_TRUE(c.step(h));
        EXPECT_EQ(h.endpoint.Statements(), c.statements);
        EXPECT_EQ(h.ownerLog.lines, c.ownerLines);
        EXPECT_EQ(h.databaseLog.lines, c.databaseLines);
        EXPECT_TRUE(h.progress.calls.empty());
        for (const auto& login : h.endpoint.Events("login")) EXPECT_EQ(login["database"], c.loginDatabase);
    }
    // Without a name the key is added unnamed (two blanks before "add"); 0x1000 alone adds no cascade.
    key.name.clear();
    key.status = 0x1000;
    EXPECT_EQ(CSqlExportSession::ForeignKeyStatement(key),
              L"alter table [Order's]  add foreign key([c;1]) references [Cust]]]([id])");
    key.status = 0x4000;
    const std::wstring cascade = CSqlExportSession::ForeignKeyStatement(key);
    EXPECT_EQ(cascade.substr(cascade.size() - 18), L" on delete cascade");
}

TEST(SqlExportSession, RowsGoAsBoundParametersThroughOnePreparedInsert) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    Harness h(json::array({{{"match", "^INSERT"}, {"error", 2627}, {"severity", 14}, {"skip", 1}, {"times", 1}},
                           {{"match", "^INSERT"}, {"close", true}, {"skip", 3}}}));
    ASSERT_TRUE(h.endpoint.running());
    h.state.identityColumnSeen = 1;
    const std::wstring table = L"T]'; drop table x--\x07";
    ASSERT_TRUE(h.session.OpenTableForInsert(table, {L"id", L"na]me", L"data"}, h.fields));

    const std::wstring text = L"'); DROP TABLE t; -- \U0001F600";
    h.session.InsertRow({int64_t{1}, text, OdbcBytes{0xDE, 0xAD}});
    try {  // the second row breaks the key: the replay logs it and goes on
        h.session.InsertRow({int64_t{1}, OdbcNull{}, OdbcNull{OdbcKind::Binary}});
        ADD_FAILURE() << "duplicate key accepted";
    } catch (const OdbcError& e) {
        EXPECT_TRUE(e.IntegrityViolation());
    }
    h.session.InsertRow({int64_t{2}, std::nullopt, OdbcBytes{}});  // a column left to its default
    h.session.InsertRow({int64_t{3}, std::wstring(L"x"), OdbcBytes{0x01}});
    // The server goes away mid-table: this row and the next fail, neither as a broken key.
    for (int64_t id : {4, 5}) {
        try {
            h.session.InsertRow({id, std::wstring(L"y"), OdbcBytes{}});
            ADD_FAILURE() << "row accepted after the connection closed";
        } catch (const OdbcError& e) {
            EXPECT_FALSE(e.IntegrityViolation());
        }
    }
    EXPECT_THROW(h.session.InsertRow({int64_t{6}}), OdbcError);  // a row of the wrong width
    h.session.CloseConnection();
    EXPECT_THROW(h.session.InsertRow({int64_t{7}, std::wstring(L"z"), OdbcBytes{}}), OdbcError);

    // FreeTDS names the markers @P1... in the text it prepares.
    const std::wstring all = L"INSERT INTO [T]]'; drop table x--] ([id],[na]]me],[data]) VALUES (@P1,@P2,@P3)";
    const std::wstring withDefault =
        L"INSERT INTO [T]]'; drop table x--] ([id],[na]]me],[data]) VALUES (@P1,DEFAULT,@P2)";
    EXPECT_EQ(h.endpoint.Statements(),
              (Lines{L"SET IDENTITY_INSERT [T]]'; drop table x--] ON", all, all, withDefault, all, all}));
    const auto runs = h.endpoint.Events("execute");
    ASSERT_EQ(runs.size(), 6u);
    EXPECT_EQ(runs[1]["params"], json::parse(R"([{"type":"bigint","value":1},)"
                                             R"({"type":"nvarchar","size":8000,"value":"'); DROP TABLE t; -- \ud83d\ude00"},)"
                                             R"({"type":"varbinary","size":8000,"value":"DEAD"}])"));
    EXPECT_EQ(runs[2]["params"][1]["value"], nullptr);
    EXPECT_EQ(runs[2]["params"][2]["type"], "varbinary");
    EXPECT_EQ(runs[3]["params"].size(), 2u);
    // No value ever became statement text.
    for (const auto& s : h.endpoint.Statements()) EXPECT_EQ(s.find(L"DROP TABLE t"), std::wstring::npos);

    // A table of 1,024 columns: one prepared text with 1,024 parameters.
    Harness wide;
    std::vector<std::wstring> names;
    std::vector<SqlRowValue> row;
    for (int32_t i = 0; i < 1024; ++i) {
        names.push_back(L"c" + std::to_wstring(i));
        row.emplace_back(i);
    }
    ASSERT_TRUE(wide.session.OpenTableForInsert(L"wide", names, wide.fields));
    wide.session.InsertRow(row);
    const auto params = wide.endpoint.Events("execute").back()["params"];
    ASSERT_EQ(params.size(), 1024u);
    EXPECT_EQ(params[1023]["value"], 1023);
}

TEST(SqlExportSession, ServerErrorsEndEachStepAsTheExportExpects) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    struct Case {
        const char* name;
        json rules;
        std::function<bool(Harness&)> step;
        bool result;
        bool errorBox;      // an error description went to the owner window
        const wchar_t* logged;  // a text that the logs hold ("" for none)
    };
    auto createDb = [](Harness& h) { return h.session.CreateOrOpenDatabase(h.fields); };
    auto test = [](Harness& h) { return h.session.TestConnection(h.fields); };
    auto statement = [](Harness& h) { return h.session.ExecuteStatement(h.fields, L"alter table [t] add x int"); };
    auto table = [](Harness& h) {
        const bool first = h.session.CreateTableOnce(L"create table [t] (a int)", L"t", h.fields);
        // counted as created even so: not tried again
        return first || !h.session.CreateTableOnce(L"create table [t] (a int)", L"t", h.fields);
    };
    const json exists = {{{"match", "^(create|alter)"}, {"error", 2714}}};
    const json dbExists = {{{"match", "^create database"}, {"error", 1801}}};
    const json closes = {{{"match", "."}, {"close", true}}};
    const json refused = {{{"on", "login"}, {"message", "Login failed for user 'sa' (S3cr;et#pw)."}}};
    const std::vector<Case> cases = {
        {"database exists: goes on", dbExists, createDb, true, false, L"already exists"},
        {"connection lost creating the database", closes, createDb, false, true, L""},
        {"login refused creating the database", refused, createDb, false, true, L"Login failed"},
        {"login refused in the test", refused, test, false, false, L"Login failed"},
        {"database exists in the test", dbExists, test, false, false, L"already exists"},
        {"object exists counts as done", exists, statement, true, false, L""},
        {"connection lost in a statement", closes, statement, false, false, L""},
        {"object exists on create table", exists, table, false, false, L"There is already an object named 't'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(c.rules);
        ASSERT_TRUE(h.endpoint.running());
        EXPECT_EQ(c.step(h), c.result);
        EXPECT_EQ(!h.progress.texts(kMsgErrorDescription).empty(), c.errorBox);
        EXPECT_NE(h.Shown().find(c.logged), std::wstring::npos) << WideToUtf8(h.Shown());
        // The password reached the server and nothing that the program shows.
        EXPECT_NE(h.endpoint.RecordText().find("S3cr;et#pw"), std::string::npos);
        EXPECT_EQ(h.Shown().find(L"S3cr;et#pw"), std::wstring::npos) << WideToUtf8(h.Shown());
    }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(SqlExportSession, NoStepWaitsForEverAndStopEndsTheStatementInFlight) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    const auto start = std::chrono::steady_clock::now;
    {  // A server that takes the connection and never answers: the login timeout ends the step.
        Harness h(json::array({{{"on", "prelogin"}, {"hang", true}}}));
        ASSERT_TRUE(h.endpoint.running());
        h.session.SetTimeouts({2, 2});
        const auto began = start();
        EXPECT_FALSE(h.session.CreateOrOpenDatabase(h.fields));
        EXPECT_LT(SecondsSince(began), 12.0);
        EXPECT_TRUE(h.session.ServerUnresponsive());
        EXPECT_NE(h.Shown().find(L"The server did not answer within 2 seconds while connecting to it (creating "
                                 L"database Db]1)"),
                  std::wstring::npos)
            << WideToUtf8(h.Shown());
    }
    // A server that stops answering at the second row, dead or blocked (a blocked one still takes a cancel).
    const auto hangAtSecondRow = [](bool attention) {
        return json::array({{{"match", "^INSERT"}, {"hang", true}, {"attention", attention}, {"skip", 1}}});
    };
    {  // Dead: the statement timeout ends the row, and the session then knows the server is gone.
        Harness h(hangAtSecondRow(false));
        h.session.SetTimeouts({5, 2});
        ASSERT_TRUE(h.session.OpenTableForInsert(L"t", {L"a"}, h.fields));
        h.session.InsertRow({int32_t{1}});
        const auto began = start();
        try {
            h.session.InsertRow({int32_t{2}});
            ADD_FAILURE() << "row accepted by a silent server";
        } catch (const OdbcError& e) {
            EXPECT_TRUE(e.TimedOut());
            EXPECT_EQ(h.session.FailureText(e, h.fields, L"inserting rows into table t")
                          .rfind(L"The server did not answer within 2 seconds while inserting rows into table t: ", 0),
                      0u);
        }
        EXPECT_LT(SecondsSince(began), 10.0);
        EXPECT_TRUE(h.session.ServerUnresponsive());
    }
    {  // Blocked, with a long timeout: Stop (Cancel from another thread) ends the row at once, and every
       // later step without asking the server.
        Harness h(hangAtSecondRow(true));
        h.session.SetTimeouts({5, 60});
        ASSERT_TRUE(h.session.OpenTableForInsert(L"t", {L"a"}, h.fields));
        h.session.InsertRow({int32_t{1}});
        const auto began = start();
        std::thread stop([&] {
            for (int i = 0; i < 100 && h.endpoint.Events("hang").empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            h.session.Cancel();
        });
        try {
            h.session.InsertRow({int32_t{2}});
            ADD_FAILURE() << "row accepted by a blocked server";
        } catch (const OdbcError& e) {
            EXPECT_TRUE(e.Cancelled());
            EXPECT_EQ(h.session.FailureText(e, h.fields, L"inserting rows into table t"),
                      L"Stopped while inserting rows into table t.");
        }
        stop.join();
        EXPECT_LT(SecondsSince(began), 10.0);
        EXPECT_EQ(h.endpoint.Events("attention").size(), 1u);
        const size_t logins = h.endpoint.Events("login").size();
        EXPECT_FALSE(h.session.CreateTableOnce(L"create table [u] (a int)", L"u", h.fields));
        EXPECT_EQ(h.session.LastFailure(), L"Stopped while creating table u.");
        EXPECT_EQ(h.endpoint.Events("login").size(), logins);
        EXPECT_FALSE(h.session.ServerUnresponsive());
    }
}

TEST(SqlExportSession, FreeTdsIsToldItsProtocolAndAServerThatDropsOneIsAskedWithTheNext) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    const auto versions = [](const TdsEndpoint& endpoint) {
        std::vector<std::string> asked;
        for (const auto& login : endpoint.Events("login")) asked.push_back(login["tds"]);
        return asked;
    };
    {  // One that drops the newest protocol's login: the next one connects.
        Harness h(json::array({{{"on", "tds"}, {"match", "^7\\.4$"}, {"close", true}}}));
        ASSERT_TRUE(h.endpoint.running());
        EXPECT_TRUE(h.session.TestConnection(h.fields)) << WideToUtf8(h.Shown());
        EXPECT_EQ(versions(h.endpoint), (std::vector<std::string>{"7.4", "7.3"}));
    }
    {  // One that drops every login: each version is asked once, and the first failure is reported.
        Harness h(json::array({{{"on", "tds"}, {"close", true}}}));
        EXPECT_FALSE(h.session.TestConnection(h.fields));
        EXPECT_EQ(versions(h.endpoint), (std::vector<std::string>{"7.4", "7.3", "7.2", "7.1"}));
    }
    {  // A refused login is the server's answer: no other version is tried.
        Harness h(json::array({{{"on", "login"}, {"error", 18456}}}));
        EXPECT_FALSE(h.session.TestConnection(h.fields));
        EXPECT_EQ(versions(h.endpoint), std::vector<std::string>{"7.4"});
    }
}

TEST(SqlExportSession, MissingDriverEndsWithTheInstallHint) {
    test::RecordingProgressSink progress;
    RunState state("/nonexistent");
    RecordingLog log;
    CSqlExportSession session(state, progress);
    session.SetDatabaseLog(&log);
    const SqlConnectionFields fields{L"d", L"u", L"pw-secret", L"127.0.0.1,1", L"ODBC Driver 18 for SQL Server"};
    EXPECT_FALSE(session.CreateOrOpenDatabase(fields));
    const auto boxes = progress.texts(kMsgErrorDescription);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("ODBC Driver 18 for SQL Server"), std::string::npos);
    EXPECT_NE(boxes[0].find("\r\n whether install it properly or select another provider from Provider: Combobox"),
              std::string::npos);
    EXPECT_EQ(boxes[0].find("pw-secret"), std::string::npos);
}

}  // namespace
}  // namespace kestrane
