#pragma once
// The key, constraint, index and foreign-key statements of a re-created table, shared by the script
// run (written into the table's script) and the database save (executed). Every name comes from the
// data file and goes through BracketedName; a column is named as the CREATE TABLE text named it; a
// default or check whose stored definition is missing or is not one expression is left out.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/ColumnDef.h"

namespace kestrane {

class CMetadataCatalog;
class RunState;
class SavedTableNames;

// "[c1] , [c2] " (each name bracketed and followed by " , ", then the trailing comma dropped).
std::wstring KeyColumnList(const std::vector<std::wstring>& names);

// Primary key, defaults, checks and unique constraints, then the indexes that belong to none of them,
// of the table whose schema the catalogue built last (`columns` is that schema, `table` the name it is
// created under).
// `definitionText` gives the stored text of a constraint object by its id. A default or check whose
// definition is not one expression (IsSingleExpression) is left out and its name added to `refused`.
// Stops early on a stop.
std::vector<std::wstring> TableConstraintStatements(const CMetadataCatalog& catalog, const std::wstring& table,
                                                    const ColumnDefList& columns,
                                                    const std::function<std::wstring(int32_t)>& definitionText,
                                                    const RunState& state, std::vector<std::wstring>* refused = nullptr);
// The log line of such a constraint.
std::wstring RefusedDefinitionLine(const std::wstring& table, const std::wstring& constraint);
std::vector<std::wstring> TableIndexStatements(const CMetadataCatalog& catalog, const std::wstring& table,
                                               const ColumnDefList& columns, const RunState& state);

// One foreign key with all its columns (the catalogue lists one record per column).
struct ForeignKeyDef {
    std::wstring name;
    uint32_t tableId = 0, referencedTableId = 0;
    std::wstring table, referencedTable;
    std::vector<uint32_t> columnIds, referencedColumnIds;          // in key order
    std::vector<std::wstring> columnNames, referencedColumnNames;  // as stored
    uint32_t status = 0;  // 0x4000: on delete cascade; with 0x1000 also on update cascade
};
std::vector<ForeignKeyDef> GroupForeignKeys(const std::vector<ForeignKeyRecord>& records);

// The name the CREATE TABLE text gave a column of a table: (table id, table name, column id, stored name).
using ColumnNaming = std::function<std::wstring(uint32_t, const std::wstring&, uint32_t, const std::wstring&)>;
std::wstring ForeignKeyStatement(const ForeignKeyDef& key, const ColumnNaming& columnName);

// The statements of the catalogue's foreign keys (GroupForeignKeys order; "" for a key not kept or
// without a statement), every column named as the CREATE TABLE text of its table named it, and with
// `savedNames` every table by the name the run created it under. Builds each table's schema again:
// call it while no table's schema is in use.
std::vector<std::wstring> CatalogForeignKeyStatements(CMetadataCatalog& catalog,
                                                      const std::vector<StringTriple>& definitions,
                                                      const std::function<bool(const ForeignKeyDef&)>& keep,
                                                      const SavedTableNames* savedNames = nullptr);

// "ALTER TABLE [T]  ADD PRIMARY KEY ([c] , [d] )", the key script of a catalogue of the legacy layout.
std::wstring LegacyPrimaryKeyStatement(const std::wstring& table, const std::vector<std::wstring>& columns);

}  // namespace kestrane
