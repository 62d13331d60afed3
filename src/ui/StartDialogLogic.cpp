#include "ui/StartDialogLogic.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TextCodec.h"
#include "ui/ActivityLog.h"

namespace kestrane {

namespace {
// The file must open for reading and writing: a file that cannot be written (read-only, or not a
// regular file) is refused, as a file that a running server holds would be.
bool OpensReadWrite(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st{};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}
}  // namespace

void StartDialogLogic::OnInitDialog() {
    OpenActivityLog(state_, logPath_);  // without a log the program runs on
    state_.snapshotMode = 0;
}

bool StartDialogLogic::Browse(const std::optional<std::wstring>& chosen, const wchar_t* refusal,
                              std::wstring& sharedPath, void (StartDialogView::*setBox)(const std::wstring&)) {
    if (!chosen) return false;
    const std::string path = WideToUtf8(*chosen);
    struct stat st{};
    if (chosen->empty() || ::stat(path.c_str(), &st) != 0) {
        prompter_.ShowMessage(refusal, MessageIcon::Information);
        return false;
    }
    (view_.*setBox)(*chosen);
    if (!OpensReadWrite(path)) {
        prompter_.ShowMessage(refusal, MessageIcon::Information);
        return false;
    }
    sharedPath = *chosen;
    return true;
}

void StartDialogLogic::OnBrowseLogFile(const std::optional<std::wstring>& chosen) {
    Browse(chosen, L"Please select valid ldf file.", state_.logFilePath, &StartDialogView::SetLogPathBox);
}

void StartDialogLogic::OnBrowseDataFile(const std::optional<std::wstring>& chosen) {
    Browse(chosen, L"Please select valid mdf file.", state_.dataFilePath, &StartDialogView::SetDataPathBox);
}

void StartDialogLogic::OnNext() {
    if (state_.logFilePath.empty()) {
        prompter_.ShowMessage(L"Please browse ldf file to continue recovery process", MessageIcon::Information);
        return;
    }
    if (state_.dataFilePath.empty()) {
        prompter_.ShowMessage(L"Please browse mdf file to continue recovery process", MessageIcon::Information);
        return;
    }
    if (!view_.CreateMainDialog()) {
        prompter_.ShowMessage(L"MDf Sql dialog cannot be created", MessageIcon::Information);
        return;
    }
    view_.HideStartDialog();
}

bool StartDialogLogic::OnClose() {
    return prompter_.AskYesNo(L"Do you want to Close Application ?") == PromptAnswer::Yes;
}

bool StartDialogLogic::OnCancel() {
    return prompter_.AskYesNo(L"Do you want to Close Application ?") == PromptAnswer::Yes;
}

}  // namespace kestrane
