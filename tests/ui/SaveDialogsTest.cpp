// Save without a display: the command's gate, the save options' rules (targets, ranges, OK's checks,
// the wait while a connection test runs), the connection test through FreeTDS and the test endpoint,
// the instance scan against a responder on 127.0.0.1, and the progress window's questions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "export/SsrpResponse.h"
#include "platform/TextCodec.h"
#include "platform/OdbcConnectionString.h"
#include "support/RecordingSinks.h"
#include "support/SilentTcpServer.h"
#include "support/SsrpResponder.h"
#include "support/TdsEndpoint.h"
#include "ui/ActivityLog.h"
#include "ui/AppTexts.h"
#include "ui/ProgressWindowLogic.h"
#include "ui/SaveCommand.h"
#include "ui/SaveOptionsLogic.h"
#include "ui/SaveRuns.h"
#include "UiFakes.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test::ScriptedPrompter;
using Texts = std::vector<std::wstring>;
using O = SaveOption;

const wchar_t* kWait = L"Please wait until current process is running.";

class FakeSaveOptionsView : public SaveOptionsView {
public:
    bool IsChecked(O c) const override { return checked.count(c) && checked.at(c); }
    void SetChecked(O c, bool on) override { checked[c] = on; }
    void Enable(O c, bool on) override { enabled[c] = on; }
    std::wstring Text(O c) const override { return texts.count(c) ? texts.at(c) : std::wstring(); }
    void SetText(O c, const std::wstring& t) override { texts[c] = t; }
    COleDateTime PickerValue(O c) const override { return c == O::From ? from : to; }
    void AddRangeRow(const std::wstring& f, const std::wstring& t) override { rows.push_back(f + L" | " + t); }
    int SelectedRangeRow() const override { return selected; }
    void DeleteRangeRow(int row) override { rows.erase(rows.begin() + row); }
    void ClearTestLog() override { testLog.clear(); }
    void AddTestLogLine(uint32_t, const std::wstring& t) override { testLog.push_back(t); }
    void AddServerName(const std::wstring& n) override {
        if (std::find(servers.begin(), servers.end(), n) == servers.end()) servers.push_back(n);
    }
    std::optional<std::wstring> ChooseFolder(const std::wstring& title) override {
        folderTitle = title;
        return folder;
    }
    void EndDialog(bool ok) override { ended = ok ? 1 : 0; }

    std::map<O, bool> checked, enabled;
    std::map<O, std::wstring> texts;
    COleDateTime from{2020, 1, 1, 0, 0, 0}, to{2020, 1, 31, 0, 0, 0};
    Texts rows, testLog, servers;
    int selected = -1, ended = -1;
    std::optional<std::wstring> folder;
    std::wstring folderTitle;
};

// The dialog with its workers held until the test runs them.
struct OptionsFixture {
    explicit OptionsFixture(std::vector<std::wstring> drivers = {L"FreeTDS"}, UdpProbeTarget scan = {})
        : logic(state, prompter, view, ui, [this](std::function<void()> w) { pending.push_back(std::move(w)); },
                {scan, std::move(drivers)}) {
        logic.OnInitDialog();
    }
    void RunWorkers() {
        auto work = std::move(pending);
        pending.clear();
        for (auto& w : work) w();
    }
    std::wstring LastMessage() const { return prompter.messages.empty() ? L"" : prompter.messages.back().text; }
    Texts Messages() const {
        Texts out;
        for (const auto& m : prompter.messages) out.push_back(m.text);
        return out;
    }

    RunState state{"/nonexistent/collation.txt"};
    ScriptedPrompter prompter;
    FakeSaveOptionsView view;
    DirectDispatcher ui;
    std::vector<std::function<void()>> pending;
    SaveOptionsLogic logic;
};

