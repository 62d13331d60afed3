#pragma once
// The save's log lists ("TEST LOG", "DATABASE LOG"): one column, one row a line, each read whole.
#include <cstdint>
#include <string>

class wxListCtrl;

namespace kestrane {

// Puts `text` at `row` (at most after the last row) on one line, as the list draws it (a driver's
// message may hold line breaks between its parts), widens the column to it and shows it.
void InsertLogLine(wxListCtrl& list, uint32_t row, const std::wstring& text);

// Empties the list for a new run: the column back to `width`, the view back to the left edge.
void ClearLogList(wxListCtrl& list, int width);

}  // namespace kestrane
