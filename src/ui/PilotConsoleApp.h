#pragma once
// The application object: start-up (single instance, the start dialog), the Help menu's commands, and
// the ways the program ends. The shared run state and the guard are made before it, in main().
#include <wx/app.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/Prompter.h"
#include "platform/RunState.h"
#include "export/SQLInfoEnumerator.h"
#include "ui/AppActions.h"
#include "ui/ModalDialogStack.h"
#include "ui/SaveoptionDlg.h"
#include "ui/SingleInstanceGuard.h"
#include "ui/ThemeHelper.h"
#include "ui/WxDispatcher.h"

namespace kestrane {

class Opendlg;

struct AppSetup {
    CSingleInstanceGuard* guard = nullptr;
    RunState* state = nullptr;
    std::string executableDir;
    std::string activityLogPath;           // empty: "log.txt" beside the executable (or the state folder)
    Prompter* prompter = nullptr;          // null: message boxes
    std::function<void()> terminate;       // the start dialog's Close; null: end the process at once
    std::function<bool(const std::string& url)> openUrl;  // null: the default browser; false: not started
    FolderChooser chooseFolder;            // null: the toolkit's directory dialog
    UdpProbeTarget scanTarget = CSQLInfoEnumerator::BroadcastTarget();  // where the instance scan asks
};

class CPilot_ConsoleApp : public wxApp, public AppActions {
public:
    explicit CPilot_ConsoleApp(AppSetup setup);
    ~CPilot_ConsoleApp() override;

    bool OnInit() override;  // InitInstance
    int OnRun() override;
    int OnExit() override;

    // Posts the quit message: the event loop ends and the program exits with `code`.
    void Quit(int code);
    // The start dialog's Close: the process ends at once with exit code 0xFFFFFFFF.
    void Terminate();
    bool QuitRequested() const { return quitRequested_; }
    int ExitCode() const { return exitCode_; }

    void OpenHelpPage() override;
    void RunAboutBox() override;
    void OpenHomePage() override;

    RunState& State() { return *setup_.state; }
    Prompter& Prompts() { return *prompter_; }
    const CThemeHelper& Theme() { return *theme_; }
    Opendlg* StartDialog() const { return startDialog_; }
    // The dialog that message boxes (and the About box) belong to: the innermost modal dialog while one
    // runs, else the main dialog while it is shown, else the start dialog while it is shown; null before
    // either exists.
    wxWindow* ActiveDialog() const;
    const std::string& ExecutableDir() const { return setup_.executableDir; }
    // What the save-options dialog scans and tests with, and how it picks a folder.
    SaveOptionsSetup SaveOptionsSettings() const;
    const FolderChooser& FolderChooserHook() const { return setup_.chooseFolder; }

private:
    AppSetup setup_;
    WxDispatcher ui_;
    ModalDialogStack modals_;
    std::unique_ptr<Prompter> ownPrompter_;
    Prompter* prompter_ = nullptr;
    std::unique_ptr<CThemeHelper> theme_;
    Opendlg* startDialog_ = nullptr;
    bool refused_ = false;
    bool quitRequested_ = false;
    int exitCode_ = 0;
};

// The folder of the running executable.
std::string ExecutableFolder();

}  // namespace kestrane
