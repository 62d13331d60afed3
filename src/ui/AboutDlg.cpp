#include "ui/AboutDlg.h"

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statline.h>
#include <wx/stattext.h>

#include "ui/AppArt.h"

namespace kestrane {

CAboutDlg::CAboutDlg(wxWindow* parent, std::function<void()> openSite)
    : wxDialog(parent, wxID_ANY, wxString(kProductName)) {
    const wxFont arial(wxFontInfo(10).Family(wxFONTFAMILY_SWISS).FaceName("Arial"));
    auto* name = new wxStaticText(this, 1026, wxString(kProductName));
    name->SetFont(arial.Bold().Scaled(1.4f));
    auto* legal = new wxStaticText(this, 1027, wxString(kLegalNotice));
    legal->SetFont(arial);
    legal->Wrap(FromDIP(320));
    // The page is opened by the application, which reports a browser that does not start.
    auto* site = new wxHyperlinkCtrl(this, kSiteLinkId, "Kestrane home page", "help/index.html");
    site->SetToolTip("Company website");
    site->Bind(wxEVT_HYPERLINK, [openSite = std::move(openSite)](wxHyperlinkEvent&) {
        if (openSite) openSite();
    });
    auto* ok = new wxButton(this, wxID_OK, "OK");
    ok->SetToolTip("OK");

    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(new wxStaticBitmap(this, wxID_ANY, wxBitmap(MakeAppIcon(32))), 0, wxALL, FromDIP(10));
    auto* texts = new wxBoxSizer(wxVERTICAL);
    texts->Add(name, 0, wxBOTTOM, FromDIP(6));
    texts->Add(legal, 0);
    top->Add(texts, 1, wxALL, FromDIP(10));

    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(top, 0, wxEXPAND);
    outer->Add(new wxStaticLine(this), 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(10));
    outer->Add(site, 0, wxLEFT | wxRIGHT | wxTOP, FromDIP(10));
    outer->Add(ok, 0, wxALIGN_RIGHT | wxALL, FromDIP(10));
    SetSizerAndFit(outer);
    SetIcon(MakeAppIcon());
    CentreOnParent();
}

}  // namespace kestrane
