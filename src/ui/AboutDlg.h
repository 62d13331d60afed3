#pragma once
// The About box: the product's icon, name and legal line, and OK.
#include <wx/dialog.h>

namespace kestrane {

inline constexpr const wchar_t* kProductName = L"Kestrane";
inline constexpr const wchar_t* kLegalNotice =
    L"Kestrane reads SQL Server database files without a server. Provided as is, without warranty of any kind.";

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace kestrane
