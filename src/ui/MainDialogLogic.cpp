#include "ui/MainDialogLogic.h"

#include "logreader/OperationDetail.h"
#include "platform/TextCodec.h"
#include "ui/ActivityLog.h"

namespace kestrane {

namespace {
// The protocol's texts are 8-bit in the system code page.
std::wstring FromSystemCodePage(const std::string& text) { return CodePageToWide(text, 1252); }
}  // namespace

void MainDialogLogic::OnStop() {
    // The run goes on while the question is open: a Yes given after it ended would stop the next one.
    if (prompter_.AskYesNo(L"Are you sure u want to stop the current process?") == PromptAnswer::Yes &&
        view_.IsRunning())
        state_.stopFlag = 1;
}

bool MainDialogLogic::OnClose() {
    if (prompter_.AskYesNo(L"Do you want to Close Application ?") != PromptAnswer::Yes) return false;
    CloseActivityLog(state_);
    engine_.CloseDataFile();
    return true;
}

void MainDialogLogic::OnBack() { CloseDataFile(); }

void MainDialogLogic::CloseDataFile() {
    engine_.CloseDataFile();
    view_.ClearRecordGrid();
    view_.SetStatusText(L"");
    view_.TreeDeleteAllItems();
}

std::vector<std::wstring> MainDialogLogic::RecordGridColumnTitles(const ColumnDefList& columns, bool legacyCatalog) {
    std::vector<std::wstring> titles{kRecordGridRowTitle};
    for (const ColumnDef& column : columns)
        if (column.ordinal != kOrdinalNotStored || legacyCatalog) titles.push_back(column.name);
    return titles;
}

void MainDialogLogic::ResetAndShowError(const std::wstring& text) {
    view_.SetProgressPosition(0);
    view_.SetStatusText(L"");
    engine_.ResetDatabase();
    prompter_.ShowMessage(text, MessageIcon::Error);
}

void MainDialogLogic::OnStatusText(const std::string& text) { view_.SetStatusText(FromSystemCodePage(text)); }

void MainDialogLogic::OnFatalText(const std::string& text) { ResetAndShowError(FromSystemCodePage(text)); }

void MainDialogLogic::OnErrorDescription(const std::string& text) {
    // A COM error description is Unicode; it reaches us as UTF-8.
    prompter_.ShowMessage(Utf8ToWide(text), MessageIcon::Error);
}

void DialogProgressSink::SetPosition(int position) {
    ui_.RunSync([&] { logic_.OnProgressPosition(position); });
}
void DialogProgressSink::SetRange(int range) {
    ui_.RunSync([&] { logic_.OnProgressRange(range); });
}
void DialogProgressSink::StatusText(const std::string& text) {
    ui_.RunSync([&] { logic_.OnStatusText(text); });
}
void DialogProgressSink::FatalText(const std::string& text) {
    ui_.RunSync([&] { logic_.OnFatalText(text); });
}
void DialogProgressSink::ErrorDescription(const std::string& text) {
    ui_.RunSync([&] { logic_.OnErrorDescription(text); });
}

}  // namespace kestrane
