#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "datafile/SecondaryFileFixture.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "support/RecordingSinks.h"
#include "ui/ActivityLog.h"
#include "ui/AppActions.h"
#include "ui/AppTexts.h"
#include "ui/BrowserLauncher.h"
#include "ui/AnalysisRun.h"
#include "ui/DatabaseFileKind.h"
#include "ui/EngineSession.h"
#include "ui/MainDialogLogic.h"
#include "ui/SingleInstanceGuard.h"
#include "ui/StartDialogLogic.h"
#include "UiFakes.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test::FakeActions;
using test::FakeEngine;
using test::FakeMainView;
using test::FakeStartView;
using test::ScriptedPrompter;

fs::path TempFolder(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("kestrane-ui-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::vector<uint8_t> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::wstring Separator() { return L"\r\n" + std::wstring(80, L'*') + L"\r\n"; }

TEST(ActivityLog, CreatedWithMarkAppendedWithoutAndFallsBackToStateFolder) {
    fs::path dir = TempFolder("log");
    const std::string path = ActivityLogPath(dir.string());
    EXPECT_EQ(path, (dir / "log.txt").string());
    {
        RunState state("/nonexistent/collation.txt");
        ASSERT_TRUE(OpenActivityLog(state, path));
        AppendActivityLog(state, L"Browse File Path:\tx\r\n");
    }
    {
        RunState state("/nonexistent/collation.txt");
        ASSERT_TRUE(OpenActivityLog(state, path));  // a second start: new separator, no second mark
        CloseActivityLog(state);
        AppendActivityLog(state, L"lost");  // closed: nothing written
    }
    std::vector<uint8_t> bytes = FileBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    const std::wstring text = Utf16LeToWide(ByteView(bytes.data() + 2, bytes.size() - 2));
    EXPECT_EQ(text, Separator() + L"Browse File Path:\tx\r\n" + Separator());

    // A folder that cannot be written: the user's state folder.
    fs::path state = TempFolder("state");
    const char* old = std::getenv("XDG_STATE_HOME");
    std::string saved = old ? old : "";
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    EXPECT_EQ(ActivityLogPath((dir / "missing").string()), (state / "kestrane" / "log.txt").string());
    EXPECT_TRUE(fs::is_directory(state / "kestrane"));
    if (old) ::setenv("XDG_STATE_HOME", saved.c_str(), 1); else ::unsetenv("XDG_STATE_HOME");
    fs::remove_all(dir);
    fs::remove_all(state);
}

TEST(AppActions, TheHelpPageIsOpenedOrItsPathIsGiven) {
    const fs::path dir = TempFolder("help");
    fs::create_directories(dir / "help");
    std::ofstream(dir / "help" / "index.html") << "<html></html>";
    const std::string page = FindHelpPage(dir.string());
    EXPECT_EQ(page, (dir / "help" / "index.html").string());
    std::vector<std::string> opened;
    ScriptedPrompter prompter;
    OpenHelpPageWith(page, [&](const std::string& url) { opened.push_back(url); return true; }, prompter);
    EXPECT_EQ(opened, std::vector<std::string>{"file://" + page});
    EXPECT_TRUE(prompter.messages.empty());
    // No browser starts: the message gives the page's path.
    OpenHelpPageWith(page, [](const std::string&) { return false; }, prompter);
    OpenHelpPageWith(page, {}, prompter);
    ASSERT_EQ(prompter.messages.size(), 2u);
    for (const auto& message : prompter.messages)
        EXPECT_EQ(message.text, L"No web browser could be started to show the help page. It is at:\n" + Utf8ToWide(page));
    prompter.messages.clear();
    OpenHelpPageWith("", [&](const std::string&) { return true; }, prompter);  // no page found
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, L"The help page cannot be found.");
}

// A stand-in launcher on PATH: the desktop's launcher is judged by how it ends, not by its start.
TEST(AppActions, NoBrowserIsToldByTheLaunchersOwnOutcome) {
    const fs::path dir = TempFolder("launcher");
    fs::create_directories(dir / "help");
    std::ofstream(dir / "help" / "index.html") << "<html></html>";
    const std::string page = FindHelpPage(dir.string());
    auto standIn = [&](const std::string& body) {
        fs::remove(dir / "xdg-open");
        std::ofstream(dir / "xdg-open") << "#!/bin/sh\n" << body << "\n";
        fs::permissions(dir / "xdg-open", fs::perms::owner_all);
    };
    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    ::setenv("PATH", dir.c_str(), 1);  // only the stand-in: never the machine's own launcher
    const std::wstring noBrowser = L"No web browser could be started to show the help page. It is at:\n" + Utf8ToWide(page);
    ScriptedPrompter prompter;

    standIn("echo 'xdg-open: no method available for opening' >&2; exit 3");
    OpenHelpPageWith(page, OpenWithDesktop, prompter);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, noBrowser);

    standIn("printf '%s' \"$1\" > \"" + (dir / "opened").string() + "\"");
    OpenHelpPageWith(page, OpenWithDesktop, prompter);
    EXPECT_EQ(prompter.messages.size(), 1u);
    std::ifstream opened(dir / "opened");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(opened), {}), "file://" + page);

    // A launcher that keeps running (a browser in its foreground) has started; the wait is bounded.
    standIn("exec /bin/sleep 5");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(RunLauncher("xdg-open", "file://" + page, std::chrono::milliseconds(200)));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    // No launcher at all.
    fs::remove(dir / "xdg-open");
    EXPECT_FALSE(RunLauncher("xdg-open", "file://" + page, std::chrono::milliseconds(200)));
    EXPECT_FALSE(RunLauncher((dir / "missing").string(), "x", std::chrono::milliseconds(200)));

    ::setenv("PATH", savedPath.c_str(), 1);
    fs::remove_all(dir);
}

