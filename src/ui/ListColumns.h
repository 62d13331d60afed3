#pragma once
// Report-list columns as wide as their widest text: the header's (in the header's font) or any row's.
class wxListCtrl;
class wxString;

namespace kestrane {

void FitColumnsToContent(wxListCtrl& list);
// Widens a column, never narrows it, so that `text` in one of its rows is read whole (the list
// scrolls sideways when the column outgrows it).
void WidenColumnToText(wxListCtrl& list, int column, const wxString& text);
// Repaints the header once a horizontal scroll has moved the rows: the toolkit's list repaints it
// before the scroll, so that it would show the columns where they were.
void KeepHeaderAligned(wxListCtrl& list);

}  // namespace kestrane
