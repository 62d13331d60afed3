#pragma once
// The start dialog's behaviour without its window: the activity log's opening, the two file choices with
// their checks, Next's checks, and the Close/Cancel questions.
#include <functional>
#include <optional>
#include <string>

#include "platform/Prompter.h"
#include "platform/RunState.h"
#include "ui/AppActions.h"

namespace kestrane {

// Whether a chosen file can be used: it must exist and open for reading and writing.
enum class FileAccess { Missing, Writable, ReadOnly, Unusable };
FileAccess CheckFileAccess(const std::string& path);

class StartDialogView {
public:
    virtual ~StartDialogView() = default;
    virtual void SetLogPathBox(const std::wstring& path) = 0;
    virtual void SetDataPathBox(const std::wstring& path) = 0;
    // What the boxes hold now: the user may have typed or pasted a path.
    virtual std::wstring LogPathBoxText() const = 0;
    virtual std::wstring DataPathBoxText() const = 0;
    // Creates the main dialog for the chosen pair (modeless, owned by the start dialog); false on failure.
    virtual bool CreateMainDialog() = 0;
    virtual void HideStartDialog() = 0;
};

class StartDialogLogic {
public:
    StartDialogLogic(RunState& state, Prompter& prompter, StartDialogView& view, AppActions& actions,
                     std::string activityLogPath)
        : state_(state), prompter_(prompter), view_(view), actions_(actions), logPath_(std::move(activityLogPath)) {}

    void OnInitDialog();
    // The file dialogs' results; nullopt when cancelled.
    void OnBrowseLogFile(const std::optional<std::wstring>& chosen);
    void OnBrowseDataFile(const std::optional<std::wstring>& chosen);
    void OnNext();
    // True when the user confirmed: the caller ends the process at once with exit code 0xFFFFFFFF.
    bool OnClose();
    // The hidden Cancel: true when confirmed; the caller quits with exit code 0.
    bool OnCancel();
    void OnHelpCommand(int commandId) { HandleHelpCommand(commandId, actions_); }

    // How a path is checked; tests stand in for the file system (root may write read-only files).
    std::function<FileAccess(const std::string&)> checkAccess = CheckFileAccess;

private:
    bool Browse(const std::optional<std::wstring>& chosen, const wchar_t* refusal, std::wstring& sharedPath,
                void (StartDialogView::*setBox)(const std::wstring&));
    // A path typed into a box counts as chosen once it passes the same checks.
    bool TakeTypedPath(const std::wstring& typed, const wchar_t* refusal, std::wstring& sharedPath,
                       void (StartDialogView::*setBox)(const std::wstring&));

    RunState& state_;
    Prompter& prompter_;
    StartDialogView& view_;
    AppActions& actions_;
    std::string logPath_;
};

}  // namespace kestrane