TEST(SaveOptions, TargetAndAuthenticationEnableTheirControls) {
    OptionsFixture f;
    const std::vector<O> database = {O::WindowsAuth, O::SqlAuth, O::Server, O::Database, O::Scan, O::Test, O::TestLog};
    const std::vector<O> sqlOnly = {O::UserName, O::Password};
    const std::vector<O> script = {O::Folder, O::BrowseFolder};
    struct Step {
        const char* name;
        std::function<void(SaveOptionsLogic&)> action;
        bool databaseTarget, sql;
    };
    const std::vector<Step> steps = {
        {"start", [](SaveOptionsLogic&) {}, true, false},
        {"sql authentication", [](SaveOptionsLogic& l) { l.OnSqlAuthentication(); }, true, true},
        {"script target", [](SaveOptionsLogic& l) { l.OnScriptTarget(); }, false, true},
        {"database again keeps sql", [](SaveOptionsLogic& l) { l.OnDatabaseTarget(); }, true, true},
        {"windows authentication", [](SaveOptionsLogic& l) { l.OnWindowsAuthentication(); }, true, false},
        {"script again", [](SaveOptionsLogic& l) { l.OnScriptTarget(); }, false, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.action(f.logic);
        EXPECT_EQ(f.view.IsChecked(O::DatabaseTarget), step.databaseTarget);
        EXPECT_EQ(f.view.IsChecked(O::ScriptTarget), !step.databaseTarget);
        EXPECT_EQ(f.view.IsChecked(O::SqlAuth), step.sql);
        EXPECT_EQ(f.view.IsChecked(O::WindowsAuth), !step.sql);
        for (O c : database) EXPECT_EQ(f.view.enabled[c], step.databaseTarget) << static_cast<int>(c);
        for (O c : sqlOnly) EXPECT_EQ(f.view.enabled[c], step.databaseTarget && step.sql) << static_cast<int>(c);
        for (O c : script) EXPECT_EQ(f.view.enabled[c], !step.databaseTarget) << static_cast<int>(c);
    }
}

TEST(SaveOptions, DateRangesAreCheckedKeptOnceAndStoredOnlyByOk) {
    OptionsFixture f;
    f.state.dateFilter = {{COleDateTime(1999, 1, 1, 0, 0, 0), COleDateTime(1999, 1, 2, 0, 0, 0)}};  // a cancelled dialog's
    struct Case {
        COleDateTime from, to;
        size_t rows;
        const wchar_t* message;
    };
    const std::vector<Case> cases = {
        {{2020, 1, 31, 0, 0, 1}, {2020, 1, 31, 0, 0, 0}, 0, L"End date should be greater than Start date"},
        {{2020, 1, 1, 0, 0, 0}, {2020, 1, 31, 0, 0, 0}, 1, L""},
        {{2020, 1, 1, 0, 0, 0}, {2020, 1, 31, 0, 0, 0}, 1, L""},   // the same range twice
        {{2020, 1, 1, 12, 0, 0}, {2020, 1, 31, 0, 0, 0}, 2, L""},  // same days, other hours: another range
        {{2024, 2, 29, 0, 0, 0}, {2024, 2, 29, 0, 0, 0}, 3, L""},  // one instant
    };
    for (const Case& c : cases) {
        f.prompter.messages.clear();
        f.view.from = c.from;
        f.view.to = c.to;
        f.logic.OnAdd();
        EXPECT_EQ(f.view.rows.size(), c.rows);
        EXPECT_EQ(f.LastMessage(), c.message);
    }
    EXPECT_EQ(f.view.rows[0], L"Wednesday, January 01, 2020 | Friday, January 31, 2020");
    EXPECT_EQ(f.view.rows[2], L"Thursday, February 29, 2024 | Thursday, February 29, 2024");
    EXPECT_EQ(SaveOptionsLogic::RangeEndText(COleDateTime(1899, 12, 30, 0, 0, 0)), L"Saturday, December 30, 1899");

    f.logic.OnRemove();  // nothing selected
    EXPECT_EQ(f.logic.Ranges().size(), 3u);
    f.view.selected = 1;
    f.logic.OnRemove();
    ASSERT_EQ(f.logic.Ranges().size(), 2u);
    EXPECT_EQ(f.view.rows.size(), 2u);
    EXPECT_EQ(f.logic.Ranges()[1].from, COleDateTime(2024, 2, 29, 0, 0, 0));

    EXPECT_EQ(f.state.dateFilter.size(), 1u);  // untouched until OK
    f.view.checked[O::Insert] = true;
    f.logic.OnScriptTarget();
    fs::create_directories("/tmp/out");
    f.view.texts[O::Folder] = L"/tmp/out";
    f.logic.OnOk();
    ASSERT_EQ(f.view.ended, 1);
    ASSERT_EQ(f.state.dateFilter.size(), 2u);
    EXPECT_EQ(f.state.dateFilter[0].to, COleDateTime(2020, 1, 31, 0, 0, 0));
}

TEST(SaveOptions, OkChecksKindsTestAndFolderThenStoresTheOptions) {
    struct Case {
        const char* name;
        bool insert, remove, update, script;
        std::wstring folder;
        const wchar_t* message;  // "" when OK ends the dialog
        std::wstring storedFolder;
    };
    const std::vector<Case> cases = {
        {"no kind", false, false, false, true, L"/tmp/x", L"Please select at least one operation to be saved", L""},
        {"database before a test", true, false, false, false, L"",
         L"Please test your database connection successfully before proceeding", L""},
        {"empty folder", false, true, false, true, L"", L"Please browse save location for script file", L""},
        {"folder", false, false, true, true, L"/tmp/scripts", L"", L"/tmp/scripts/"},
        {"folder with its separator", true, true, true, true, L"/tmp/s/", L"", L"/tmp/s/"},
        {"missing folder", true, false, false, true, L"/tmp/kestrane-no-such-folder",
         L"The folder \" /tmp/kestrane-no-such-folder \" does not exist. Please browse save location for script file", L""},
        {"a file, not a folder", true, false, false, true, L"/tmp/kestrane-not-a-folder/sub",
         L"The folder \" /tmp/kestrane-not-a-folder/sub \" does not exist. Please browse save location for script file",
         L""},
        // Nobody, the superuser included, creates a file in /proc.
        {"folder that cannot be written", true, false, false, true, L"/proc",
         L"The folder \" /proc \" cannot be written. Please browse save location for script file", L""},
    };
    for (const char* folder : {"/tmp/out", "/tmp/scripts", "/tmp/s"}) fs::create_directories(folder);
    fs::remove_all("/tmp/kestrane-no-such-folder");
    std::ofstream("/tmp/kestrane-not-a-folder") << "a file";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OptionsFixture f;
        f.view.checked[O::Insert] = c.insert;
        f.view.checked[O::Delete] = c.remove;
        f.view.checked[O::Update] = c.update;
        f.view.checked[O::Constraints] = true;
        if (c.script) f.logic.OnScriptTarget();
        f.view.folder = c.folder;
        if (!c.folder.empty()) f.logic.OnBrowseFolder();
        EXPECT_EQ(f.view.Text(O::Folder), c.folder);
        f.logic.OnOk();
        EXPECT_EQ(f.LastMessage(), c.message);
        EXPECT_EQ(f.view.ended, *c.message ? -1 : 1);
        if (*c.message) {
            EXPECT_EQ(f.state.saveAsScript, 0);
            continue;
        }
        EXPECT_EQ(f.view.folderTitle, L"Select Folder");
        EXPECT_EQ(f.state.scriptFolder, c.storedFolder);
        EXPECT_EQ(f.state.saveAsScript, 1);
        EXPECT_EQ(f.state.saveConstraints, 1);
        EXPECT_EQ(std::vector<int>({f.state.saveInsert, f.state.saveDelete, f.state.saveUpdate}),
                  std::vector<int>({c.insert, c.remove, c.update}));
    }
    OptionsFixture f;
    f.view.folder.reset();  // the browser cancelled
    f.view.texts[O::Folder] = L"/kept";
    f.logic.OnBrowseFolder();
    EXPECT_EQ(f.view.Text(O::Folder), L"/kept");
    f.logic.OnCancel();
    EXPECT_EQ(f.view.ended, 0);
}

