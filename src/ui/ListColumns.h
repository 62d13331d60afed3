#pragma once
// Report-list columns as wide as their widest text: the header's (in the header's font) or any row's.
class wxListCtrl;

namespace kestrane {

void FitColumnsToContent(wxListCtrl& list);
// Repaints the header once a horizontal scroll has moved the rows: the toolkit's list repaints it
// before the scroll, so that it would show the columns where they were.
void KeepHeaderAligned(wxListCtrl& list);

}  // namespace kestrane
