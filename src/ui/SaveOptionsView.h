#pragma once
// The save-options dialog's controls as its logic uses them (ids of the dialog's template). Calls are
// made on the user-interface thread; the dialog's workers reach them through a UiDispatcher.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/OleDate.h"

namespace kestrane {

enum class SaveOption : int {
    Insert = 1062, Delete = 1063, Update = 1026,
    From = 1060, To = 1061, Add = 1065, Remove = 1066, Ranges = 1064,
    DatabaseTarget = 1071, WindowsAuth = 1051, SqlAuth = 1072, UserName = 1074, Password = 1075,
    Server = 1076, Database = 1077, Scan = 1078, Test = 1079, TestLog = 1082,
    ScriptTarget = 1073, Folder = 1081, BrowseFolder = 1080, Constraints = 1084,
};

class SaveOptionsView {
public:
    virtual ~SaveOptionsView() = default;
    virtual bool IsChecked(SaveOption control) const = 0;
    virtual void SetChecked(SaveOption control, bool checked) = 0;
    virtual void Enable(SaveOption control, bool enable) = 0;
    // The edits and the server combo's text.
    virtual std::wstring Text(SaveOption control) const = 0;
    virtual void SetText(SaveOption control, const std::wstring& text) = 0;
    // From or To: the date picker's day with the time picker's time.
    virtual COleDateTime PickerValue(SaveOption control) const = 0;
    // The date list (1064).
    virtual void AddRangeRow(const std::wstring& from, const std::wstring& to) = 0;
    virtual int SelectedRangeRow() const = 0;  // -1: none
    virtual void DeleteRangeRow(int row) = 0;
    // "TEST LOG" (1082).
    virtual void ClearTestLog() = 0;
    virtual void AddTestLogLine(uint32_t row, const std::wstring& text) = 0;
    // The server combo's list; a name it holds already is not added twice.
    virtual void AddServerName(const std::wstring& name) = 0;
    // The folder browser; nullopt when cancelled.
    virtual std::optional<std::wstring> ChooseFolder(const std::wstring& title) = 0;
    virtual void EndDialog(bool ok) = 0;
};

}  // namespace kestrane
