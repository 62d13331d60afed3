#include "ui/ListColumns.h"

#include <wx/dcclient.h>
#include <wx/listctrl.h>

#include <algorithm>

namespace kestrane {

namespace {
// Room for the cell's margins.
int CellMargin(const wxListCtrl& list) { return list.FromDIP(16); }
}  // namespace

void FitColumnsToContent(wxListCtrl& list) {
    const int columns = list.GetColumnCount();
    const int rows = list.GetItemCount();
    wxClientDC dc(&list);
    // Room for the cell's margins, and for the image that the first column may carry.
    const int margin = CellMargin(list);
    const int image = list.GetImageList(wxIMAGE_LIST_SMALL) ? list.FromDIP(20) : 0;
    for (int c = 0; c < columns; ++c) {
        wxListItem header;
        header.SetMask(wxLIST_MASK_TEXT);
        list.GetColumn(c, header);
        dc.SetFont(list.GetFont().Bold());
        int width = dc.GetTextExtent(header.GetText()).x;
        dc.SetFont(list.GetFont());
        for (int r = 0; r < rows; ++r) width = std::max(width, dc.GetTextExtent(list.GetItemText(r, c)).x);
        width += margin + (c == 0 ? image : 0);
        // A column that holds no text at all (the grid's placeholder) stays as it is.
        if (list.GetColumnWidth(c) != 0) list.SetColumnWidth(c, width);
    }
}

void WidenColumnToText(wxListCtrl& list, int column, const wxString& text) {
    wxClientDC dc(&list);
    dc.SetFont(list.GetFont());
    const int width = dc.GetTextExtent(text).x + CellMargin(list);
    if (width > list.GetColumnWidth(column)) list.SetColumnWidth(column, width);
}

void KeepHeaderAligned(wxListCtrl& list) {
    auto repaintAfter = [&list](wxEvent& event) {
        event.Skip();
        list.CallAfter([&list] {
            for (wxWindow* part : list.GetChildren()) part->Refresh(false);
        });
    };
    for (wxEventType type : {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP,
                             wxEVT_SCROLLWIN_LINEDOWN, wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_PAGEDOWN,
                             wxEVT_SCROLLWIN_THUMBTRACK, wxEVT_SCROLLWIN_THUMBRELEASE})
        list.Bind(wxEventTypeTag<wxScrollWinEvent>(type), repaintAfter);
    for (wxWindow* part : list.GetChildren()) part->Bind(wxEVT_MOUSEWHEEL, repaintAfter);
}

}  // namespace kestrane
