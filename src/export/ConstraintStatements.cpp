#include "export/ConstraintStatements.h"

#include <algorithm>
#include <map>

#include "datafile/MetadataCatalog.h"
#include "export/SavedTableNames.h"
#include "platform/RunState.h"
#include "sqltext/CreateTableText.h"
#include "sqltext/SqlExpression.h"
#include "sqltext/SqlNames.h"

namespace kestrane {

namespace {

constexpr uint32_t kIndexUnique = 0x08;
constexpr uint8_t kIndexClustered = 1;      // index type (IndexRecord F+17)
constexpr uint32_t kIndexColumnDescending = 0x4;  // index-column status (IndexColumnRecord F+12)
constexpr uint32_t kSystemNamed = 0x4;      // constraint object status: the server chose the name
constexpr uint32_t kCascadeUpdate = 0x1000, kCascadeDelete = 0x4000;

// " constraint [N]", or nothing for a name the server is to choose (or one the file lost).
std::wstring ConstraintName(const std::wstring& name) { return name.empty() ? L"" : L" constraint " + BracketedName(name); }

class TableView {
public:
    TableView(const CMetadataCatalog& catalog, const std::wstring& table, const ColumnDefList& columns)
        : catalog_(catalog), table_(table), columns_(columns), names_(ScriptColumnNames(columns)),
          tableId_(static_cast<uint32_t>(catalog.currentObject.id)) {}

    // The CREATE TABLE name of a column; "" when the table has no such column (or left it out).
    std::wstring NameOf(uint32_t columnId) const {
        for (size_t i = 0; i < columns_.size(); ++i)
            if (columns_[i].columnId == columnId) return names_[i];
        return {};
    }
    std::wstring NameOfStored(const std::wstring& stored) const {
        for (size_t i = 0; i < columns_.size(); ++i)
            if (columns_[i].name == stored) return names_[i];
        return {};
    }

    const IndexRecord* IndexNamed(const std::wstring& name) const {
        for (const IndexRecord& index : catalog_.indexes)
            if (index.objectId == tableId_ && index.indexId > 0 && index.name == name) return &index;
        return nullptr;
    }

    // Key columns (ascending key ordinal, " desc" where descending) and included columns of an index.
    void IndexColumns(const IndexRecord& index, std::vector<std::wstring>& keys, std::vector<std::wstring>& included) const {
        std::vector<const IndexColumnRecord*> keyed;
        for (const IndexColumnRecord& column : catalog_.indexColumns) {
            if (column.objectId != tableId_ || column.indexId != index.indexId) continue;
            if (column.keyPosition == 0) {
                const std::wstring name = NameOf(column.columnId);
                if (!name.empty()) included.push_back(name);
            } else {
                keyed.push_back(&column);
            }
        }
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto* a, const auto* b) { return a->keyPosition < b->keyPosition; });
        for (const IndexColumnRecord* column : keyed) {
            const std::wstring name = NameOf(column->columnId);
            if (name.empty()) continue;
            keys.push_back(BracketedName(name) + ((column->unused12 & kIndexColumnDescending) ? L" desc" : L""));
        }
        for (std::wstring& name : included) name = BracketedName(name);
    }

    const CMetadataCatalog& catalog_;
    const std::wstring& table_;
    const ColumnDefList& columns_;
    const std::vector<std::wstring> names_;
    const uint32_t tableId_;
};

// "a , b " : the items joined by " , ", with the blank that the joining leaves before the ")".
std::wstring JoinList(const std::vector<std::wstring>& items) {
    std::wstring list;
    for (size_t i = 0; i < items.size(); ++i) list += (i ? L" , " : L"") + items[i];
    return items.empty() ? list : list + L" ";
}

// Columns of the primary key when no index of its name is found: the key-column list of the table.
std::vector<std::wstring> KeyColumnsOfList(const TableView& view) {
    std::map<uint32_t, std::wstring> byPosition;  // one column per position
    for (const KeyColumnRecord& key : view.catalog_.keyColumns)
        if (key.tableId == view.tableId_) byPosition.emplace(key.keyPosition, view.NameOfStored(key.columnName));
    std::vector<std::wstring> names;
    for (const auto& [position, name] : byPosition)
        if (!name.empty()) names.push_back(BracketedName(name));
    return names;
}

