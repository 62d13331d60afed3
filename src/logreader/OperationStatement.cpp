#include "logreader/OperationStatement.h"

#include <cstring>

#include "logreader/LogFormat.h"
#include "platform/RunState.h"
#include "sqltext/SqlNames.h"
#include "sqltext/ValueLiteral.h"

namespace kestrane {

namespace {

void StripTrailingCommas(std::wstring& text) {
    while (!text.empty() && text.back() == L',') text.pop_back();
}

bool IsStored(const ColumnDef& c) { return c.ordinal != kOrdinalNotStored; }

// Types that "=" cannot compare.
bool IsComparable(uint32_t code) {
    switch (code) {
        case kTypeText: case kTypeNText: case kTypeImage: case kTypeXml: case kTypeGeography: case kTypeGeometry:
            return false;
        default:
            return true;
    }
}

bool SameCell(const Cell& a, const Cell& b) {
    if (a.state != b.state || a.flags != b.flags || a.bytes.size() != b.bytes.size()) return false;
    return a.bytes.empty() || std::memcmp(a.bytes.data(), b.bytes.data(), a.bytes.size()) == 0;
}

bool HasValueOrNull(const Cell& c) { return c.state == CellState::Value || c.state == CellState::Null; }

}  // namespace

std::vector<size_t> StatementKeyColumns(const ColumnDefList& columns) {
    std::vector<size_t> keys;
    for (int pass = 0; pass < 2 && keys.empty(); ++pass)
        for (size_t i = 0; i < columns.size(); ++i)
            if (IsStored(columns[i]) && (pass == 0 ? columns[i].keyFlag : columns[i].indexFlag08) == 1) keys.push_back(i);
    if (!keys.empty()) return keys;
    for (size_t i = 0; i < columns.size(); ++i)
        if (IsStored(columns[i]) && IsComparable(columns[i].typeCode)) keys.push_back(i);
    return keys;
}

std::wstring WhereCondition(const ColumnDefList& columns, const RowValues& image, const RunState& state) {
    const std::vector<size_t> keys = StatementKeyColumns(columns);
    const bool uniqueKey = !keys.empty() && (columns[keys.front()].keyFlag || columns[keys.front()].indexFlag08);
    std::wstring condition;
    for (size_t i : keys) {
        if (i >= image.size()) return {};
        const Cell cell = image[i];
        if (!HasValueOrNull(cell)) {
            if (uniqueKey) return {};  // the row cannot be named without every key value
            continue;
        }
        if (!condition.empty()) condition += L" and ";
        condition += BracketedName(columns[i].name);
        condition += cell.IsNull() ? L" IS NULL" : L"= " + ValueLiteral(columns[i], cell, state);
    }
    return condition;
}

std::wstring BuildInsertStatement(const std::wstring& table, const ColumnDefList& columns, const RowValues& image,
                                  const RunState& state) {
    std::wstring text = L"insert into " + BracketedName(table) + L" values( ";
    for (size_t i = 0; i < columns.size() && i < image.size(); ++i)
        if (IsStored(columns[i])) text += FormatValueLiteral(columns[i], image[i], state);
    StripTrailingCommas(text);
    return text + L")";
}

std::wstring BuildDeleteStatement(const std::wstring& table, const ColumnDefList& columns, const RowValues& image,
                                  const RunState& state) {
    const std::wstring condition = WhereCondition(columns, image, state);
    if (condition.empty()) return {};
    return L"Delete from " + BracketedName(table) + L" where " + condition;
}

std::wstring BuildUpdateStatement(const std::wstring& table, const ColumnDefList& columns, const RowValues& present,
                                  const RowValues& before, const RunState& state) {
    std::wstring list;
    for (size_t i = 0; i < columns.size() && i < before.size() && i < present.size(); ++i) {
        // The server keeps a timestamp column itself; it changes with every update.
        if (!IsStored(columns[i]) || columns[i].typeCode == kTypeTimestamp) continue;
        const Cell was = before[i];
        if (SameCell(present[i], was) || !HasValueOrNull(was)) continue;
        list += BracketedName(columns[i].name) + L" = " + FormatValueLiteral(columns[i], was, state);
    }
    StripTrailingCommas(list);
    if (list.empty()) return {};
    const std::wstring condition = WhereCondition(columns, present, state);
    if (condition.empty()) return {};
    return L"Update " + BracketedName(table) + L" SET " + list + L" Where " + condition;
}

std::wstring BuildOperationStatementText(uint8_t operation, const std::wstring& table, const ColumnDefList& columns,
                                         const std::vector<RowValues>& images, const RunState& state) {
    switch (operation) {
        case logfmt::kOpInsertRow:
            return images.empty() ? std::wstring() : BuildInsertStatement(table, columns, images[0], state);
        case logfmt::kOpDeleteRow:
            return images.empty() ? std::wstring() : BuildDeleteStatement(table, columns, images[0], state);
        case logfmt::kOpModifyRow:
        case logfmt::kOpModifyColumns:
            return images.size() < 2 ? std::wstring()
                                     : BuildUpdateStatement(table, columns, images[0], images[1], state);
        default:
            return {};
    }
}

}  // namespace kestrane
