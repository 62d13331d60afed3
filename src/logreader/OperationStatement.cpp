#include "logreader/OperationStatement.h"

#include "logreader/LogFormat.h"
#include "platform/RunState.h"
#include "sqltext/SqlNames.h"
#include "sqltext/ValueLiteral.h"

namespace kestrane {

namespace {
void StripTrailingCommas(std::wstring& text) {
    while (!text.empty() && text.back() == L',') text.pop_back();
}
std::wstring Bracketed(const std::wstring& table) { return L"[" + EscapeBracketedName(table) + L"]"; }
}  // namespace

const ColumnDef* FindStatementKeyColumn(const ColumnDefList& image, bool fallBackToFirst) {
    const ColumnDef* key = nullptr;
    for (const ColumnDef& c : image)
        if (c.keyFlag == 1) key = &c;
    if (key && !key->valueText.empty()) return key;
    key = nullptr;
    for (const ColumnDef& c : image)
        if (c.indexFlag08 == 1) key = &c;
    if (key && !key->valueText.empty()) return key;
    if (fallBackToFirst && !image.empty()) return &image.front();
    return nullptr;
}

std::wstring BuildInsertStatement(const std::wstring& table, const ColumnDefList& image, const RunState& state) {
    std::wstring text = L"insert into " + Bracketed(table) + L" values( ";
    for (const ColumnDef& c : image) {
        if (c.ordinal == kOrdinalNotStored) continue;
        text += FormatValueLiteral(c, c.valueText, state);
    }
    StripTrailingCommas(text);
    return text + L")";
}

std::wstring BuildDeleteStatement(const std::wstring& table, const ColumnDefList& image) {
    const ColumnDef* key = FindStatementKeyColumn(image, true);
    if (!key) return {};
    return L"Delete from " + Bracketed(table) + L" where " + key->name + L"= " + key->valueText;
}

std::wstring BuildUpdateStatement(const std::wstring& table, const ColumnDefList& present,
                                  const ColumnDefList& rebuilt, uint8_t operation) {
    std::wstring list;
    for (size_t i = 0; i < rebuilt.size(); ++i) {
        const std::wstring* before = i < present.size() ? &present[i].valueText : nullptr;
        if (before && *before == rebuilt[i].valueText) continue;
        list += rebuilt[i].name + L" = " + rebuilt[i].valueText + L",";
    }
    StripTrailingCommas(list);
    if (list.empty()) return {};
    const ColumnDef* key = FindStatementKeyColumn(rebuilt, operation != logfmt::kOpModifyColumns);
    if (!key) return {};
    return L"Update " + Bracketed(table) + L" SET " + list + L" Where " + key->name + L"= " + key->valueText;
}

std::wstring BuildOperationStatementText(uint8_t operation, const std::wstring& table,
                                         const std::vector<ColumnDefList>& images, const RunState& state) {
    switch (operation) {
        case logfmt::kOpInsertRow:
            return images.empty() ? std::wstring() : BuildInsertStatement(table, images[0], state);
        case logfmt::kOpDeleteRow:
            return images.empty() ? std::wstring() : BuildDeleteStatement(table, images[0]);
        case logfmt::kOpModifyRow:
        case logfmt::kOpModifyColumns:
            return images.size() < 2 ? std::wstring() : BuildUpdateStatement(table, images[0], images[1], operation);
        default:
            return {};
    }
}

}  // namespace kestrane