// Columns of a unique constraint when no index of its name is found: the columns flagged 0x40.
std::vector<std::wstring> UniqueColumnsOfFlags(const TableView& view) {
    std::map<uint8_t, std::wstring> byPosition;
    for (size_t i = 0; i < view.columns_.size(); ++i)
        if (view.columns_[i].indexFlag40 == 1 && !view.names_[i].empty())
            byPosition.emplace(view.columns_[i].keyPosition, view.names_[i]);
    std::vector<std::wstring> names;
    for (const auto& [position, name] : byPosition) names.push_back(BracketedName(name));
    return names;
}

}  // namespace

std::wstring KeyColumnList(const std::vector<std::wstring>& names) {
    std::vector<std::wstring> bracketed;
    for (const std::wstring& name : names) bracketed.push_back(BracketedName(name));
    return JoinList(bracketed);
}

std::vector<std::wstring> TableConstraintStatements(const CMetadataCatalog& catalog, const std::wstring& table,
                                                    const ColumnDefList& columns,
                                                    const std::function<std::wstring(int32_t)>& definitionText,
                                                    const RunState& state, std::vector<std::wstring>* refused) {
    const TableView view(catalog, table, columns);
    const std::wstring alter = L"Alter Table " + BracketedName(table) + L" add";
    std::vector<std::wstring> out;
    for (const KeyConstraintRecord& key : catalog.keyConstraints) {
        if (state.stopRequested()) break;
        if (key.type == L"PK" || key.type == L"UQ") {
            const IndexRecord* index = view.IndexNamed(key.name);
            std::vector<std::wstring> keys, included;
            if (index) view.IndexColumns(*index, keys, included);
            if (keys.empty()) keys = key.type == L"PK" ? KeyColumnsOfList(view) : UniqueColumnsOfFlags(view);
            if (keys.empty()) continue;
            const bool clustered = index && index->unused17 == kIndexClustered;
            if (key.type == L"PK")
                out.push_back(alter + ConstraintName(key.name) + L" Primary key" + (index && !clustered ? L" nonclustered " : L"") +
                              L"(" + JoinList(keys) + L")");
            else
                out.push_back(alter + ConstraintName(key.name) + (clustered ? L" unique clustered(" : L" unique(") +
                              JoinList(keys) + L")");
        } else if (key.type == L"D " || key.type == L"C ") {
            const ObjectRecord* object = nullptr;
            for (const ObjectRecord& o : catalog.objects)
                if (o.id == static_cast<int32_t>(key.id)) object = &o;
            const std::wstring definition = definitionText(static_cast<int32_t>(key.id));
            if (!object || definition.empty()) continue;
            // Sent and written as it stands: anything past one expression would be a statement of the file's.
            if (!IsSingleExpression(definition)) {
                if (refused) refused->push_back(key.name);
                continue;
            }
            std::wstring text = alter + ((object->status & kSystemNamed) ? L"" : ConstraintName(key.name));
            if (key.type == L"D ") {
                // The constraint object's F+20 holds the column it belongs to.
                const std::wstring column = view.NameOf(object->unused20);
                if (column.empty()) continue;
                text += L" default " + definition + L" for " + BracketedName(column);
            } else {
                text += L" check " + definition;
            }
            out.push_back(text);
        }
    }
    return out;
}

std::vector<std::wstring> TableIndexStatements(const CMetadataCatalog& catalog, const std::wstring& table,
                                               const ColumnDefList& columns, const RunState& state) {
    const TableView view(catalog, table, columns);
    std::vector<std::wstring> out;
    for (const IndexRecord& index : catalog.tableIndexes) {
        if (state.stopRequested()) break;
        const bool ofConstraint = std::any_of(catalog.keyConstraints.begin(), catalog.keyConstraints.end(),
                                              [&](const KeyConstraintRecord& k) { return k.name == index.name; });
        if (ofConstraint || index.name.empty()) continue;
        std::vector<std::wstring> keys, included;
        view.IndexColumns(index, keys, included);
        if (keys.empty()) continue;
        std::wstring text = L"Create ";
        if (index.status & kIndexUnique) text += L"unique ";
        if (index.unused17 == kIndexClustered) text += L"clustered ";
        text += L"Index " + BracketedName(index.name) + L" on " + BracketedName(table) + L"(" + JoinList(keys) + L")";
        if (!included.empty()) text += L" include(" + JoinList(included) + L")";
        out.push_back(text);
    }
    return out;
}

