#include "export/SaveLog.h"

#include "platform/ActivityLogText.h"

namespace kestrane {

void SaveLog::Line(const std::wstring& text) {
    view_.AddLine(state_.saveLogRow++, text);
    AppendActivityLog(state_, text + L"\r\n");
}

void SaveLog::Activity(const std::wstring& text) { AppendActivityLog(state_, text); }

void SaveLog::EndBlock(const std::wstring& text) {
    const std::wstring stars = L"\r\n" + std::wstring(80, L'*') + L"\r\n";
    Activity(L"\r\n" + stars + text + stars);
}

}  // namespace kestrane
