#include "ui/AppArt.h"

#include <wx/dcmemory.h>

namespace kestrane {

namespace {
// A database drum: a filled ellipse-topped cylinder.
wxBitmap Drum(int size, const wxColour& body) {
    wxBitmap bitmap(size, size);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    const int w = size - 2, h = size / 4;
    dc.SetPen(wxPen(body.ChangeLightness(60)));
    dc.SetBrush(wxBrush(body));
    dc.DrawRectangle(1, h / 2, w, size - h - 1);
    dc.DrawEllipse(1, size - h - 2, w, h);
    dc.SetBrush(wxBrush(body.ChangeLightness(130)));
    dc.DrawEllipse(1, 0, w, h);
    dc.SelectObject(wxNullBitmap);
    bitmap.SetMask(new wxMask(bitmap, *wxWHITE));
    return bitmap;
}

wxBitmap Grid(const wxColour& header) {
    wxBitmap bitmap(16, 16);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    dc.SetPen(wxPen(wxColour(90, 90, 90)));
    dc.SetBrush(*wxWHITE_BRUSH);
    dc.DrawRectangle(1, 2, 14, 12);
    dc.SetBrush(wxBrush(header));
    dc.DrawRectangle(1, 2, 14, 4);
    dc.DrawLine(1, 9, 15, 9);
    dc.DrawLine(6, 5, 6, 14);
    dc.SelectObject(wxNullBitmap);
    return bitmap;
}

wxBitmap Sign(const wxColour& colour, wchar_t sign) {
    wxBitmap bitmap(16, 16);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    dc.SetPen(wxPen(colour, 3));
    if (sign == L'+' || sign == L'-') dc.DrawLine(3, 8, 13, 8);
    if (sign == L'+') dc.DrawLine(8, 3, 8, 13);
    if (sign == L'~') {
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawArc(13, 6, 3, 6, 8, 9);
        dc.DrawLine(10, 4, 13, 6);
    }
    dc.SelectObject(wxNullBitmap);
    bitmap.SetMask(new wxMask(bitmap, *wxWHITE));
    return bitmap;
}
}  // namespace

wxIcon MakeAppIcon(int size) {
    wxIcon icon;
    icon.CopyFromBitmap(Drum(size, wxColour(40, 110, 170)));
    return icon;
}

wxImageList* MakeTreeImages() {
    auto* list = new wxImageList(16, 16, true, 2);
    list->Add(Grid(wxColour(120, 160, 210)));
    list->Add(Drum(16, wxColour(40, 110, 170)));
    return list;
}

wxImageList* MakeOperationImages() {
    auto* list = new wxImageList(16, 16, true, 3);
    list->Add(Sign(wxColour(200, 140, 0), L'~'));  // Update
    list->Add(Sign(wxColour(190, 30, 30), L'-'));  // Delete
    list->Add(Sign(wxColour(30, 150, 30), L'+'));  // Insert
    return list;
}

}  // namespace kestrane
