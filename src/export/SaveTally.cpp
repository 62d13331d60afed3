#include "export/SaveTally.h"

#include <algorithm>

namespace kestrane {

void SaveTally::BeginTable(uint64_t operations) {
    if (table_.walked != 0) {
        lastName_ = table_.name;
        lastWalked_ = table_.walked;
    }
    table_ = Table{};
    table_.operations = operations;
}

void SaveTally::NameTable(const std::wstring& name) { table_.name = name; }

void SaveTally::OutsideDateRanges(bool beganBeforeLog) {
    ++table_.byDate;
    if (beganBeforeLog) ++table_.beganBeforeLog;
}

void SaveTally::StoppedBeforeRow() {
    if (table_.walked != 0) --table_.walked;
}

std::wstring SaveTally::TableLine() const {
    const Table& t = table_;
    const uint64_t walked = std::max(t.walked, t.kept);
    const uint64_t operations = std::max(t.operations, walked);
    std::vector<std::wstring> parts;
    auto add = [&](uint64_t count, const std::wstring& why) {
        if (count != 0) parts.push_back(std::to_wstring(count) + L" " + why);
    };
    add(t.noTable, L"of a table that could not be created");
    add(t.byKind, L"not of a chosen kind");
    if (t.byDate != 0)
        add(t.byDate, t.beganBeforeLog == 0
                          ? std::wstring(L"outside the date ranges")
                          : L"outside the date ranges (" + std::to_wstring(t.beganBeforeLog) +
                                L" of them begun before the log, without a time)");
    for (const auto& [reason, count] : t.noRow) add(count, L"gave no row (" + reason + L")");
    add(t.notWritten, L"could not be written");
    add(operations - walked, L"not reached (stopped)");
    if (parts.empty() && t.standIns.Empty()) return {};
    std::wstring line = L"Table " + t.name + L" : " + std::to_wstring(operations) + L" operations, " +
                        std::to_wstring(t.kept) + L" kept";
    if (!parts.empty()) line += L", left out ";
    for (size_t i = 0; i < parts.size(); ++i) line += (i ? L", " : L"") + parts[i];
    if (!t.standIns.Empty()) line += (parts.empty() ? L", " : L"; ") + t.standIns.Text();
    return line + L" .";
}

std::wstring SaveTally::StoppedText() const {
    const bool current = table_.walked != 0;
    const std::wstring& name = current ? table_.name : lastName_;
    const uint64_t walked = current ? table_.walked : lastWalked_;
    if (walked == 0) return L"Saving process stopped before the first operation.";
    return L"Saving process stopped after table " + name + L", operation " + std::to_wstring(walked) + L".";
}

}  // namespace kestrane
