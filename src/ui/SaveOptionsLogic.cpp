#include "ui/SaveOptionsLogic.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "export/LogListSink.h"
#include "export/SQLInfoEnumerator.h"
#include "export/ScriptFolderCheck.h"
#include "ui/ConnectionTest.h"

namespace kestrane {

namespace {

const wchar_t* kWaitText = L"Please wait until current process is running.";
const wchar_t* kMandatoryText =
    L"Please Select Sql Server or give Database name or select Provider name to create Database,All are mandatory ";

// "TEST LOG" as the export session writes it, from the test's worker.
class TestLogOnView : public LogListSink {
public:
    TestLogOnView(UiDispatcher& ui, SaveOptionsView& view) : ui_(ui), view_(view) {}
    void AddLine(uint32_t row, const std::wstring& text) override {
        ui_.RunSync([&] { view_.AddTestLogLine(row, text); });
    }

private:
    UiDispatcher& ui_;
    SaveOptionsView& view_;
};

}  // namespace

SaveOptionsLogic::SaveOptionsLogic(RunState& state, Prompter& prompter, SaveOptionsView& view, UiDispatcher& ui,
                                   WorkerLauncher launch, SaveOptionsSetup setup)
    : state_(state), prompter_(prompter), view_(view), ui_(ui), launch_(std::move(launch)), setup_(std::move(setup)) {}

std::wstring SaveOptionsLogic::RangeEndText(const COleDateTime& date) {
    static const wchar_t* const kDays[] = {L"Sunday", L"Monday", L"Tuesday", L"Wednesday", L"Thursday", L"Friday",
                                           L"Saturday"};
    static const wchar_t* const kMonths[] = {L"January", L"February", L"March",     L"April",   L"May",      L"June",
                                             L"July",    L"August",   L"September", L"October", L"November", L"December"};
    const int year = date.GetYear(), month = date.GetMonth(), day = date.GetDay();
    if (month < 1 || month > 12) return std::wstring();
    // 1899-12-30, day 0 of the count, was a Saturday.
    const int64_t days = DaysFromOleEpoch(year, month, day);
    const int weekday = static_cast<int>(((days % 7) + 7 + 6) % 7);
    wchar_t text[64];
    std::swprintf(text, 64, L"%ls, %ls %02d, %d", kDays[weekday], kMonths[month - 1], day, year);
    return text;
}

void SaveOptionsLogic::OnInitDialog() {
    connectionTested_ = false;
    view_.SetChecked(SaveOption::DatabaseTarget, true);
    view_.SetChecked(SaveOption::WindowsAuth, true);
    view_.SetChecked(SaveOption::SqlAuth, false);
    ApplyTargetRule(true);
}

void SaveOptionsLogic::ApplyTargetRule(bool database) {
    view_.SetChecked(SaveOption::DatabaseTarget, database);
    view_.SetChecked(SaveOption::ScriptTarget, !database);
    const bool sql = view_.IsChecked(SaveOption::SqlAuth);
    for (SaveOption control : {SaveOption::WindowsAuth, SaveOption::SqlAuth, SaveOption::Server, SaveOption::Database,
                               SaveOption::Test, SaveOption::TestLog})
        view_.Enable(control, database);
    view_.Enable(SaveOption::UserName, database && sql);
    view_.Enable(SaveOption::Password, database && sql);
    view_.Enable(SaveOption::Scan, database && !scanRunning_);
    view_.Enable(SaveOption::Folder, !database);
    view_.Enable(SaveOption::BrowseFolder, !database);
}

void SaveOptionsLogic::ApplyAuthenticationRule(bool sql) {
    view_.SetChecked(SaveOption::SqlAuth, sql);
    view_.SetChecked(SaveOption::WindowsAuth, !sql);
    view_.Enable(SaveOption::UserName, sql);
    view_.Enable(SaveOption::Password, sql);
}

void SaveOptionsLogic::OnDatabaseTarget() { ApplyTargetRule(true); }
void SaveOptionsLogic::OnScriptTarget() { ApplyTargetRule(false); }
void SaveOptionsLogic::OnWindowsAuthentication() { ApplyAuthenticationRule(false); }
void SaveOptionsLogic::OnSqlAuthentication() { ApplyAuthenticationRule(true); }

bool SaveOptionsLogic::RefuseWhileTesting() {
    if (!testRunning_) return false;
    prompter_.ShowMessage(kWaitText, MessageIcon::Information);
    return true;
}

bool SaveOptionsLogic::RefuseWhileBusy() {
    if (!testRunning_ && !scanRunning_) return false;
    prompter_.ShowMessage(kWaitText, MessageIcon::Information);
    return true;
}

void SaveOptionsLogic::OnAdd() {
    if (RefuseWhileTesting()) return;
    DateRange range{view_.PickerValue(SaveOption::From), view_.PickerValue(SaveOption::To)};
    if (range.from > range.to) {
        prompter_.ShowMessage(L"End date should be greater than Start date", MessageIcon::Information);
        return;
    }
    // The same range twice is one range. Ranges are told apart by their instants, not by the list's
    // texts, which show days only.
    for (const DateRange& known : ranges_)
        if (known.from == range.from && known.to == range.to) return;
    ranges_.push_back(range);
    view_.AddRangeRow(RangeEndText(range.from), RangeEndText(range.to));
}

void SaveOptionsLogic::OnRemove() {
    if (RefuseWhileTesting()) return;
    const int row = view_.SelectedRangeRow();
    if (row < 0 || static_cast<size_t>(row) >= ranges_.size()) return;
    view_.DeleteRangeRow(row);
    ranges_.erase(ranges_.begin() + row);
}

void SaveOptionsLogic::OnBrowseFolder() {
    if (RefuseWhileTesting()) return;
    if (auto folder = view_.ChooseFolder(L"Select Folder")) view_.SetText(SaveOption::Folder, *folder);
}

void SaveOptionsLogic::OnScan() {
    if (RefuseWhileTesting() || scanRunning_) return;
    scanRunning_ = true;
    view_.Enable(SaveOption::Scan, false);
    launch_([this] { RunInstanceScan(); });
}

void SaveOptionsLogic::RunInstanceScan() {
    CSQLInfoEnumerator enumerator;
    enumerator.EnumerateServers(setup_.scanTarget);
    // Through the dialog's own dispatcher, which a closing dialog releases: a box waited for through
    // any other path would wait for a user-interface thread that is waiting for this worker.
    ui_.RunSync([&] {
        if (enumerator.servers().empty())
            prompter_.ShowMessage(L"No SQL Server instance answered the scan.", MessageIcon::Information);
        for (const std::wstring& name : enumerator.servers()) view_.AddServerName(name);
        scanRunning_ = false;
        view_.Enable(SaveOption::Scan, view_.IsChecked(SaveOption::DatabaseTarget));
    });
    scanRunning_ = false;  // also when the dialog went away and the call above was dropped
}

SaveOptionsLogic::Login SaveOptionsLogic::CurrentLogin() const {
    Login login;
    // With Windows authentication the boxes are disabled; what they still hold must not turn the login
    // into a SQL Server one.
    if (view_.IsChecked(SaveOption::SqlAuth)) {
        login.user = view_.Text(SaveOption::UserName);
        login.password = view_.Text(SaveOption::Password);
    }
    login.server = view_.Text(SaveOption::Server);
    login.database = view_.Text(SaveOption::Database);
    return login;
}

void SaveOptionsLogic::OnTest() {
    if (RefuseWhileTesting()) return;
    if (view_.IsChecked(SaveOption::SqlAuth)) {
        if (view_.Text(SaveOption::UserName).empty()) {
            prompter_.ShowMessage(L"Please enter username", MessageIcon::Information);
            return;
        }
        if (view_.Text(SaveOption::Password).empty()) {
            prompter_.ShowMessage(L"Please enter password", MessageIcon::Information);
            return;
        }
    }
    testRunning_ = true;
    launch_([this] { RunConnectionTest(); });
}

void SaveOptionsLogic::RunConnectionTest() {
    Login login;
    ui_.RunSync([&] {
        view_.ClearTestLog();
        login = CurrentLogin();
    });
    state_.testLogRow = 0;
    // Kept in memory for the save; nothing of it goes to the activity log.
    state_.userName = login.user;
    state_.password = login.password;
    state_.serverName = login.server;
    state_.databaseName = login.database;
    if (login.server.empty() || login.database.empty()) {
        prompter_.ShowMessage(kMandatoryText, MessageIcon::Error);
        testRunning_ = false;
        return;
    }
    TestLogOnView log(ui_, view_);
    const auto driver = TestConnectionOverDrivers({login.database, login.user, login.password, login.server, L""},
                                                  setup_.drivers, state_, log);
    if (driver) {
        state_.provider = *driver;
        tested_ = login;
        testedDriver_ = *driver;
        connectionTested_ = true;
        prompter_.ShowMessage(ConnectionEstablishedText(*driver), MessageIcon::Information);
    } else {
        prompter_.ShowMessage(L"Connection could not be Established . Check help for further Information",
                              MessageIcon::Error);
    }
    prompter_.ShowMessage(L"Test database connection process completed.", MessageIcon::Information);
    testRunning_ = false;
}

void SaveOptionsLogic::OnOk() {
    if (RefuseWhileBusy()) return;
    const bool insert = view_.IsChecked(SaveOption::Insert), remove = view_.IsChecked(SaveOption::Delete),
               update = view_.IsChecked(SaveOption::Update);
    if (!insert && !remove && !update) {
        prompter_.ShowMessage(L"Please select at least one operation to be saved", MessageIcon::Information);
        return;
    }
    const bool database = view_.IsChecked(SaveOption::DatabaseTarget);
    // A test proves only the connection it made: changed settings need a test of their own.
    if (database && (!connectionTested_ || !(CurrentLogin() == tested_))) {
        prompter_.ShowMessage(L"Please test your database connection successfully before proceeding",
                              MessageIcon::Information);
        return;
    }
    const std::wstring folder = view_.Text(SaveOption::Folder);
    if (!database && folder.empty()) {
        prompter_.ShowMessage(L"Please browse save location for script file", MessageIcon::Information);
        return;
    }
    // A folder that is missing or cannot be written would only fail once the save has begun.
    if (!database) {
        if (const std::wstring refusal = ScriptFolderRefusal(folder); !refusal.empty()) {
            prompter_.ShowMessage(refusal, MessageIcon::Information);
            return;
        }
    } else {
        // Exactly what passed the test: a later test that failed may have left other fields behind.
        state_.userName = tested_.user;
        state_.password = tested_.password;
        state_.serverName = tested_.server;
        state_.databaseName = tested_.database;
        state_.provider = testedDriver_;
    }
    state_.saveInsert = insert;
    state_.saveDelete = remove;
    state_.saveUpdate = update;
    state_.saveAsScript = database ? 0 : 1;
    if (!database) {
        const wchar_t separator = std::filesystem::path::preferred_separator;
        state_.scriptFolder = folder.back() == separator ? folder : folder + separator;
    }
    state_.saveConstraints = view_.IsChecked(SaveOption::Constraints);
    // The filter is the ranges of this dialog only: a cancelled dialog leaves none behind.
    state_.dateFilter = ranges_;
    view_.EndDialog(true);
}

void SaveOptionsLogic::OnCancel() {
    if (RefuseWhileBusy()) return;
    view_.EndDialog(false);
}

bool SaveOptionsLogic::OnCloseRequest() {
    if (RefuseWhileBusy()) return false;
    view_.EndDialog(false);
    return true;
}

}  // namespace kestrane
