#pragma once
// The save-options dialog: kinds of operations, date ranges, the target (a tested SQL Server connection
// or a script folder) and the constraints option. Its behaviour is SaveOptionsLogic; this class binds it
// to the controls and runs the connection test and the instance scan on threads of its own.
#include <wx/dialog.h>

#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "ui/SaveOptionsLogic.h"
#include "ui/WxDispatcher.h"

class wxButton;
class wxCheckBox;
class wxComboBox;
class wxDatePickerCtrl;
class wxListCtrl;
class wxRadioButton;
class wxTextCtrl;
class wxTimePickerCtrl;
class wxWindow;

namespace kestrane {

// How the dialog picks a folder; null: the toolkit's directory dialog.
using FolderChooser = std::function<std::optional<std::wstring>(const std::wstring& title)>;

class SaveoptionDlg : public wxDialog, public SaveOptionsView {
public:
    SaveoptionDlg(wxWindow* parent, RunState& state, Prompter& prompter, SaveOptionsSetup setup,
                  FolderChooser chooseFolder);
    ~SaveoptionDlg() override;

    SaveOptionsLogic& Logic() { return logic_; }
    wxWindow* Control(SaveOption control) const;

    // SaveOptionsView
    bool IsChecked(SaveOption control) const override;
    void SetChecked(SaveOption control, bool checked) override;
    void Enable(SaveOption control, bool enable) override;
    std::wstring Text(SaveOption control) const override;
    void SetText(SaveOption control, const std::wstring& text) override;
    COleDateTime PickerValue(SaveOption control) const override;
    void AddRangeRow(const std::wstring& from, const std::wstring& to) override;
    int SelectedRangeRow() const override;
    void DeleteRangeRow(int row) override;
    void ClearTestLog() override;
    void AddTestLogLine(uint32_t row, const std::wstring& text) override;
    void AddServerName(const std::wstring& name) override;
    std::optional<std::wstring> ChooseFolder(const std::wstring& title) override;
    void EndDialog(bool ok) override;

private:
    void BuildControls();
    void Launch(std::function<void()> work);

    WxDispatcher ui_;
    SaveOptionsLogic logic_;
    FolderChooser chooseFolder_;
    std::vector<std::thread> workers_;
    std::map<SaveOption, wxWindow*> controls_;
    wxDatePickerCtrl* fromDate_ = nullptr;
    wxTimePickerCtrl* fromTime_ = nullptr;
    wxDatePickerCtrl* toDate_ = nullptr;
    wxTimePickerCtrl* toTime_ = nullptr;
    wxListCtrl* ranges_ = nullptr;
    wxListCtrl* testLog_ = nullptr;
    wxComboBox* server_ = nullptr;
};

}  // namespace kestrane