TEST(SaveOptions, EveryCommandWaitsWhileTheTestRunsAndTheScanKeepsItsButtonDisabled) {
    OptionsFixture f;
    f.view.texts[O::Server] = L"";
    f.logic.OnTest();
    ASSERT_TRUE(f.logic.TestRunning());
    const std::vector<std::function<void()>> commands = {
        [&] { f.logic.OnAdd(); },  [&] { f.logic.OnRemove(); }, [&] { f.logic.OnBrowseFolder(); },
        [&] { f.logic.OnOk(); },   [&] { f.logic.OnCancel(); }, [&] { f.logic.OnScan(); },
        [&] { f.logic.OnTest(); }, [&] { EXPECT_FALSE(f.logic.OnCloseRequest()); },
    };
    for (const auto& command : commands) {
        f.prompter.messages.clear();
        command();
        EXPECT_EQ(f.Messages(), Texts{kWait});
    }
    EXPECT_EQ(f.view.ended, -1);
    EXPECT_EQ(f.pending.size(), 1u);  // neither a second test nor a scan started
    f.RunWorkers();
    EXPECT_FALSE(f.logic.TestRunning());
    EXPECT_EQ(f.prompter.messages.back().text,
              L"Please Select Sql Server or give Database name or select Provider name to create Database,All are "
              L"mandatory ");
    EXPECT_EQ(f.prompter.messages.back().icon, MessageIcon::Error);
    EXPECT_TRUE(f.logic.OnCloseRequest());
    EXPECT_EQ(f.view.ended, 0);

    // The scan: its button stays disabled until it ends, whatever the target does meanwhile.
    const std::string reply = "ServerName;H;InstanceName;I;;";
    std::vector<uint8_t> datagram = {kSsrpServerResponse, static_cast<uint8_t>(reply.size()), 0};
    datagram.insert(datagram.end(), reply.begin(), reply.end());
    test::Responder responder({datagram});
    OptionsFixture s({L"FreeTDS"}, {"127.0.0.1", responder.port(), false, std::chrono::milliseconds(500)});
    s.logic.OnScan();
    EXPECT_TRUE(s.logic.ScanRunning());
    EXPECT_FALSE(s.view.enabled[O::Scan]);
    s.logic.OnScriptTarget();
    s.logic.OnDatabaseTarget();
    EXPECT_FALSE(s.view.enabled[O::Scan]);
    s.logic.OnScan();
    EXPECT_EQ(s.pending.size(), 1u);
    // The dialog cannot end while the scan still reports to it.
    s.logic.OnOk();
    s.logic.OnCancel();
    EXPECT_FALSE(s.logic.OnCloseRequest());
    EXPECT_EQ(s.Messages(), (Texts{kWait, kWait, kWait}));
    EXPECT_EQ(s.view.ended, -1);
    s.prompter.messages.clear();
    s.RunWorkers();
    EXPECT_FALSE(s.logic.ScanRunning());
    EXPECT_TRUE(s.view.enabled[O::Scan]);
    EXPECT_EQ(s.view.servers, Texts{L"H\\I"});
    EXPECT_TRUE(s.prompter.messages.empty());

    // Nothing answers: the scan says so.
    test::Responder silent({});
    OptionsFixture quiet({L"FreeTDS"}, {"127.0.0.1", silent.port(), false, std::chrono::milliseconds(300)});
    quiet.logic.OnScan();
    quiet.RunWorkers();
    EXPECT_TRUE(quiet.view.servers.empty());
    EXPECT_EQ(quiet.Messages(), Texts{L"No SQL Server instance answered the scan."});
    EXPECT_TRUE(quiet.view.enabled[O::Scan]);
}

