#include "ui/ThemeHelper.h"

#include <wx/dc.h>
#include <wx/renderer.h>

#include <cwchar>

namespace kestrane {

CThemeHelper::CThemeHelper(wxRendererNative* renderer) : renderer_(renderer) {}

CThemeHelper::CThemeHelper() : renderer_(&wxRendererNative::Get()) {}

// The handle is the window whose style the renderer draws in.
HTHEME CThemeHelper::OpenThemeData(wxWindow* window, const wchar_t* classList) const {
    if (!renderer_ || !window || !classList || std::wcscmp(classList, L"BUTTON") != 0) return nullptr;
    return window;
}

HRESULT CThemeHelper::CloseThemeData(HTHEME theme) const {
    return renderer_ && theme ? kS_OK : kE_FAIL;
}

HRESULT CThemeHelper::DrawThemeBackground(HTHEME theme, wxDC* dc, int part, int state, const wxRect& rect) const {
    if (!renderer_ || !theme || !dc || part != kBpCheckBox) return kE_FAIL;
    int flags = 0;
    if (state >= kCbsMixedNormal) flags |= wxCONTROL_UNDETERMINED;
    else if (state >= kCbsCheckedNormal) flags |= wxCONTROL_CHECKED;
    switch ((state - 1) % 4) {
        case 1: flags |= wxCONTROL_CURRENT; break;   // hot
        case 3: flags |= wxCONTROL_DISABLED; break;
        default: break;
    }
    renderer_->DrawCheckBox(static_cast<wxWindow*>(theme), *dc, rect, flags);
    return kS_OK;
}

HRESULT CThemeHelper::DrawThemeEdge(HTHEME theme, wxDC* dc, int, int, const wxRect& rect) const {
    if (!renderer_ || !theme || !dc) return kE_FAIL;
    dc->SetBrush(*wxTRANSPARENT_BRUSH);
    dc->DrawRectangle(rect);
    return kS_OK;
}

}  // namespace kestrane
