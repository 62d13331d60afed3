#pragma once
// The database's catalogue as read from its system base tables, with the queries that find one
// table's rowset, allocation units, pages, columns and keys. The members named "current"/"table"
// describe the table whose schema was built last (BuildObjectLists); callers build one table at a time.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/ColumnDef.h"
#include "datafile/DataFileEntry.h"
#include "datafile/PageHeader.h"
#include "datafile/SystemTableScanner.h"

namespace kestrane {

class CMdfFile;
class RunState;

// Whether building a table's schema also lists its data pages (a walk over every page of the table).
enum class TablePages { Collect, Skip };

// Data-page key of an allocation unit (or rowset) id: the low 32 bits of v / 65536, where v is the id,
// less 2^56 when the id differs from its owner.
uint32_t AllocationUnitPageKey(uint64_t id, uint64_t ownerId);
// Decodes "0x..." hex text (upper-case digits) into bytes; `wide` is set when a byte after the first is 0.
std::vector<uint8_t> ReadObjectDefinitionBytes(const std::wstring& hexText, bool& wide);

class CMetadataCatalog {
public:
    // Performs the whole load: boot page, files, secondary files, objects, allocation units, rowsets,
    // columns, types, and (current layout) rowset columns, references, indexes and foreign keys.
    explicit CMetadataCatalog(CMdfFile* dataFile);
    // A catalogue without a load, for callers that fill the lists themselves.
    CMetadataCatalog(CMdfFile* dataFile, RunState& state);
    ~CMetadataCatalog();
    CMetadataCatalog(const CMetadataCatalog&) = delete;
    CMetadataCatalog& operator=(const CMetadataCatalog&) = delete;

    // Empties the lists (the legacy lists, table schema, current object and type statements stay).
    void ResetCatalogue();

    void LocateDataFiles(const std::wstring& primaryPath);
    void AddMissingObjects();
    void BuildForeignKeys();
    void CollectKeyConstraints(uint32_t tableId);
    ObjectRecord FindTableObject(const std::wstring& name, const std::wstring& type) const;
    // The user table ("U ") of that object id; a default record (id -1) when there is none.
    ObjectRecord FindUserTable(uint32_t objectId) const;
    void CollectTableColumns(uint32_t tableId);
    TypeRecord FindTypeRecord(uint8_t systemTypeId, uint32_t userTypeId) const;
    RowsetRecord FindTableRowset(uint32_t tableId);
    AllocationUnitRecord FindAllocationUnit(uint64_t rowsetId);
    void CollectTableRowsets(uint32_t tableId);
    void CollectTableAllocationUnits();
    void CollectTablePages(uint32_t objectId);
    void LoadRowsetColumns(uint64_t rowsetId);
    std::vector<IndexColumnRecord> CollectIndexes(uint32_t tableId);
    std::vector<IndexColumnRecord> CollectIndexColumns(uint32_t tableId, uint32_t indexId, uint32_t status) const;
    // The bytes of a "0x" hex text; null result (empty) when it holds none.
    static std::vector<uint8_t> ReadObjectDefinition(const std::wstring& hexText, bool& wide) {
        return ReadObjectDefinitionBytes(hexText, wide);
    }
    // "Create type <name> from <base>" for each user type of schema 1 into typeStatements; the name
    // goes through `bracketName` (the caller's one quoting path for names from the file).
    bool ScriptUserTypes(const std::function<std::wstring(const std::wstring&)>& bracketName);

    // The columns of one object: a table's ColumnDef list in column-id order, or three entries that
    // name a constraint/module (id, type, name). `definitions` supplies computed-column texts. With
    // TablePages::Skip the table pages stay empty: a caller that only decodes given rows needs none.
    ColumnDefList BuildObjectLists(const std::wstring& name, const std::wstring& type,
                                   const std::vector<StringTriple>& definitions,
                                   TablePages pages = TablePages::Collect);
    // The same for the user table of that object id. Names are not unique (two schemas may each hold a
    // table "T"); the log, the tree and the saves know a table by its id.
    ColumnDefList BuildTableLists(uint32_t objectId, const std::vector<StringTriple>& definitions,
                                  TablePages pages = TablePages::Collect);

    // The stored definitions of modules, defaults, checks and computed columns (object 60), read on the
    // first call; empty for a catalogue of the legacy layout.
    const std::vector<StringTriple>& ObjectDefinitions();