TEST(SingleInstanceGuard, SecondHolderSeesTheFirstUntilItEnds) {
    fs::path dir = TempFolder("lock");
    const std::string lock = (dir / "instance.lock").string();
    {
        CSingleInstanceGuard first(lock);
        EXPECT_FALSE(first.IsAnotherInstanceRunning());
        CSingleInstanceGuard second(lock);
        EXPECT_TRUE(second.IsAnotherInstanceRunning());
        EXPECT_FALSE(first.IsAnotherInstanceRunning());  // the running instance is unaffected
    }
    CSingleInstanceGuard third(lock);
    EXPECT_FALSE(third.IsAnotherInstanceRunning());
    fs::remove_all(dir);
}

struct StartFixture {
    fs::path dir = TempFolder("start");
    RunState state{"/nonexistent/collation.txt"};
    ScriptedPrompter prompter;
    FakeStartView view;
    FakeActions actions;
    StartDialogLogic logic{state, prompter, view, actions, (dir / "log.txt").string()};
    ~StartFixture() { fs::remove_all(dir); }
    std::wstring MakeFile(const std::string& name) {
        std::ofstream(dir / name) << "x";
        return Utf8ToWide((dir / name).string());
    }
    std::wstring LastMessage() const { return prompter.messages.empty() ? L"" : prompter.messages.back().text; }
};

TEST(StartDialogLogic, NextChecksTheLogFileFirstThenTheDataFile) {
    StartFixture f;
    f.logic.OnInitDialog();
    EXPECT_TRUE(f.state.activityLog.isOpen());
    f.state.snapshotMode = 1;
    f.logic.OnInitDialog();
    EXPECT_EQ(f.state.snapshotMode, 0);

    f.logic.OnNext();
    EXPECT_EQ(f.LastMessage(), L"Please browse ldf file to continue recovery process");
    EXPECT_EQ(f.prompter.messages.back().icon, MessageIcon::Information);
    f.logic.OnBrowseLogFile(f.MakeFile("db_log.ldf"));
    f.logic.OnNext();
    EXPECT_EQ(f.LastMessage(), L"Please browse mdf file to continue recovery process");
    EXPECT_EQ(f.view.created, 0);

    f.logic.OnBrowseDataFile(f.MakeFile("db.mdf"));
    f.view.createOk = false;
    f.logic.OnNext();
    EXPECT_EQ(f.LastMessage(), L"MDf Sql dialog cannot be created");
    EXPECT_FALSE(f.view.hidden);
    f.view.createOk = true;
    const size_t messages = f.prompter.messages.size();
    f.logic.OnNext();
    EXPECT_TRUE(f.view.hidden);
    EXPECT_EQ(f.prompter.messages.size(), messages);
}

TEST(StartDialogLogic, TypedPathsAreCheckedByNextAsBrowsedOnesAre) {
    StartFixture f;
    const std::wstring log = f.MakeFile("typed_log.ldf"), data = f.MakeFile("typed.mdf");
    f.view.logBox = log;
    f.view.dataBox = Utf8ToWide((f.dir / "typo.mdf").string());
    f.logic.OnNext();
    EXPECT_EQ(f.LastMessage(), L"Please select valid mdf file.");
    EXPECT_EQ(f.state.logFilePath, log);
    EXPECT_EQ(f.view.created, 0);
    f.view.dataBox = data;
    f.logic.OnNext();
    EXPECT_EQ(f.state.dataFilePath, data);
    EXPECT_EQ(f.view.created, 1);
    // An emptied box chooses nothing.
    f.view.logBox.clear();
    f.logic.OnNext();
    EXPECT_EQ(f.LastMessage(), L"Please browse ldf file to continue recovery process");
    EXPECT_EQ(f.view.created, 1);
}