std::vector<ForeignKeyDef> GroupForeignKeys(const std::vector<ForeignKeyRecord>& records) {
    std::vector<ForeignKeyDef> keys;
    std::map<uint32_t, size_t> placeOf;
    std::map<uint32_t, std::vector<const ForeignKeyRecord*>> columnsOf;
    for (const ForeignKeyRecord& record : records) {
        if (placeOf.emplace(record.foreignKeyId, keys.size()).second) {
            ForeignKeyDef key;
            key.name = record.name;
            key.tableId = record.referencingTableId;
            key.referencedTableId = record.referencedTableId;
            key.table = record.referencingTableName;
            key.referencedTable = record.referencedTableName;
            key.status = record.status;
            keys.push_back(std::move(key));
        }
        columnsOf[record.foreignKeyId].push_back(&record);
    }
    for (auto& [id, columns] : columnsOf) {
        std::stable_sort(columns.begin(), columns.end(),
                         [](const auto* a, const auto* b) { return a->keyColumnOrdinal < b->keyColumnOrdinal; });
        ForeignKeyDef& key = keys[placeOf[id]];
        for (const ForeignKeyRecord* column : columns) {
            key.columnIds.push_back(column->referencingColumnId);
            key.referencedColumnIds.push_back(column->referencedColumnId);
            key.columnNames.push_back(column->referencingColumnName);
            key.referencedColumnNames.push_back(column->referencedColumnName);
        }
    }
    return keys;
}

std::wstring ForeignKeyStatement(const ForeignKeyDef& key, const ColumnNaming& columnName) {
    if (key.table.empty() || key.referencedTable.empty()) return {};
    std::vector<std::wstring> columns, referenced;
    for (size_t i = 0; i < key.columnIds.size(); ++i) {
        columns.push_back(columnName(key.tableId, key.table, key.columnIds[i], key.columnNames[i]));
        referenced.push_back(columnName(key.referencedTableId, key.referencedTable, key.referencedColumnIds[i],
                                        key.referencedColumnNames[i]));
        if (columns.back().empty() || referenced.back().empty()) return {};
    }
    if (columns.empty()) return {};
    std::wstring text = L"alter table " + BracketedName(key.table) +
                        (key.name.empty() ? L"  add foreign key(" : L" add constraint " + BracketedName(key.name) + L" foreign key(") +
                        KeyColumnList(columns) + L") references " + BracketedName(key.referencedTable) + L"(" +
                        KeyColumnList(referenced) + L")";
    if ((key.status & kCascadeUpdate) && (key.status & kCascadeDelete))
        text += L" on update cascade on delete cascade";
    else if (key.status & kCascadeDelete)
        text += L" on delete cascade";
    return text;
}

std::vector<std::wstring> CatalogForeignKeyStatements(CMetadataCatalog& catalog,
                                                      const std::vector<StringTriple>& definitions,
                                                      const std::function<bool(const ForeignKeyDef&)>& keep,
                                                      const SavedTableNames* savedNames) {
    std::map<uint32_t, std::pair<ColumnDefList, std::vector<std::wstring>>> tables;
    auto columnName = [&](uint32_t tableId, const std::wstring&, uint32_t columnId, const std::wstring& stored) {
        auto found = tables.find(tableId);
        if (found == tables.end()) {
            ColumnDefList columns = catalog.BuildTableLists(tableId, definitions);
            std::vector<std::wstring> names = ScriptColumnNames(columns);
            found = tables.emplace(tableId, std::make_pair(std::move(columns), std::move(names))).first;
        }
        const auto& [columns, names] = found->second;
        for (size_t i = 0; i < columns.size(); ++i)
            if (columns[i].columnId == columnId) return names[i];
        return SanitizeSqlIdentifier(stored);
    };
    std::vector<std::wstring> statements;
    for (ForeignKeyDef& key : GroupForeignKeys(catalog.foreignKeys)) {
        if (!keep(key)) {
            statements.emplace_back();
            continue;
        }
        if (savedNames) {
            if (const std::wstring* name = savedNames->Find(key.tableId)) key.table = *name;
            if (const std::wstring* name = savedNames->Find(key.referencedTableId)) key.referencedTable = *name;
        }
        statements.push_back(ForeignKeyStatement(key, columnName));
    }
    return statements;
}

std::wstring RefusedDefinitionLine(const std::wstring& table, const std::wstring& constraint) {
    return L"Constraint " + WithoutControlCharacters(constraint) + L" of table " + WithoutControlCharacters(table) +
           L" left out: its stored definition is not one expression";
}

std::wstring LegacyPrimaryKeyStatement(const std::wstring& table, const std::vector<std::wstring>& columns) {
    return L"ALTER TABLE " + BracketedName(table) + L"  ADD PRIMARY KEY (" + KeyColumnList(columns) + L")";
}

}  // namespace kestrane
