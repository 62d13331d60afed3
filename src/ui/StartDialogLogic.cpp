#include "ui/StartDialogLogic.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TextCodec.h"
#include "ui/ActivityLog.h"
#include "ui/DatabaseFileKind.h"

namespace kestrane {

namespace {
constexpr const wchar_t* kLogRefusal = L"Please select valid ldf file.";
constexpr const wchar_t* kDataRefusal = L"Please select valid mdf file.";
constexpr const wchar_t* kReadOnlyNote =
    L"\n\nThe file is read-only for you. Kestrane opens the files it reads for writing too, and refuses a "
    L"file that it cannot (as one that a running server holds open): work on a copy that you can write.";

// A log in the data file's box, or a data file in the log's: the analysis would only say that the
// file is not valid, without naming it.
std::wstring SwappedFilesMessage(const std::wstring& dataPath, const std::wstring& logPath) {
    const bool logAsData = RecogniseDatabaseFile(WideToUtf8(dataPath)) == DatabaseFileKind::LogFile;
    const bool dataAsLog = RecogniseDatabaseFile(WideToUtf8(logPath)) == DatabaseFileKind::DataFile;
    if (logAsData && dataAsLog)
        return L"The two files are swapped: the MDF File box holds the transaction log and the LDF File box "
               L"holds the data file.\n\nMDF File: " + dataPath + L"\nLDF File: " + logPath +
               L"\n\nChoose each file in its own box.";
    if (logAsData)
        return L"The file in the MDF File box is a transaction log, not a primary data file:\n" + dataPath +
               L"\n\nChoose the primary data file (.mdf) in the MDF File box.";
    if (dataAsLog)
        return L"The file in the LDF File box is a data file, not a transaction log:\n" + logPath +
               L"\n\nChoose the transaction log file (.ldf) in the LDF File box.";
    return {};
}
}  // namespace

// The file must open for reading and writing: a file that cannot be written (read-only, or not a
// regular file) is refused, as a file that a running server holds would be.
FileAccess CheckFileAccess(const std::string& path) {
    struct stat st{};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return FileAccess::Missing;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const bool readOnly = errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY;
        return readOnly && S_ISREG(st.st_mode) ? FileAccess::ReadOnly : FileAccess::Unusable;
    }
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular ? FileAccess::Writable : FileAccess::Unusable;
}

void StartDialogLogic::OnInitDialog() {
    OpenActivityLog(state_, logPath_);  // without a log the program runs on
    state_.snapshotMode = 0;
}

bool StartDialogLogic::Browse(const std::optional<std::wstring>& chosen, const wchar_t* refusal,
                              std::wstring& sharedPath, void (StartDialogView::*setBox)(const std::wstring&)) {
    if (!chosen) return false;
    const FileAccess access = checkAccess(WideToUtf8(*chosen));
    if (access == FileAccess::Missing) {
        prompter_.ShowMessage(refusal, MessageIcon::Information);
        return false;
    }
    (view_.*setBox)(*chosen);
    if (access != FileAccess::Writable) {
        prompter_.ShowMessage(access == FileAccess::ReadOnly ? std::wstring(refusal) + kReadOnlyNote : refusal,
                              MessageIcon::Information);
        return false;
    }
    sharedPath = *chosen;
    return true;
}

bool StartDialogLogic::TakeTypedPath(const std::wstring& typed, const wchar_t* refusal, std::wstring& sharedPath,
                                     void (StartDialogView::*setBox)(const std::wstring&)) {
    if (typed == sharedPath) return true;
    if (typed.empty()) {  // an emptied box chooses nothing
        sharedPath.clear();
        return true;
    }
    return Browse(typed, refusal, sharedPath, setBox);
}

void StartDialogLogic::OnBrowseLogFile(const std::optional<std::wstring>& chosen) {
    Browse(chosen, kLogRefusal, state_.logFilePath, &StartDialogView::SetLogPathBox);
}

void StartDialogLogic::OnBrowseDataFile(const std::optional<std::wstring>& chosen) {
    Browse(chosen, kDataRefusal, state_.dataFilePath, &StartDialogView::SetDataPathBox);
}

void StartDialogLogic::OnNext() {
    if (!TakeTypedPath(view_.LogPathBoxText(), kLogRefusal, state_.logFilePath, &StartDialogView::SetLogPathBox) ||
        !TakeTypedPath(view_.DataPathBoxText(), kDataRefusal, state_.dataFilePath, &StartDialogView::SetDataPathBox))
        return;
    if (state_.logFilePath.empty()) {
        prompter_.ShowMessage(L"Please browse ldf file to continue recovery process", MessageIcon::Information);
        return;
    }
    if (state_.dataFilePath.empty()) {
        prompter_.ShowMessage(L"Please browse mdf file to continue recovery process", MessageIcon::Information);
        return;
    }
    if (const std::wstring swapped = SwappedFilesMessage(state_.dataFilePath, state_.logFilePath); !swapped.empty()) {
        prompter_.ShowMessage(swapped, MessageIcon::Information);
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
