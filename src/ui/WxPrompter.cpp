#include "ui/WxPrompter.h"

#include <wx/msgdlg.h>

#include "ui/AppTexts.h"

namespace kestrane {

namespace {
long IconStyle(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information: return wxICON_INFORMATION;
        case MessageIcon::Warning: return wxICON_WARNING;
        case MessageIcon::Error: return wxICON_ERROR;
        case MessageIcon::Question: return wxICON_QUESTION;
    }
    return 0;
}
}  // namespace


void WxPrompter::ShowMessage(const std::wstring& text, MessageIcon icon) {
    ui_.RunSync([&] { wxMessageBox(wxString(text), wxString(kAppTitle), wxOK | IconStyle(icon), Parent()); });
}

PromptAnswer WxPrompter::AskYesNo(const std::wstring& text) {
    PromptAnswer answer = PromptAnswer::No;
    ui_.RunSync([&] {
        answer = wxMessageBox(wxString(text), wxString(kAppTitle), wxYES_NO | wxICON_QUESTION, Parent()) == wxYES
                     ? PromptAnswer::Yes
                     : PromptAnswer::No;
    });
    return answer;
}

}  // namespace kestrane
