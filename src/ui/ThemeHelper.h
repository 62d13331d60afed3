#pragma once
// The theme library's stand-in: the native renderer draws themed check boxes. Without one, every call
// falls back to a fixed result (no theme handle, E_FAIL for closing and drawing, false for the queries)
// and the tree draws classic check-box frames itself.
#include <cstdint>

class wxDC;
class wxRect;
class wxRendererNative;
class wxWindow;

namespace kestrane {

using HTHEME = void*;
using HRESULT = int32_t;
inline constexpr HRESULT kS_OK = 0;
inline constexpr HRESULT kE_FAIL = static_cast<HRESULT>(0x80004005u);

// Check-box states of the "BUTTON" class's check-box part.
enum ThemeCheckState : int {
    kCbsUncheckedNormal = 1, kCbsUncheckedHot = 2, kCbsUncheckedDisabled = 4,
    kCbsCheckedNormal = 5, kCbsCheckedHot = 6, kCbsCheckedDisabled = 8,
    kCbsMixedNormal = 9, kCbsMixedHot = 10, kCbsMixedDisabled = 12,
};
inline constexpr int kBpCheckBox = 3;

class CThemeHelper {
public:
    // `renderer` null: the library is missing.
    explicit CThemeHelper(wxRendererNative* renderer);
    // The native renderer of the running toolkit.
    CThemeHelper();

    HTHEME OpenThemeData(wxWindow* window, const wchar_t* classList) const;
    HRESULT CloseThemeData(HTHEME theme) const;
    HRESULT DrawThemeBackground(HTHEME theme, wxDC* dc, int part, int state, const wxRect& rect) const;
    HRESULT DrawThemeEdge(HTHEME theme, wxDC* dc, int part, int state, const wxRect& rect) const;
    bool IsThemeActive() const { return renderer_ != nullptr; }
    bool IsAppThemed() const { return renderer_ != nullptr; }

private:
    wxRendererNative* renderer_;
};

}  // namespace kestrane