    CMdfFile* DataFile() const { return dataFile_; }
    RunState& State() const { return *state_; }

    // Catalogue lists.
    std::vector<RowsetColumnAltRecord> rowsetColumnsAlt;
    std::vector<RowsetColumnOrdinalRecord> rowsetColumnOrdinals;
    std::vector<RowsetColumnValueRecord> rowsetColumnValues;
    std::vector<LegacyColumnRecord> legacyColumns;
    std::vector<ColumnGroupRecord> columnGroups;
    std::map<uint32_t, LegacyIndexEntry> legacyIndexes;
    std::vector<ColumnRecord> columns;
    std::vector<ObjectRecord> objects;
    std::vector<TypeRecord> types;
    std::vector<RowsetColumnRecord> rowsetColumns;
    std::vector<ObjectReferenceRecord> objectReferences;
    std::vector<IndexRecord> indexes;
    std::vector<IndexColumnRecord> indexColumns;
    std::vector<AllocationUnitRecord> allocationUnits;
    std::vector<ForeignKeyRecord> foreignKeys;
    std::vector<RowsetRecord> rowsets;
    std::vector<DataFileEntry> files;
    std::vector<std::wstring> typeStatements;
    std::vector<KeyColumnRecord> keyColumns;  // the key columns of every table built, each table once

    // The table whose schema was built last.
    AllocationUnitRecord currentAllocationUnit;
    RowsetRecord currentRowset;
    std::vector<ColumnRecord> tableColumns;
    std::vector<LegacyColumnRecord> legacyTableColumns;
    std::vector<RowsetColumnAltRecord> currentRowsetColumnsAlt;
    std::vector<RowsetColumnOrdinalRecord> currentRowsetColumnOrdinals;
    std::vector<KeyConstraintRecord> keyConstraints;
    std::vector<IndexRecord> tableIndexes;
    std::vector<RowsetRecord> tableRowsets;
    std::vector<AllocationUnitRecord> tableAllocationUnits;
    std::vector<RowsetColumnRecord> currentRowsetColumns;
    std::vector<PageAddress> tablePages;
    uint8_t schemaBuilt = 0;
    uint32_t firstColumnIndex = 0;
    ColumnDefList tableSchema;
    ObjectRecord currentObject;
    uint8_t indexRowsetMode = 0;
    std::set<uint64_t> pageKeys;  // file id << 32 | page id of every page in tablePages

private:
    void Load();
    // Appends the type-1 pages of one data-page list to the table pages, each page once; with a real
    // `unit` only the pages whose header names that allocation unit.
    void AppendTablePages(const std::vector<PageRef>* refs, const AllocationUnitRecord* unit = nullptr);
    bool PageBelongsToUnit(const PageRef& ref, const AllocationUnitRecord& unit) const;
    // True when another allocation unit of a different table maps to the same data-page key.
    bool KeyShared(const AllocationUnitRecord& unit) const;
    const std::vector<PageRef>* DataPageList(uint32_t key) const;
    // The data-page list of an allocation unit; in index rowset mode an empty list retries without 2^56.
    const std::vector<PageRef>* UnitPageList(uint64_t id, uint64_t ownerId, bool retry) const;
    // Definition text of a column without place, looked up in the caller's list.
    static void LookUpDefinition(const std::vector<StringTriple>& definitions, const std::wstring& idText,
                                 const std::wstring& columnKey, std::wstring& definitionText);
    void BuildTableColumns();
    // BuildObjectLists once the current object is chosen.
    ColumnDefList BuildListsOfCurrentObject(const std::vector<StringTriple>& definitions, TablePages pages);
    // The value a rowset column's older rows hold for it, when the catalogue keeps one.
    void AttachStoredDefault(const RowsetColumnRecord& stored, ColumnDef& def) const;
    ColumnDefList PlaceColumns(const std::wstring& idText, const std::vector<StringTriple>& definitions,
                               size_t& builtCount);

    std::unique_ptr<SystemTableScanner> reader_;
    std::vector<StringTriple> objectDefinitions_;
    bool objectDefinitionsRead_ = false;
    CMdfFile* dataFile_ = nullptr;
    RunState* state_ = nullptr;
};

}  // namespace kestrane
