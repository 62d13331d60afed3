#include "export/SaveFilter.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "datafile/ValueText.h"

namespace kestrane {

bool SaveFilter::KeepsKind(uint8_t operation) const {
    switch (operation) {
        case 2: return saveInsert;
        case 3: return saveDelete;
        case 4:
        case 6: return saveUpdate;
        default: return false;
    }
}

bool SaveFilter::IsInDateFilter(const std::vector<DateRange>& ranges, const COleDateTime& date) {
    if (ranges.empty()) return true;
    for (const DateRange& range : ranges) {
        if (date.GetStatus() != COleDateTime::valid) return false;
        if ((range.from < date && date < range.to) || date == range.from || date == range.to) return true;
    }
    return false;
}

COleDateTime OperationBeginDate(uint64_t beginTime) {
    uint8_t bytes[8];
    std::memcpy(bytes, &beginTime, sizeof bytes);
    // "MM/DD/YYYY hh:mm:ss", the text the operations list shows, read back field by field.
    const std::wstring text = FormatDateTimeMonthFirst(ByteView(bytes, sizeof bytes));
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    COleDateTime date;
    if (BeganBeforeLog(beginTime) || text.size() != 19 ||
        std::swscanf(text.c_str(), L"%2d/%2d/%4d %2d:%2d:%2d", &month, &day, &year, &hour, &minute, &second) != 6) {
        date.SetDateTime(0, 0, 0, 0, 0, 0);  // invalid
        return date;
    }
    date.SetDateTime(year, month, day, hour, minute, second);
    return date;
}

}  // namespace kestrane