TEST(SaveOptions, OkSavesWithExactlyTheSettingsThatPassedTheTest) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    test::TdsEndpoint endpoint(nlohmann::json::array({{{"match", "^create database \\[Recovered\\]"}, {"error", 1801}}}));
    ASSERT_TRUE(endpoint.running());
    OptionsFixture f;
    f.logic.OnSqlAuthentication();
    f.view.checked[O::Insert] = true;
    f.view.texts[O::UserName] = L"sa";
    f.view.texts[O::Password] = L"pw";
    f.view.texts[O::Server] = endpoint.server();
    const auto test = [&](const std::wstring& database) {
        f.view.texts[O::Database] = database;
        f.logic.OnTest();
        f.RunWorkers();
    };
    test(L"Wanted");
    ASSERT_TRUE(f.logic.ConnectionTested());
    test(L"Recovered");  // refused: the database exists
    EXPECT_EQ(f.prompter.messages.at(2).text, L"Connection could not be Established . Check help for further Information");
    f.view.texts[O::Database] = L"Wanted";
    f.logic.OnOk();
    EXPECT_EQ(f.view.ended, 1);
    EXPECT_EQ(f.state.databaseName, L"Wanted");
    EXPECT_EQ(f.state.serverName, endpoint.server());
    EXPECT_EQ(f.state.userName, L"sa");
    EXPECT_EQ(f.state.password, L"pw");
    EXPECT_EQ(f.state.provider, L"FreeTDS");
}

