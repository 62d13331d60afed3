#include "logreader/OperationStatement.h"

#include <cstring>

#include "logreader/LogFormat.h"
#include "platform/RunState.h"
#include "sqltext/SqlNames.h"
#include "sqltext/ValueLiteral.h"

namespace kestrane {

const wchar_t kNoStatementReadsTheSame[] = L"No statement: the row reads the same before and after this update.";
const wchar_t kNoStatementChangeNotRead[] =
    L"No statement: this update changed only stored bytes that no column of the table reads now (a dropped "
    L"column or the row's version stamp); every column reads the same before and after it.";

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

constexpr const wchar_t* kNoStatementNoRow = L"No statement: the row did not decode.";

// Whether an UPDATE sets `column` back to its value `was` from the row as it stands. The server keeps
// a timestamp column itself; it changes with every update.
bool SetsBack(const ColumnDef& column, const Cell& present, const Cell& was) {
    return IsStored(column) && column.typeCode != kTypeTimestamp && !SameCell(present, was) && HasValueOrNull(was);
}

std::wstring NameList(const ColumnDefList& columns, const std::vector<size_t>& indexes) {
    std::wstring text;
    for (size_t i : indexes) text += (text.empty() ? L"" : L", ") + BracketedName(columns[i].name);
    return text;
}

// Why WhereCondition gives nothing for `image`.
std::wstring UnnamedRowReason(const ColumnDefList& columns, const RowValues& image) {
    const std::vector<size_t> keys = StatementKeyColumns(columns);
    if (keys.empty()) return L"No statement: the row cannot be named: the table has no key and no column that can be compared.";
    std::vector<size_t> unavailable;
    for (size_t i : keys)
        if (i >= image.size() || !HasValueOrNull(image[i])) unavailable.push_back(i);
    return L"No statement: the row cannot be named: the files do not give the value of " +
           NameList(columns, unavailable) + L".";
}

// Why BuildUpdateStatement finds no column to set.
std::wstring NothingToSetReason(const ColumnDefList& columns, const RowValues& present, const RowValues& before) {
    std::vector<size_t> unavailable, timestamps;
    for (size_t i = 0; i < columns.size() && i < before.size() && i < present.size(); ++i) {
        if (!IsStored(columns[i]) || SameCell(present[i], before[i])) continue;
        (columns[i].typeCode == kTypeTimestamp ? timestamps : unavailable).push_back(i);
    }
    if (unavailable.empty() && timestamps.empty())
        return kNoStatementReadsTheSame;
    std::wstring why = L"No statement: no column this update changed can be set back: ";
    if (!unavailable.empty()) why += L"the files do not give the earlier value of " + NameList(columns, unavailable);
    if (!unavailable.empty() && !timestamps.empty()) why += L"; ";
    if (!timestamps.empty()) why += NameList(columns, timestamps) + L" is a timestamp, which the server sets itself";
    return why + L".";
}

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
        const Cell was = before[i];
        if (!SetsBack(columns[i], present[i], was)) continue;
        list += BracketedName(columns[i].name) + L" = " + FormatValueLiteral(columns[i], was, state);
    }
    StripTrailingCommas(list);
    if (list.empty()) return {};
    const std::wstring condition = WhereCondition(columns, present, state);
    if (condition.empty()) return {};
    return L"Update " + BracketedName(table) + L" SET " + list + L" Where " + condition;
}

std::wstring NoStatementReason(uint8_t operation, const ColumnDefList& columns, const std::vector<RowValues>& images,
                              const RunState& state) {
    switch (operation) {
        case logfmt::kOpInsertRow:
            return images.empty() ? kNoStatementNoRow : std::wstring();
        case logfmt::kOpDeleteRow:
            if (images.empty()) return kNoStatementNoRow;
            return WhereCondition(columns, images[0], state).empty() ? UnnamedRowReason(columns, images[0])
                                                                     : std::wstring();
        case logfmt::kOpModifyRow:
        case logfmt::kOpModifyColumns: {
            if (images.size() < 2) return kNoStatementNoRow;
            const RowValues& present = images[0];
            const RowValues& before = images[1];
            bool setsAny = false;
            for (size_t i = 0; i < columns.size() && i < before.size() && i < present.size() && !setsAny; ++i)
                setsAny = SetsBack(columns[i], present[i], before[i]);
            if (!setsAny) return NothingToSetReason(columns, present, before);
            return WhereCondition(columns, present, state).empty() ? UnnamedRowReason(columns, present) : std::wstring();
        }
        default:
            return L"No statement: this kind of log record holds no row.";
    }
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
