#pragma once
// Reads the system base tables page by page into catalogue records. The decoders take the fixed part
// of each record (and its first variable column where the table holds a name); a record that is too
// short keeps the defaults of its type, and nothing stops a scan.
#include <cstdint>
#include <map>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/DataFileEntry.h"
#include "platform/ByteReader.h"

namespace kestrane {

class CDataPage;
class CMdfFile;
class RunState;

// System-table object ids (current layout; legacy ids where they differ).
enum SystemTableId : uint32_t {
    kSysRowsetColumnOrdinals = 4,
    kSysRowsetColumns = 3,
    kSysRowsets = 5,
    kSysAllocationUnits = 7,
    kSysFiles = 8,
    kSysRowsetColumnValues = 9,
    kSysRowsetColumnsAlt = 13,
    kSysObjects = 34,
    kSysColumns = 41,
    kSysTypes = 50,
    kSysObjectValues = 60,
    kSysIndexes = 54,
    kSysIndexColumns = 55,
    kSysObjectReferences = 74,
    kSysColumnsMore = 2187,
    kLegacyObjects = 1,
    kLegacyIndexes = 2,
    kLegacyColumns = 3,
    kLegacyAllocationUnits = 99,
};

// One record of a system-table page as the decoders see it. The views point into the page's records.
struct CatalogRow {
    uint32_t recordType = 0;         // 0 primary, 3 index, 4 large-value fragment, ...
    bool hasFixed = false;           // the record has a fixed part
    ByteView fixed;                  // the fixed part (F+0 onwards)
    int32_t fixedLength = 0;         // length of the fixed part as the record states it
    int32_t columnCount = 0;
    std::vector<ByteView> variable;  // variable columns in order; empty view when a value has no data
    std::vector<uint8_t> complex;    // per variable column: stored off the row (a large-value root)
    bool ghost = false;              // a deleted row the page still holds
    uint16_t pageFileId = 0;         // file id of the page the record was read from

    // The fixed part reaches `needs` bytes.
    bool Reaches(int32_t needs) const { return hasFixed && fixedLength >= needs && fixed.size() >= size_t(needs); }
};

// Repair-name counter shared by the names of one scan.
struct RepairCounter {
    uint64_t value = 0;
};

// Row decoders (one per table). Each returns true when the record is to be appended.
bool DecodeDatabaseFileRow(const CatalogRow& row, DataFileEntry& out);
bool DecodeObjectRow(const CatalogRow& row, bool legacy, RepairCounter& repair, ObjectRecord& out);
bool DecodeAllocationUnitRow(const CatalogRow& row, AllocationUnitRecord& out);
bool DecodeRowsetRow(const CatalogRow& row, RowsetRecord& out);
bool DecodeColumnRow(const CatalogRow& row, RepairCounter& repair, ColumnRecord& out);
bool DecodeTypeRow(const CatalogRow& row, TypeRecord& out);
bool DecodeRowsetColumnRow(const CatalogRow& row, RowsetColumnRecord& out);
bool DecodeObjectReferenceRow(const CatalogRow& row, ObjectReferenceRecord& out);
bool DecodeIndexRow(const CatalogRow& row, IndexRecord& out);
bool DecodeIndexColumnRow(const CatalogRow& row, IndexColumnRecord& out);
bool DecodeRowsetColumnAltRow(const CatalogRow& row, RowsetColumnAltRecord& out);
bool DecodeRowsetColumnOrdinalRow(const CatalogRow& row, RowsetColumnOrdinalRecord& out);
bool DecodeRowsetColumnValueRow(const CatalogRow& row, RowsetColumnValueRecord& out);
bool DecodeLegacyIndexRow(const CatalogRow& row, LegacyIndexEntry& out);
bool DecodeLegacyColumnRow(const CatalogRow& row, RepairCounter& repair, LegacyColumnRecord& out);

// Object 60, the stored texts of modules, constraints and computed columns:
//   F+0 value class u8 (1: definition) | F+1 object id i32 | F+5 sub-object id i32 (column id of a
//   computed column, procedure number) | F+9 value number i32 | var 0 sql_variant | var 1 image value
// A definition is a row of class 1 and value number 0; its image value holds the text's bytes.
struct ObjectDefinitionRow {
    int32_t objectId = 0;
    int32_t subObjectId = 0;
    ByteView bytes;        // the image value as the row holds it
    bool offRow = false;   // `bytes` is the root of a large value
};
bool DecodeObjectDefinitionRow(const CatalogRow& row, ObjectDefinitionRow& out);

// "identity(seed,increment)" from the stored identity value of a column.
std::wstring IdentityTextFromValue(ByteView value);

// Page decoders: every usable record of the page, in slot order, appended to `out`.
void DecodeDatabaseFiles(CDataPage& page, std::vector<DataFileEntry>& out);
void DecodeObjects(CDataPage& page, bool legacy, RepairCounter& repair, std::vector<ObjectRecord>& out);
void DecodeAllocationUnits(CDataPage& page, std::vector<AllocationUnitRecord>& out);
void DecodeRowsets(CDataPage& page, std::vector<RowsetRecord>& out);
void DecodeColumns(CDataPage& page, RepairCounter& repair, std::vector<ColumnRecord>& out);
void DecodeTypes(CDataPage& page, std::vector<TypeRecord>& out);
void DecodeRowsetColumns(CDataPage& page, std::vector<RowsetColumnRecord>& out);
void DecodeObjectReferences(CDataPage& page, std::vector<ObjectReferenceRecord>& out);
void DecodeIndexes(CDataPage& page, std::vector<IndexRecord>& out);
void DecodeIndexColumns(CDataPage& page, std::vector<IndexColumnRecord>& out);
void DecodeRowsetColumnsAlt(CDataPage& page, std::vector<RowsetColumnAltRecord>& out);
void DecodeRowsetColumnOrdinals(CDataPage& page, std::vector<RowsetColumnOrdinalRecord>& out);
void DecodeRowsetColumnValues(CDataPage& page, std::vector<RowsetColumnValueRecord>& out);
void DecodeLegacyIndexes(CDataPage& page, std::map<uint32_t, LegacyIndexEntry>& out);
void DecodeLegacyColumns(CDataPage& page, RepairCounter& repair, std::vector<LegacyColumnRecord>& out);

// The scanners of one data file. Each appends to the list it is given.
class SystemTableScanner {
public:
    SystemTableScanner(CMdfFile& dataFile, RunState& state) : file_(dataFile), state_(state) {}

