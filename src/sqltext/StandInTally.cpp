#include "sqltext/StandInTally.h"

namespace kestrane {

void StandInTally::Add(const std::wstring& column, uint64_t count) {
    for (auto& [name, n] : columns_)
        if (name == column) {
            n += count;
            return;
        }
    columns_.emplace_back(column, count);
}

void StandInTally::Add(const StandInTally& other) {
    for (const auto& [name, n] : other.columns_) Add(name, n);
}

uint64_t StandInTally::Total() const {
    uint64_t total = 0;
    for (const auto& column : columns_) total += column.second;
    return total;
}

std::wstring StandInTally::Text() const {
    if (columns_.empty()) return {};
    const uint64_t total = Total();
    std::wstring text = std::to_wstring(total) + (total == 1 ? L" value" : L" values") +
                        L" not in the files written as stand-ins (";
    for (size_t i = 0; i < columns_.size(); ++i) text += (i ? L", " : L"") + columns_[i].first;
    return text + L")";
}

}  // namespace kestrane
