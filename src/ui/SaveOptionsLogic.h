#pragma once
// The save-options dialog's behaviour without its window: the kinds of operations, the date ranges, the
// target (a tested SQL Server connection or a script folder) and OK's checks, plus the two workers it
// starts: the connection test and the instance scan. While the test runs, every command that would end
// the dialog or change what the test reads answers with the wait message; while the scan runs, so do
// OK, Cancel and the close box (the dialog cannot go while its worker still reports to it).
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/Prompter.h"
#include "platform/RunState.h"
#include "platform/UdpProbe.h"
#include "ui/SaveOptionsView.h"
#include "ui/UiDispatcher.h"

namespace kestrane {

// Starts `work` on a worker thread of the dialog (tests may run it inline).
using WorkerLauncher = std::function<void(std::function<void()> work)>;

struct SaveOptionsSetup {
    UdpProbeTarget scanTarget;           // where the resolution protocol asks
    std::vector<std::wstring> drivers;   // the ODBC drivers the connection test tries, in order
};

class SaveOptionsLogic {
public:
    SaveOptionsLogic(RunState& state, Prompter& prompter, SaveOptionsView& view, UiDispatcher& ui,
                     WorkerLauncher launch, SaveOptionsSetup setup);

    void OnInitDialog();
    void OnDatabaseTarget();
    void OnScriptTarget();
    void OnWindowsAuthentication();
    void OnSqlAuthentication();
    void OnAdd();
    void OnRemove();
    void OnBrowseFolder();
    void OnScan();
    void OnTest();
    void OnOk();
    void OnCancel();
    // The window manager's close box: Cancel. False while a worker (test or scan) still uses the dialog.
    bool OnCloseRequest();

    bool TestRunning() const { return testRunning_; }
    bool ScanRunning() const { return scanRunning_; }
    bool ConnectionTested() const { return connectionTested_; }
    const std::vector<DateRange>& Ranges() const { return ranges_; }

    // A range end as the date list shows it: "%A, %B %d, %Y" in English ("Friday, January 31, 2020").
    static std::wstring RangeEndText(const COleDateTime& date);

private:
    // The connection fields as the dialog holds them now; Windows authentication has no user or password.
    struct Login {
        std::wstring user, password, server, database;
        bool operator==(const Login&) const = default;
    };
    Login CurrentLogin() const;
    bool RefuseWhileTesting();
    bool RefuseWhileBusy();  // the test or the scan
    void ApplyTargetRule(bool database);
    void ApplyAuthenticationRule(bool sql);
    void RunConnectionTest();
    void RunInstanceScan();

    RunState& state_;
    Prompter& prompter_;
    SaveOptionsView& view_;
    UiDispatcher& ui_;
    WorkerLauncher launch_;
    SaveOptionsSetup setup_;
    std::atomic<bool> testRunning_{false};
    std::atomic<bool> scanRunning_{false};
    bool connectionTested_ = false;
    Login tested_;  // what the last successful test connected with
    std::wstring testedDriver_;
    std::vector<DateRange> ranges_;
};

}  // namespace kestrane