TEST(StartDialogLogic, BrowseRefusesMissingAndUnwritableFiles) {
    StartFixture f;
    const std::wstring good = f.MakeFile("a.ldf");
    f.logic.OnBrowseLogFile(std::nullopt);  // cancelled
    EXPECT_TRUE(f.prompter.messages.empty());
    EXPECT_EQ(f.view.logBox, L"");

    f.logic.OnBrowseLogFile(good);
    EXPECT_EQ(f.state.logFilePath, good);
    EXPECT_EQ(f.view.logBox, good);

    const std::wstring missing = Utf8ToWide((f.dir / "gone.ldf").string());
    f.logic.OnBrowseLogFile(missing);
    EXPECT_EQ(f.LastMessage(), L"Please select valid ldf file.");
    EXPECT_EQ(f.view.logBox, good);  // nothing changes

    // A path that exists but does not open for writing: the box shows it, the shared path keeps the old.
    fs::create_directories(f.dir / "folder.ldf");
    const std::wstring folder = Utf8ToWide((f.dir / "folder.ldf").string());
    f.logic.OnBrowseLogFile(folder);
    EXPECT_EQ(f.view.logBox, folder);
    EXPECT_EQ(f.state.logFilePath, good);
    if (::geteuid() != 0) {  // root writes read-only files anyway
        const std::wstring readOnly = f.MakeFile("ro.ldf");
        fs::permissions(f.dir / "ro.ldf", fs::perms::owner_read);
        f.logic.OnBrowseLogFile(readOnly);
        EXPECT_EQ(f.state.logFilePath, good);
    }

    f.logic.OnBrowseDataFile(missing);
    EXPECT_EQ(f.LastMessage(), L"Please select valid mdf file.");
    EXPECT_TRUE(f.state.dataFilePath.empty());

    // A file the user may read but not write: still refused, and the message says why.
    f.logic.checkAccess = [](const std::string&) { return FileAccess::ReadOnly; };
    f.logic.OnBrowseDataFile(f.MakeFile("ro.mdf"));
    EXPECT_EQ(f.LastMessage().rfind(L"Please select valid mdf file.", 0), 0u);
    EXPECT_NE(f.LastMessage().find(L"read-only"), std::wstring::npos);
    EXPECT_TRUE(f.state.dataFilePath.empty());
    f.logic.checkAccess = CheckFileAccess;
    EXPECT_EQ(CheckFileAccess(WideToUtf8(good)), FileAccess::Writable);
    EXPECT_EQ(CheckFileAccess(WideToUtf8(missing)), FileAccess::Missing);
    EXPECT_EQ(CheckFileAccess(WideToUtf8(folder)), FileAccess::Unusable);
    if (::geteuid() != 0) {
        EXPECT_EQ(CheckFileAccess((f.dir / "ro.ldf").string()), FileAccess::ReadOnly);
    }

    f.prompter.answers = {PromptAnswer::No, PromptAnswer::Yes};
    EXPECT_FALSE(f.logic.OnClose());
    EXPECT_TRUE(f.logic.OnClose());
    EXPECT_EQ(f.prompter.questions.back(), L"Do you want to Close Application ?");
    f.logic.OnHelpCommand(kCmdAbout);
    f.logic.OnHelpCommand(kCmdHelp);
    f.logic.OnHelpCommand(kCmdHomepage);
    f.logic.OnHelpCommand(1);
    EXPECT_EQ(f.actions.calls, (std::vector<std::string>{"about", "help", "home"}));
}

