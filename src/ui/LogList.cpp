#include "ui/LogList.h"

#include <wx/listctrl.h>

#include <algorithm>

#include "platform/LineBreaks.h"
#include "ui/ListColumns.h"

namespace kestrane {

void InsertLogLine(wxListCtrl& list, uint32_t row, const std::wstring& text) {
    // Measured as several lines, such a text was widened for its longest line only, while the list
    // draws it on one line and cut it short.
    const wxString line(OneLineText(text, L" "));
    const long at = std::min<long>(row, list.GetItemCount());
    WidenColumnToText(list, 0, line);
    list.EnsureVisible(list.InsertItem(at, line));
}

void ClearLogList(wxListCtrl& list, int width) {
    list.DeleteAllItems();
    list.SetColumnWidth(0, width);
    // Left scrolled sideways, the new run's short lines would show as empty rows.
    list.Scroll(0, 0);
    for (wxWindow* part : list.GetChildren()) part->Refresh();
}

}  // namespace kestrane