// A server that takes the connection and never sends a byte, with the program's drivers, the driver's
// configuration as setup installs it and the real login timeout: the test ends and says so.
TEST(SaveOptions, ConnectionTestOfASilentServerEndsAtTheLoginTimeout) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    test::SilentTcpServer silent;
    ASSERT_TRUE(silent.running());
    OptionsFixture f(SqlServerDriverNames());
    f.view.texts[O::Server] = silent.server();
    f.view.texts[O::Database] = L"Db";
    const auto began = std::chrono::steady_clock::now();
    f.logic.OnTest();
    f.RunWorkers();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_GE(seconds, 14.0);
    EXPECT_LT(seconds, 19.0);
    EXPECT_FALSE(f.logic.TestRunning());
    EXPECT_FALSE(f.logic.ConnectionTested());
    EXPECT_EQ(f.Messages(), (Texts{L"Connection could not be Established . Check help for further Information",
                                   L"Test database connection process completed."}));
    std::wstring log;
    for (const auto& line : f.view.testLog) log += line + L"|";
    EXPECT_NE(log.find(L"The server did not answer within 15 seconds while connecting to it (testing the connection): "
                       L"ODBC driver \"FreeTDS\""),
              std::wstring::npos)
        << WideToUtf8(log);
}

TEST(SaveOptions, ConnectionTestTriesTheDriversInTurnAndProvesOnlyWhatItTested) {
    KESTRANE_REQUIRE_TDS_ENDPOINT();
    test::TdsEndpoint endpoint;
    ASSERT_TRUE(endpoint.running());
    OptionsFixture f({L"Kestrane Missing Driver", L"FreeTDS"});
    const fs::path dir = fs::temp_directory_path() / ("kestrane-saveopt-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ASSERT_TRUE(OpenActivityLog(f.state, (dir / "log.txt").string()));

    // Windows authentication ignores what the disabled boxes still hold.
    f.view.texts[O::UserName] = L"sa";
    f.view.texts[O::Password] = L"Pw;}x";
    f.logic.OnTest();
    f.RunWorkers();
    EXPECT_TRUE(f.state.userName.empty());
    EXPECT_TRUE(f.state.password.empty());

    f.logic.OnSqlAuthentication();
    for (auto [user, password, message] : {std::tuple{L"", L"pw", L"Please enter username"},
                                           std::tuple{L"sa", L"", L"Please enter password"}}) {
        f.view.texts[O::UserName] = user;
        f.view.texts[O::Password] = password;
        f.logic.OnTest();
        EXPECT_EQ(f.LastMessage(), message);
        EXPECT_TRUE(f.pending.empty());
    }
    f.view.texts[O::UserName] = L"sa";
    f.view.texts[O::Password] = L"S3cr;et#pw";
    f.view.texts[O::Server] = endpoint.server();
    f.view.texts[O::Database] = L"Recovered";
    f.prompter.messages.clear();
    f.logic.OnTest();
    f.RunWorkers();
    EXPECT_EQ(f.Messages(), (Texts{L"Connection Established with FreeTDS Driver.",
                                   L"Test database connection process completed."}));
    ASSERT_GE(f.view.testLog.size(), 3u);
    EXPECT_EQ(f.view.testLog[0], L"Opening Connection using SqlServer authentication ....");
    const auto failed = std::find(f.view.testLog.begin(), f.view.testLog.end(),
                                  L"Connection failed with Kestrane Missing Driver ...");
    ASSERT_NE(failed, f.view.testLog.end());
    EXPECT_EQ(*(failed + 1), L"Opening Connection using SqlServer authentication ....");
    EXPECT_EQ(f.view.testLog.back(), L"Connection Closed.");
    EXPECT_EQ(endpoint.Statements(), (Texts{L"create database [Recovered]", L"DROP database [Recovered]"}));
    EXPECT_EQ(f.state.provider, L"FreeTDS");
    EXPECT_EQ(f.state.serverName, endpoint.server());
    EXPECT_EQ(f.state.databaseName, L"Recovered");
    EXPECT_TRUE(f.logic.ConnectionTested());

    f.view.checked[O::Update] = true;
    f.view.texts[O::Database] = L"Other";  // not what was tested
    f.logic.OnOk();
    EXPECT_EQ(f.LastMessage(), L"Please test your database connection successfully before proceeding");
    f.view.texts[O::Database] = L"Recovered";
    f.logic.OnOk();
    EXPECT_EQ(f.view.ended, 1);
    EXPECT_EQ(f.state.saveAsScript, 0);

    // No driver connects: the test says so and OK still refuses.
    OptionsFixture none({L"Kestrane Missing Driver"});
    none.view.texts[O::Server] = endpoint.server();
    none.view.texts[O::Database] = L"Recovered";
    none.view.checked[O::Insert] = true;
    none.logic.OnTest();
    none.RunWorkers();
    EXPECT_EQ(none.Messages(), (Texts{L"Connection could not be Established . Check help for further Information",
                                      L"Test database connection process completed."}));
    none.logic.OnOk();
    EXPECT_EQ(none.LastMessage(), L"Please test your database connection successfully before proceeding");

    // The credentials were used and kept in memory only.
    CloseActivityLog(f.state);
    std::ifstream in(dir / "log.txt", std::ios::binary);
    const std::string log{std::istreambuf_iterator<char>(in), {}};
    const std::vector<uint8_t> wide = WideToUtf16Le(L"S3cr;et#pw");
    EXPECT_EQ(log.find(std::string(wide.begin(), wide.end())), std::string::npos);
    EXPECT_EQ(log.find("S3cr;et#pw"), std::string::npos);
    fs::remove_all(dir);
}

class FakeSaveHost : public SaveCommandHost {
public:
    int CheckedItemCount() const override { return checked; }
    bool RunSaveOptions() override { return calls.push_back("options"), optionsOk; }
    bool CreateProgressWindow() override { return calls.push_back("create"), windowOk; }
    void ShowProgressWindow() override { calls.push_back("show"); }
    void StartSaveWorker(bool asScript) override { calls.push_back(asScript ? "scripts" : "database"); }
    int checked = 1;
    bool optionsOk = true, windowOk = true;
    std::vector<std::string> calls;
};

TEST(SaveCommand, NeedsATickThenRunsOptionsWindowAndWorkerInTurn) {
    using Calls = std::vector<std::string>;
    struct Case {
        const char* name;
        int checked;
        bool optionsOk, windowOk;
        uint8_t asScript;
        Calls calls;
        const wchar_t* message;
    };
    const std::vector<Case> cases = {
        {"nothing ticked", 0, true, true, 0, {}, L"Please select atleast one item from tree to save"},
        {"options cancelled", 2, false, true, 0, {"options"}, L""},
        {"no window", 1, true, false, 0, {"options", "create"}, L"Migration dialog cannot be created"},
        {"database", 1, true, true, 0, {"options", "create", "show", "database"}, L""},
        {"scripts", 3, true, true, 1, {"options", "create", "show", "scripts"}, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunState state("/nonexistent/collation.txt");
        state.stopFlag = 1;
        state.saveLogRow = 9;
        state.includeDeletedRows = state.deletedRecordScan = state.rawLengthOption = 1;
        state.saveAsScript = c.asScript;
        ScriptedPrompter prompter;
        FakeSaveHost host;
        host.checked = c.checked;
        host.optionsOk = c.optionsOk;
        host.windowOk = c.windowOk;
        RunSaveCommand(state, prompter, host);
        EXPECT_EQ(host.calls, c.calls);
        EXPECT_EQ(prompter.messages.empty() ? L"" : prompter.messages.back().text, c.message);
        const bool started = c.checked != 0;
        EXPECT_EQ(state.stopFlag.load(), started ? 0 : 1);
        EXPECT_EQ(state.saveLogRow, started ? 0u : 9u);
        EXPECT_EQ(state.includeDeletedRows, started ? 0 : 1);
        EXPECT_EQ(state.rawLengthOption, 1);  // "dd" unchecked leaves it
    }
}

struct RecordingProgress : SaveProgressView {
    void AddLine(uint32_t, const std::wstring& t) override { lines.push_back(t); }
    void SetProgressRange(uint64_t) override {}
    void SetProgressPosition(uint64_t) override {}
    void ShowStatement(const std::wstring&) override {}
    void SetFinished() override { ++finished; }
    Texts lines;
    int finished = 0;
};

TEST(ProgressWindow, StopAsksAndCloseEndsTheProgramWhateverTheRunDid) {
    RunState state("/nonexistent/collation.txt");
    ScriptedPrompter prompter;
    test::FakeActions actions;
    ProgressWindowLogic logic(state, prompter, actions);
    // Stop: No, Yes while saving, Yes after the run ended (stops nothing); Close: No, Yes; Cancel: Yes.
    prompter.answers = {PromptAnswer::No, PromptAnswer::Yes, PromptAnswer::Yes,
                        PromptAnswer::No, PromptAnswer::Yes, PromptAnswer::Yes};
    std::vector<int> flags;
    for (bool saving : {true, true, false}) {
        state.stopFlag = 0;
        logic.SetSaving(saving);
        logic.OnStop();
        flags.push_back(state.stopFlag.load());
    }
    EXPECT_EQ(flags, (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(std::vector<bool>({logic.OnClose(), logic.OnClose(), logic.OnCancel()}),
              std::vector<bool>({false, true, true}));
    EXPECT_EQ(prompter.questions[0], L"Are you sure you want to stop the saving process?");
    EXPECT_EQ(prompter.questions[3], L"Do you want to Close Application ?");
    EXPECT_EQ(prompter.questions[5], L"Do you want to Close Application ?");
    logic.OnHelpCommand(kCmdHelp);
    EXPECT_EQ(actions.calls, std::vector<std::string>{"help"});

    struct Runs : SaveRuns {
        void SaveToDatabase(const std::vector<TickedTreeItem>& items, SaveProgressView&) override {
            database = items.size();
            throw std::runtime_error("disk gone");
        }
        void SaveAsScripts(const std::vector<TickedTreeItem>& items, SaveProgressView&) override {
            scripts = items.size();
        }
        size_t database = 0, scripts = 0;
    } runs;
    RecordingProgress view;
    RunSaveWorker(runs, state, true, {{7, L"t[2]"}}, view);
    RunSaveWorker(runs, state, false, {{7, L"t[2]"}, {8, L"u[1]"}}, view);
    EXPECT_EQ(runs.scripts, 1u);
    EXPECT_EQ(runs.database, 2u);
    EXPECT_EQ(view.lines, Texts{L"The save ended early: disk gone"});
    EXPECT_EQ(view.finished, 2);
}

}  // namespace
}  // namespace kestrane