// Pages as a data file or a log begins: {page index, header version, page type}, or a VLF header.
void WritePages(const fs::path& path, size_t pages, size_t leading,
                const std::vector<std::pair<size_t, uint8_t>>& pageTypes, bool vlfAtSecondPage) {
    std::vector<uint8_t> bytes(leading + pages * 8192, 0);
    for (const auto& [page, type] : pageTypes) {
        bytes[leading + page * 8192] = 1;
        bytes[leading + page * 8192 + 1] = type;
    }
    if (vlfAtSecondPage) {
        bytes[8192] = 0xAB;
        bytes[8193] = 0x40;
        bytes[8192 + 4] = 7;  // VLF sequence
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(StartDialogLogic, NextNamesTheBoxThatHoldsTheOtherKindOfFile) {
    StartFixture f;
    const fs::path data = f.dir / "built.mdf", log = f.dir / "built_log.ldf", leading = f.dir / "lead.mdf",
                   bootOnly = f.dir / "boot.mdf", stray = f.dir / "stray.mdf";
    WritePages(data, 10, 0, {{0, 15}, {1, 11}, {9, 13}}, false);
    WritePages(log, 3, 0, {{0, 15}}, true);
    WritePages(leading, 10, 512, {{0, 15}, {1, 11}, {9, 13}}, false);
    WritePages(bootOnly, 10, 0, {{0, 15}, {9, 13}}, false);
    WritePages(stray, 3, 0, {{0, 15}}, false);  // a file header page and nothing after it
    EXPECT_EQ(RecogniseDatabaseFile(data.string()), DatabaseFileKind::DataFile);
    EXPECT_EQ(RecogniseDatabaseFile(leading.string()), DatabaseFileKind::DataFile);
    EXPECT_EQ(RecogniseDatabaseFile(bootOnly.string()), DatabaseFileKind::DataFile);
    EXPECT_EQ(RecogniseDatabaseFile(log.string()), DatabaseFileKind::LogFile);
    EXPECT_EQ(RecogniseDatabaseFile(stray.string()), DatabaseFileKind::Unknown);
    EXPECT_EQ(RecogniseDatabaseFile((f.dir / "none").string()), DatabaseFileKind::Unknown);

    auto next = [&](const fs::path& inLogBox, const fs::path& inDataBox) {
        f.prompter.messages.clear();
        f.logic.OnBrowseLogFile(Utf8ToWide(inLogBox.string()));
        f.logic.OnBrowseDataFile(Utf8ToWide(inDataBox.string()));
        f.logic.OnNext();
        return f.LastMessage();
    };
    const std::wstring dataText = Utf8ToWide(data.string()), logText = Utf8ToWide(log.string());
    EXPECT_EQ(next(log, log), L"The file in the MDF File box is a transaction log, not a primary data file:\n" +
                                  logText + L"\n\nChoose the primary data file (.mdf) in the MDF File box.");
    EXPECT_EQ(next(data, data), L"The file in the LDF File box is a data file, not a transaction log:\n" +
                                    dataText + L"\n\nChoose the transaction log file (.ldf) in the LDF File box.");
    EXPECT_EQ(next(data, log), L"The two files are swapped: the MDF File box holds the transaction log and the LDF "
                               L"File box holds the data file.\n\nMDF File: " + logText + L"\nLDF File: " +
                                   dataText + L"\n\nChoose each file in its own box.");
    EXPECT_EQ(f.prompter.messages.back().icon, MessageIcon::Information);
    EXPECT_EQ(f.view.created, 0);
    // Files of no known kind go on to the analysis, whose own messages stay as they were.
    EXPECT_EQ(next(stray, stray), L"");
    EXPECT_EQ(next(log, data), L"");
    EXPECT_EQ(f.view.created, 2);

    // The real files, each in the other's box.
    if (test::CorpusRoot()) {
        int swapped = 0;
        for (const test::CorpusSet& set : test::CorpusSets()) {
            for (const fs::path& file : set.dataFiles) EXPECT_EQ(RecogniseDatabaseFile(file.string()), DatabaseFileKind::DataFile) << file;
            for (const fs::path& file : set.logFiles) EXPECT_EQ(RecogniseDatabaseFile(file.string()), DatabaseFileKind::LogFile) << file;
            if (set.dataFiles.empty() || set.logFiles.empty()) continue;
            f.logic.checkAccess = [](const std::string&) { return FileAccess::Writable; };  // corpus may be read-only
            EXPECT_EQ(next(set.dataFiles[0], set.logFiles[0]).rfind(L"The two files are swapped", 0), 0u) << set.name;
            ++swapped;
        }
        EXPECT_GT(swapped, 0);
        EXPECT_EQ(f.view.created, 2);
    }
}

struct MainFixture {
    RunState state{"/nonexistent/collation.txt"};
    ScriptedPrompter prompter;
    FakeMainView view;
    FakeEngine engine;
    FakeActions actions;
    DirectDispatcher ui;
    MainDialogLogic logic{state, prompter, view, engine, actions};
    AnalysisRun run{state, engine, view, logic, ui, prompter};
    MainFixture() {
        run.sleep = [this](int ms) { slept += ms; };
        state.dataFilePath = L"C:\\data\\shop.mdf";
    }
    int slept = 0;
};

TEST(MainDialogLogic, StopCloseAndTheProgressProtocol) {
    MainFixture f;
    f.prompter.answers = {PromptAnswer::No, PromptAnswer::Yes, PromptAnswer::Yes};
    f.logic.OnStop();
    EXPECT_EQ(f.state.stopFlag.load(), 0);
    f.logic.OnStop();
    EXPECT_EQ(f.state.stopFlag.load(), 1);
    EXPECT_EQ(f.prompter.questions[0], L"Are you sure u want to stop the current process?");
    // A Yes that comes after the run has ended stops nothing (it would stop the next run).
    f.state.stopFlag = 0;
    f.view.running = false;
    f.logic.OnStop();
    EXPECT_EQ(f.state.stopFlag.load(), 0);

    fs::path dir = TempFolder("main");
    ASSERT_TRUE(OpenActivityLog(f.state, (dir / "log.txt").string()));
    f.prompter.answers = {PromptAnswer::No};
    EXPECT_FALSE(f.logic.OnClose());
    EXPECT_TRUE(f.state.activityLog.isOpen());
    EXPECT_EQ(f.engine.closes, 0);
    f.prompter.answers = {PromptAnswer::Yes};
    EXPECT_TRUE(f.logic.OnClose());
    EXPECT_FALSE(f.state.activityLog.isOpen());
    EXPECT_EQ(f.engine.closes, 1);
    fs::remove_all(dir);

    // The protocol as the engine sends it.
    DialogProgressSink sink(f.ui, f.logic);
    sink.SetRange(500);
    EXPECT_EQ(f.view.range, 500);
    EXPECT_EQ(f.view.position, 0);
    sink.SetPosition(42);
    EXPECT_EQ(f.view.position, 42);
    sink.StatusText("Caf\xE9");
    EXPECT_EQ(f.view.status, L"Caf\u00E9");
    sink.ErrorDescription("Login failed");
    EXPECT_EQ(f.prompter.messages.back().text, L"Login failed");
    EXPECT_EQ(f.prompter.messages.back().icon, MessageIcon::Error);
    sink.FatalText("File cannot be open...........");
    EXPECT_EQ(f.view.position, 0);
    EXPECT_EQ(f.view.status, L"");
    EXPECT_EQ(f.engine.resets, 1);
    EXPECT_EQ(f.prompter.messages.back().text, L"File cannot be open...........");
    EXPECT_EQ(f.prompter.messages.back().icon, MessageIcon::Error);

    f.logic.OnBack();
    EXPECT_EQ(f.view.tree.GetCount(), 0u);
    EXPECT_EQ(f.engine.closes, 2);
}

TEST(MainDialogLogic, RecordGridSkipsColumnsWithoutPlaceUnlessLegacy) {
    ColumnDefList columns(3);
    columns[0].name = L"id";
    columns[1].name = L"total";
    columns[1].ordinal = kOrdinalNotStored;
    columns[2].name = L"note";
    EXPECT_EQ(MainDialogLogic::RecordGridColumnTitles(columns, false), (std::vector<std::wstring>{L"Row", L"id", L"note"}));
    EXPECT_EQ(MainDialogLogic::RecordGridColumnTitles(columns, true).size(), 4u);
}

TEST(AnalysisRun, BuildsTheSortedTableTreeWithCountsThatAddUp) {
    MainFixture f;
    fs::path dir = TempFolder("run");
    ASSERT_TRUE(OpenActivityLog(f.state, (dir / "log.txt").string()));
    // The version is read from the boot page when the file opens (each run starts without one).
    f.engine.onOpen = [&] { f.state.serverVersionText = L" SQL Server 2008"; };
    f.engine.names = {{7, L"orders"}, {9, L"Customers"}, {12, L"audit"}};
    for (uint32_t t : {7u, 7u, 9u, 12u, 7u, 9u, 99u}) f.engine.ops.push_back({t});
    EXPECT_EQ(f.run.ScanThreadProc(), 0);

    EXPECT_EQ(f.engine.openedPath, L"C:\\data\\shop.mdf");
    EXPECT_FALSE(f.engine.advanceSearch);
    EXPECT_EQ(f.view.version, L" SQL Server 2008");
    EXPECT_EQ(f.view.collation, L"Unknown Collation");
    EXPECT_EQ(f.state.collationName, L"Unknown Collation");
    const XHtmlTreeModel& tree = f.view.tree;
    TreeItem root = tree.GetRootItem();
    EXPECT_EQ(tree.GetItemText(root), L"C:\\data\\shop.mdf");
    EXPECT_EQ(tree.GetItemImage(root), 1);
    EXPECT_EQ(tree.GetItemSelectedImage(root), 1);
    ASSERT_EQ(tree.GetChildren(root).size(), 1u);
    TreeItem all = tree.GetChildren(root)[0];
    EXPECT_EQ(tree.GetItemText(all), L"All[7]");
    EXPECT_EQ(tree.GetItemData(all), 0u);
    std::vector<std::wstring> labels;
    std::vector<uint32_t> ids;
    for (TreeItem item : tree.GetChildren(all)) {
        labels.push_back(tree.GetItemText(item));
        ids.push_back(tree.GetItemData(item));
    }
    EXPECT_EQ(labels, (std::vector<std::wstring>{L"audit[1]", L"Customers[2]", L"orders[3]"}));
    EXPECT_EQ(ids, (std::vector<uint32_t>{12, 9, 7}));

    EXPECT_EQ(f.view.statusHistory,
              (std::vector<std::wstring>{L"", L"Mapping Database Objects...........", L"Processing User table....",
                                         L"Processing Ldf File....", L"Creating Tree in Tree control....",
                                         L"Scanning process completed........."}));
    EXPECT_FALSE(f.view.running);
    EXPECT_EQ(f.slept, 2000);
    EXPECT_EQ(f.view.invalidated, 1);
    EXPECT_EQ(f.engine.closes, 1);  // the previous run's leftovers are closed first

    f.state.activityLog.close();
    std::vector<uint8_t> bytes = FileBytes(dir / "log.txt");
    const std::wstring text = Utf16LeToWide(ByteView(bytes.data() + 2, bytes.size() - 2));
    EXPECT_EQ(text, Separator() + L"Browse File Path:\tC:\\\\data\\\\shop.mdf\r\n");
    fs::remove_all(dir);
}

TEST(AnalysisRun, RefusalsAndEmptyResultsRestoreTheButtons) {
    {  // no operation of any user table: no tree item at all
        MainFixture f;
        // What the database before left: a file whose boot page is not found shows none of it.
        f.state.serverVersionText = L" SQL Server 2008";
        f.state.collationName = L"Cyrillic_General_CI_AS";
        f.state.codePage = 1251;
        f.run.ScanThreadProc();
        EXPECT_EQ(f.view.version, L"Unknown SQL Version");
        EXPECT_EQ(f.view.collation, L"Unknown Collation");
        EXPECT_EQ(f.state.codePage, 1252);
        EXPECT_EQ(f.view.tree.GetCount(), 0u);
        EXPECT_EQ(f.view.status, L"Scanning process completed.........");
        EXPECT_EQ(f.engine.scans, 1);
    }
    {  // a stop request left from before the run is not for it
        MainFixture f;
        f.state.stopFlag = 1;
        f.engine.ops = {{7}};
        f.engine.names = {{7, L"orders"}};
        f.run.ScanThreadProc();
        EXPECT_EQ(f.view.status, kTextRunCompleted);
        EXPECT_EQ(f.view.tree.GetCount(), 3u);
    }
    {  // SQL Server 2000: refused before the log scan
        MainFixture f;
        f.engine.onOpen = [&] { f.state.serverVersionText = L" SQL Server 2000"; };
        f.state.snapshotMode = 1;
        f.state.snapshotAdvanceSearch = 1;
        f.run.ScanThreadProc();
        EXPECT_TRUE(f.engine.advanceSearch);
        EXPECT_EQ(f.view.version, L" SQL Server 2000");
        ASSERT_EQ(f.prompter.messages.size(), 1u);
        EXPECT_EQ(f.prompter.messages[0].text, L"Software does not support version below sql server 2005");
        EXPECT_EQ(f.prompter.messages[0].icon, MessageIcon::Information);
        EXPECT_EQ(f.engine.scans, 0);
        EXPECT_EQ(f.view.status, L"Scanning process completed.........");
        EXPECT_FALSE(f.view.running);
        EXPECT_EQ(f.slept, 0);
        f.logic.OnBack();  // Back closes the still open data file
        EXPECT_EQ(f.engine.closes, 2);
    }
    {  // the opener refused: only its own message
        MainFixture f;
        f.engine.openOk = false;
        f.run.ScanThreadProc();
        ASSERT_EQ(f.prompter.messages.size(), 1u);
        EXPECT_EQ(f.prompter.messages[0].text, L"File cannot be open...........");
        EXPECT_FALSE(f.view.running);
        EXPECT_EQ(f.engine.userTableMaps, 0);
    }
    {  // a catalogue without objects
        MainFixture f;
        f.engine.hasObjects = false;
        f.run.ScanThreadProc();
        ASSERT_EQ(f.prompter.messages.size(), 1u);
        EXPECT_EQ(f.prompter.messages[0].text, L"Whether it is not valid mdf file or highly corrupted");
        EXPECT_EQ(f.prompter.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(f.engine.resets, 1);
        EXPECT_FALSE(f.view.running);
    }
}

TEST(AnalysisRun, StopInEveryPhaseEndsTheRunAndSaysItIsPartial) {
    for (const char* phase : {"open", "scan"}) {
        SCOPED_TRACE(phase);
        MainFixture f;
        f.engine.ops = {{7}, {7}};
        f.engine.names = {{7, L"orders"}};
        auto stop = [&] { f.state.stopFlag = 1; };
        (std::string(phase) == "open" ? f.engine.onOpen : f.engine.onScan) = stop;
        f.run.ScanThreadProc();
        EXPECT_EQ(f.view.status, kTextRunStopped);
        EXPECT_TRUE(f.prompter.messages.empty());
        EXPECT_EQ(f.engine.scans, std::string(phase) == "open" ? 0 : 1);
        // What the scan found before the stop is listed; the request ends with the run.
        EXPECT_EQ(f.view.tree.GetCount(), std::string(phase) == "open" ? 0u : 3u);
        EXPECT_EQ(f.state.stopFlag.load(), 0);
        EXPECT_FALSE(f.view.running);
    }
}

TEST(AnalysisRun, SaysWhatHappenedWhenNothingCanBeListed) {
    struct Case {
        const char* name;
        LogFileFacts log;
        const wchar_t* message;
    };
    const Case cases[] = {
        {"zero-byte log", {true, 0, 0, 0, 0}, kTextLogEmpty},
        {"no VLF", {true, 8192 * 8, 0, 0, 0}, kTextLogWithoutVlf},
        {"no user-table operation", {true, 8192 * 64, 2, 26, 27}, kTextNoUserTableOperation},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MainFixture f;
        f.engine.log = c.log;
        f.run.ScanThreadProc();
        ASSERT_EQ(f.prompter.messages.size(), 1u);
        EXPECT_EQ(f.prompter.messages[0].text, c.message);
        EXPECT_EQ(f.view.status, kTextRunCompleted);
    }
    {  // an unopened log: the scan's own "LDF File Cannot be open..." is all
        MainFixture f;
        f.engine.log = LogFileFacts{};
        f.run.ScanThreadProc();
        EXPECT_TRUE(f.prompter.messages.empty());
    }
}

TEST(AnalysisRun, WarnsOfACutDataFileAndAForeignLogBeforeListing) {
    {  // the data file's pages name pages past its end: said, and the run goes on
        MainFixture f;
        f.engine.data = DataFileFacts{144, 237, 27, 59, 1, {}, {}, {}};
        f.engine.log = LogFileFacts{true, 516096, 1, 27, 27};
        f.engine.ops = {{7}};
        f.engine.names = {{7, L"orders"}};
        f.run.ScanThreadProc();
        ASSERT_EQ(f.prompter.messages.size(), 1u);
        EXPECT_EQ(f.prompter.messages[0].text, DataFileCutText(144, 237));
        EXPECT_EQ(f.prompter.messages[0].icon, MessageIcon::Warning);
        EXPECT_TRUE(f.prompter.questions.empty());  // the log holds the last change (27)
        EXPECT_EQ(f.view.tree.GetCount(), 3u);
    }
    for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
        // The data file last changed in VLF 50, the log holds 46..49 only.
        MainFixture f;
        f.engine.data = DataFileFacts{416, 407, 50, 83, 2, {}, {}, {}};
        f.engine.log = LogFileFacts{true, 1048576, 4, 46, 49};
        f.engine.ops = {{7}};
        f.engine.names = {{7, L"orders"}};
        f.prompter.answers = {answer};
        f.run.ScanThreadProc();
        ASSERT_EQ(f.prompter.questions.size(), 1u);
        EXPECT_EQ(f.prompter.questions[0], LogMismatchQuestion(f.engine.data, f.engine.log));
        EXPECT_NE(f.prompter.questions[0].find(L"LSN 50:83:2"), std::wstring::npos);
        EXPECT_NE(f.prompter.questions[0].find(L"46 to 49"), std::wstring::npos);
        EXPECT_EQ(f.engine.scans, answer == PromptAnswer::Yes ? 1 : 0);
        EXPECT_EQ(f.view.tree.GetCount(), answer == PromptAnswer::Yes ? 3u : 0u);
        EXPECT_FALSE(f.view.running);
    }
}

// Secondary data files the catalogue names but that are not beside the MDF file: said in a warning
// and in the activity log, and the run goes on to list what it can.
TEST(AnalysisRun, SaysWhichSecondaryDataFilesAreMissingAndGoesOn) {
    fs::path dir = TempFolder("missing");
    MainFixture f;
    ASSERT_TRUE(OpenActivityLog(f.state, (dir / "log.txt").string()));
    f.engine.data.pageCount = 144;
    f.engine.data.folder = L"/data/";
    f.engine.data.secondaryFiles = {L"Shop_2.ndf", L"Shop_3.ndf", L"Shop_4.ndf"};
    f.engine.data.missingSecondaryFiles = {L"Shop_3.ndf", L"Shop_4.ndf"};
    f.engine.ops = {{7}};
    f.engine.names = {{7, L"orders"}};
    f.run.ScanThreadProc();
    CloseActivityLog(f.state);
    ASSERT_EQ(f.prompter.messages.size(), 1u);
    const std::wstring text = f.prompter.messages[0].text;
    EXPECT_EQ(text, MissingSecondaryFilesText(f.engine.data));
    EXPECT_EQ(f.prompter.messages[0].icon, MessageIcon::Warning);
    EXPECT_NE(text.find(L"names 3 secondary data file(s): Shop_2.ndf, Shop_3.ndf, Shop_4.ndf."), std::wstring::npos);
    EXPECT_NE(text.find(L"(in /data/): Shop_3.ndf, Shop_4.ndf."), std::wstring::npos);
    EXPECT_EQ(f.engine.scans, 1);
    EXPECT_EQ(f.view.tree.GetCount(), 3u);
    const std::vector<uint8_t> bytes = FileBytes((dir / "log.txt").string());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_NE(Utf16LeToWide(ByteView(bytes.data() + 2, bytes.size() - 2)).find(text + L"\r\n"), std::wstring::npos);

    // All found: nothing to say.
    MainFixture whole;
    whole.engine.data.secondaryFiles = {L"Shop_2.ndf"};
    whole.engine.ops = {{7}};
    whole.engine.names = {{7, L"orders"}};
    whole.run.ScanThreadProc();
    EXPECT_TRUE(whole.prompter.messages.empty());
    EXPECT_TRUE(MissingSecondaryFilesText(whole.engine.data).empty());
    fs::remove_all(dir);
}

// The facts the warning is made of, from a byte-built primary whose file list names the log and two
// secondary files, one of them not beside it.
TEST(EngineSession, NamesTheSecondaryDataFilesTheCatalogueListsAndThoseNotFound) {
    test::TempFolder dir;
    dir.Write("Shop.mdf", test::PrimaryListingFiles({{0x2, 1, L"Shop", L"D:\\db\\Shop.mdf"},
                                                     {0x42, 2, L"Shop_log", L"D:\\db\\Shop_log.ldf"},
                                                     {0x2, 3, L"Shop_2", L"D:\\db\\Shop_2.ndf"},
                                                     {0x2, 4, L"Shop_3", L"D:\\db\\Shop_3.ndf"}}));
    dir.Write("Shop_2.ndf", test::SecondaryFileOf(3));
    RunState state{"/nonexistent/collation.txt"};
    NullProgressSink quiet;
    EngineSession session(state);
    ASSERT_TRUE(session.Open(dir.wpath("Shop.mdf"), false, quiet));
    const DataFileFacts facts = session.DataFile();
    EXPECT_EQ(facts.folder, dir.folder());
    EXPECT_EQ(facts.secondaryFiles, (std::vector<std::wstring>{L"Shop_2.ndf", L"Shop_3.ndf"}));
    EXPECT_EQ(facts.missingSecondaryFiles, (std::vector<std::wstring>{L"Shop_3.ndf"}));

    dir.Write("Shop_3.ndf", test::SecondaryFileOf(4));
    ASSERT_TRUE(session.Open(dir.wpath("Shop.mdf"), false, quiet));
    EXPECT_TRUE(session.DataFile().missingSecondaryFiles.empty());
}

TEST(AnalysisRun, AFailedAllocationBecomesAMessage) {
    for (const char* phase : {"open", "scan"}) {
        SCOPED_TRACE(phase);
        MainFixture f;
        auto fail = [] { throw std::bad_alloc(); };
        (std::string(phase) == "open" ? f.engine.onOpen : f.engine.onScan) = fail;
        EXPECT_EQ(f.run.ScanThreadProc(), 0);
        ASSERT_EQ(f.prompter.messages.size(), 1u);
        EXPECT_EQ(f.prompter.messages[0].text, kTextOutOfMemory);
        EXPECT_EQ(f.prompter.messages[0].icon, MessageIcon::Error);
        EXPECT_GE(f.engine.resets, 1);
        EXPECT_FALSE(f.view.running);
    }
}

}  // namespace
}  // namespace kestrane
