#pragma once
// The About box: the product's icon, name and legal line, the site link (the project's site is its
// help page) and OK. The project has no e-mail address: there are no support or sales links.
#include <wx/dialog.h>

#include <functional>

namespace kestrane {

inline constexpr const wchar_t* kProductName = L"Kestrane";
inline constexpr const wchar_t* kLegalNotice =
    L"Kestrane reads SQL Server database files without a server. Provided as is, without warranty of any kind.";

class CAboutDlg : public wxDialog {
public:
    static constexpr int kSiteLinkId = 1000;

    // `openSite` opens the help page (and says so when it cannot).
    explicit CAboutDlg(wxWindow* parent, std::function<void()> openSite = {});
};

}  // namespace kestrane
