#include "sqltext/CreateTableText.h"

#include <set>

#include "sqltext/ColumnTypeText.h"
#include "sqltext/SqlExpression.h"
#include "sqltext/SqlNames.h"

namespace kestrane {

namespace {

enum class Flavour { Database, Script };

// A computed column without a usable definition has nothing to create.
bool SkipsComputedColumn(const ColumnDef& column, Flavour flavour) {
    if (column.ordinal != kOrdinalNotStored) return false;
    if (column.definitionText.empty() || !IsSingleExpression(column.definitionText)) return true;
    return flavour == Flavour::Database && column.definitionText == L"\x07";
}

std::vector<std::wstring> ColumnNames(const ColumnDefList& columns, Flavour flavour) {
    std::vector<std::wstring> names(columns.size());
    std::set<std::wstring> taken;
    for (size_t i = 0; i < columns.size(); ++i) {
        if (SkipsComputedColumn(columns[i], flavour)) continue;
        std::wstring name = SanitizeSqlIdentifier(columns[i].name);
        if (name.empty()) name = L"Repaircln" + std::to_wstring(i);
        // Comparing against every name given so far (not only pairwise) keeps a, a_, a unique too.
        while (taken.count(name)) name += L'_';
        taken.insert(name);
        names[i] = std::move(name);
    }
    return names;
}

std::wstring BuildCreateTable(const ColumnDefList& columns, const std::wstring& tableName, RunState& state,
                              Flavour flavour) {
    state.identityColumnSeen = 0;
    if (columns.empty()) return {};
    const bool legacy = state.legacyCatalog != 0;
    const std::vector<std::wstring> names = ColumnNames(columns, flavour);
    std::wstring sql = L"Create TABLE  " + BracketedName(tableName) + L"(";
    size_t skipped = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
        const ColumnDef& column = columns[i];
        if (SkipsComputedColumn(column, flavour)) {
            ++skipped;
            continue;
        }
        std::wstring text = flavour == Flavour::Database ? ColumnTypeToSql(column, state) : ColumnTypeToSqlScript(column, state);
        if (column.status08Flag == 1) text += L" ROWGUIDCOL ";
        if (column.ordinal == kOrdinalNotStored) {
            text = L"AS " + column.definitionText;
        } else {
            auto identity = [&] {
                if (column.identityText.empty()) return;
                text += L" " + column.identityText;
                state.identityColumnSeen = 1;
            };
            if (column.keyFlag == 0) {
                if (column.nullable != 0) {
                    identity();
                } else if (!legacy) {
                    identity();
                    text += L"  not null ";
                }
            } else if (!(legacy && flavour == Flavour::Script)) {
                identity();
                text += L"  not null ";
            }
        }
        sql += BracketedName(names[i]) + L" " + text + L",";
    }
    while (!sql.empty() && sql.back() == L',') sql.pop_back();
    sql += L")";
    if (flavour == Flavour::Script && state.identityColumnSeen == 1)
        sql += L"\r\n GO\r\nSET IDENTITY_INSERT " + IdentityInsertTableName(tableName) + L" ON";
    if (skipped == columns.size()) return {};
    return sql;
}

}  // namespace

std::wstring BuildCreateTableSql(const ColumnDefList& columns, const std::wstring& tableName, RunState& state) {
    return BuildCreateTable(columns, tableName, state, Flavour::Database);
}

std::wstring BuildCreateTableScript(const ColumnDefList& columns, const std::wstring& tableName, RunState& state) {
    return BuildCreateTable(columns, tableName, state, Flavour::Script);
}

std::vector<std::wstring> ScriptColumnNames(const ColumnDefList& columns) { return ColumnNames(columns, Flavour::Script); }

std::vector<std::wstring> SqlColumnNames(const ColumnDefList& columns) { return ColumnNames(columns, Flavour::Database); }

}  // namespace kestrane