    void ScanDatabaseFiles(std::vector<DataFileEntry>& out);
    // Sets the state's legacy flag: object 34 without records switches to the legacy object 1.
    void ScanObjects(std::vector<ObjectRecord>& out);
    void ScanAllocationUnits(std::vector<AllocationUnitRecord>& out);
    void ScanRowsets(std::vector<RowsetRecord>& out);
    void ScanColumns(std::vector<ColumnRecord>& out);
    void ScanTypes(std::vector<TypeRecord>& out);
    void ScanObjectId3Table(std::vector<RowsetColumnRecord>& out);
    void ScanObjectId74Table(std::vector<ObjectReferenceRecord>& out);
    void ScanIndexes(std::vector<IndexRecord>& out);
    void ScanObjectId55Table(std::vector<IndexColumnRecord>& out);
    void ScanObjectId13Table(std::vector<RowsetColumnAltRecord>& out);
    void ScanObjectId4Table(std::vector<RowsetColumnOrdinalRecord>& out);
    // The values kept per rowset column (object 9; none before 2012).
    void ScanRowsetColumnValues(std::vector<RowsetColumnValueRecord>& out);
    void ScanObjectId2Table(std::map<uint32_t, LegacyIndexEntry>& out);
    // The definitions of object 60 as {object id, sub-object id, "0x" + upper-case hex of the text's
    // bytes}, the form CMetadataCatalog::BuildObjectLists takes; deleted rows are passed over.
    void ScanObjectDefinitions(std::vector<StringTriple>& out);
    // Legacy columns, joined page by page into the column groups of their tables.
    void ScanColumnNames(std::vector<LegacyColumnRecord>& out, std::vector<ColumnGroupRecord>& groups);

    uint64_t RepairCount() const { return repair_.value; }

private:
    // Loads every page of `objectId` (optionally only PageRef type 1) and hands each to `decode`.
    template <typename Decode>
    void ForEachPage(uint32_t objectId, bool dataPagesOnly, Decode&& decode);

    CMdfFile& file_;
    RunState& state_;
    RepairCounter repair_;
};

}  // namespace kestrane
