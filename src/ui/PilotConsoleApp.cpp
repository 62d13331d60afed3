#include "ui/PilotConsoleApp.h"

#include <cstdlib>
#include <filesystem>

#include "platform/OdbcConnectionString.h"
#include "ui/AboutDlg.h"
#include "ui/ActivityLog.h"
#include "ui/BrowserLauncher.h"
#include "ui/Migrationdlg.h"
#include "ui/Opendlg.h"
#include "ui/PilotConsoleDlg.h"
#include "ui/WxPrompter.h"

namespace kestrane {

std::string ExecutableFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

CPilot_ConsoleApp::CPilot_ConsoleApp(AppSetup setup) : setup_(std::move(setup)) {}

CPilot_ConsoleApp::~CPilot_ConsoleApp() = default;

bool CPilot_ConsoleApp::OnInit() {
    // No base OnInit: the program reads no command-line argument.
    if (setup_.prompter) {
        prompter_ = setup_.prompter;
    } else {
        ownPrompter_ = std::make_unique<WxPrompter>(ui_, [this] { return ActiveDialog(); });
        prompter_ = ownPrompter_.get();
    }
    theme_ = std::make_unique<CThemeHelper>();
    if (setup_.guard && setup_.guard->IsAnotherInstanceRunning()) {
        prompter_->ShowMessage(L"Another instance of application is already running", MessageIcon::Information);
        refused_ = true;
        return true;  // OnRun ends at once
    }
    RunState& state = *setup_.state;
    state.legacyCatalog = 0;
    state.includeDeletedRows = 0;
    state.identityColumnSeen = 0;
    const std::string logPath =
        setup_.activityLogPath.empty() ? ActivityLogPath(setup_.executableDir) : setup_.activityLogPath;
    startDialog_ = new Opendlg(*this, logPath);
    SetTopWindow(startDialog_);
    SetExitOnFrameDelete(false);
    startDialog_->Show();
    return true;
}

wxWindow* CPilot_ConsoleApp::ActiveDialog() const {
    if (wxDialog* modal = modals_.Innermost()) return modal;
    if (!startDialog_) return nullptr;
    if (CPilot_ConsoleDlg* main = startDialog_->MainDialog()) {
        // During Save the save options, then the progress window, stand in front of the main dialog.
        if (wxWindow* options = main->SaveOptions(); options && options->IsShown()) return options;
        if (wxWindow* progress = main->ProgressWindow(); progress && progress->IsShown()) return progress;
        if (main->IsShown()) return main;
    }
    return startDialog_->IsShown() ? startDialog_ : nullptr;
}

int CPilot_ConsoleApp::OnRun() {
    if (refused_) return 0;
    wxApp::OnRun();
    return exitCode_;
}

int CPilot_ConsoleApp::OnExit() {
    ui_.Close();
    return wxApp::OnExit();
}

void CPilot_ConsoleApp::Quit(int code) {
    quitRequested_ = true;
    exitCode_ = code;
    if (startDialog_) {
        startDialog_->DestroyMainDialog();
        startDialog_->Destroy();
        startDialog_ = nullptr;
    }
    if (IsMainLoopRunning()) ExitMainLoop();
}

void CPilot_ConsoleApp::Terminate() {
    if (setup_.terminate) {
        setup_.terminate();
        return;
    }
    std::_Exit(-1);  // no clean-up runs; the system drops the instance lock
}

SaveOptionsSetup CPilot_ConsoleApp::SaveOptionsSettings() const {
    return {setup_.scanTarget, SqlServerDriverNames()};
}

void CPilot_ConsoleApp::OpenHelpPage() {
    const auto launch = [this](const std::string& url) {
        return setup_.openUrl ? setup_.openUrl(url) : OpenWithDesktop(url);
    };
    OpenHelpPageWith(FindHelpPage(setup_.executableDir), launch, *prompter_);
}

// Kestrane's home page is the shipped help page.
void CPilot_ConsoleApp::OpenHomePage() { OpenHelpPage(); }

void CPilot_ConsoleApp::RunAboutBox() {
    CAboutDlg about(ActiveDialog(), [this] { OpenHomePage(); });
    about.ShowModal();
}

}  // namespace kestrane
