#include "datafile/MetadataCatalog.h"

#include <unordered_map>
#include <unordered_set>

#include "datafile/DbFileHolder.h"
#include "datafile/MdfFile.h"
#include "datafile/SecondaryDataFiles.h"
#include "platform/RunState.h"

namespace kestrane {

namespace {

constexpr uint64_t kUnitIdBase = uint64_t{1} << 56;

// An id whose high word marks a unit id of the 2^56 family, so that taking 2^56 off may find its pages.
bool MayRetryWithoutBase(uint64_t id) {
    const uint32_t high = static_cast<uint32_t>(id >> 32);
    const uint32_t low = static_cast<uint32_t>(id);
    return high > 0x00FFFFFF && (high > 0x01000000 || low != 0);
}

uint32_t KeyOf(uint64_t v) { return static_cast<uint32_t>(v / 65536); }

}  // namespace

uint32_t AllocationUnitPageKey(uint64_t id, uint64_t ownerId) {
    return KeyOf(id == ownerId ? id : id - kUnitIdBase);
}

std::vector<uint8_t> ReadObjectDefinitionBytes(const std::wstring& hexText, bool& wide) {
    wide = false;
    const size_t n = hexText.size();
    std::vector<uint8_t> bytes;
    if (n / 2 < 1) return bytes;
    auto nibble = [&](size_t i) -> uint8_t {
        if (i >= n) return 0;
        wchar_t c = hexText[i];
        if (c >= L'0' && c <= L'9') return static_cast<uint8_t>(c - L'0');
        if (c >= L'A' && c <= L'F') return static_cast<uint8_t>(c - L'A' + 10);
        return 0;
    };
    bytes.reserve(n / 2);
    for (size_t k = 1; 2 * k < n; ++k) {
        uint8_t b = static_cast<uint8_t>((nibble(2 * k) << 4) | nibble(2 * k + 1));
        if (!bytes.empty() && b == 0) wide = true;
        bytes.push_back(b);
    }
    return bytes;
}

CMetadataCatalog::CMetadataCatalog(CMdfFile* dataFile, RunState& state) : dataFile_(dataFile), state_(&state) {
    if (dataFile_) reader_ = std::make_unique<SystemTableScanner>(*dataFile_, state);
}

CMetadataCatalog::CMetadataCatalog(CMdfFile* dataFile) : dataFile_(dataFile) {
    if (!dataFile_) return;
    state_ = &dataFile_->State();
    reader_ = std::make_unique<SystemTableScanner>(*dataFile_, *state_);
    Load();
}

CMetadataCatalog::~CMetadataCatalog() = default;

void CMetadataCatalog::Load() {
    dataFile_->LoadBootPage();
    reader_->ScanDatabaseFiles(files);
    LocateDataFiles(dataFile_->Path());
    reader_->ScanObjects(objects);
    reader_->ScanAllocationUnits(allocationUnits);
    reader_->ScanRowsets(rowsets);
    const bool legacy = state_->legacyCatalog != 0;
    if (legacy) {
        reader_->ScanObjectId2Table(legacyIndexes);
        for (const auto& [objectId, entry] : legacyIndexes) {
            if (objectId < 101 || entry.indexId != 1) continue;
            ColumnGroupRecord group;
            group.objectId = objectId;
            for (const ObjectRecord& object : objects) {
                if (static_cast<uint32_t>(object.id) == objectId) {
                    group.tableName = object.name;
                    break;
                }
            }
            columnGroups.push_back(std::move(group));
        }
        reader_->ScanColumnNames(legacyColumns, columnGroups);
    } else {
        reader_->ScanColumns(columns);
    }
    if (objects.empty()) AddMissingObjects();
    reader_->ScanTypes(types);
    if (!legacy) {
        reader_->ScanObjectId3Table(rowsetColumns);
        reader_->ScanObjectId74Table(objectReferences);
        reader_->ScanIndexes(indexes);
        reader_->ScanObjectId55Table(indexColumns);
        reader_->ScanObjectId13Table(rowsetColumnsAlt);
        reader_->ScanObjectId4Table(rowsetColumnOrdinals);
        reader_->ScanRowsetColumnValues(rowsetColumnValues);
        BuildForeignKeys();
    }
}

void CMetadataCatalog::LocateDataFiles(const std::wstring& primaryPath) {
    if (dataFile_) kestrane::LocateDataFiles(*dataFile_, files, primaryPath);
}

void CMetadataCatalog::ResetCatalogue() {
    allocationUnits.clear();
    rowsets.clear();
    columns.clear();
    objects.clear();
    types.clear();
    rowsetColumns.clear();
    objectReferences.clear();
    indexes.clear();
    indexColumns.clear();
    rowsetColumnsAlt.clear();
    rowsetColumnOrdinals.clear();
    rowsetColumnValues.clear();
    foreignKeys.clear();
    keyConstraints.clear();
    files.clear();
    tableColumns.clear();
    legacyTableColumns.clear();
    currentRowsetColumnsAlt.clear();
    currentRowsetColumnOrdinals.clear();
    tableIndexes.clear();
    tableRowsets.clear();
    tableAllocationUnits.clear();
    currentRowsetColumns.clear();
    tablePages.clear();
    keyColumns.clear();
}

void CMetadataCatalog::AddMissingObjects() {
    std::unordered_set<int32_t> known;
    for (const ObjectRecord& object : objects) known.insert(object.id);
    for (const ColumnRecord& column : columns) {
        const int32_t id = static_cast<int32_t>(column.objectId);
        if (!known.insert(id).second) continue;
        ObjectRecord object;
        object.id = id;
        object.name = std::to_wstring(id);
        object.type = L"U ";
        objects.push_back(std::move(object));
    }
}

void CMetadataCatalog::BuildForeignKeys() {
    // Class 29 rows by their referencing id and sub-id, in list order.
    std::map<std::pair<uint32_t, uint32_t>, std::vector<const ObjectReferenceRecord*>> referenced;
    for (const ObjectReferenceRecord& s : objectReferences) {
        if (s.refClass == 29) referenced[{s.referencingId, s.referencingSubId}].push_back(&s);
    }
    for (const ObjectReferenceRecord& r : objectReferences) {
        if (r.refClass != 28) continue;
        auto match = referenced.find({r.referencingId, r.referencingSubId});
        if (match == referenced.end()) continue;
        for (const ObjectReferenceRecord* s : match->second) {
            ForeignKeyRecord key;
            key.foreignKeyId = r.referencingId;
            key.keyColumnOrdinal = r.referencingSubId;
            key.referencingTableId = r.referencedId;
            key.referencingColumnId = r.referencedSubId;
            key.referencedTableId = s->referencedId;
            key.referencedColumnId = s->referencedSubId;
            foreignKeys.push_back(std::move(key));
        }
    }
    if (foreignKeys.empty()) return;
    // Where ids repeat, the last object or column of the list names the key.
    std::unordered_map<uint32_t, const ObjectRecord*> objectById;
    for (const ObjectRecord& object : objects) objectById[static_cast<uint32_t>(object.id)] = &object;
    std::map<std::pair<uint32_t, uint32_t>, const ColumnRecord*> columnById;
    for (const ColumnRecord& column : columns) columnById[{column.objectId, column.columnId}] = &column;
    auto objectOf = [&](uint32_t id) -> const ObjectRecord* {
        auto it = objectById.find(id);
        return it == objectById.end() ? nullptr : it->second;
    };
    auto columnName = [&](uint32_t objectId, uint32_t columnId, std::wstring& name) {
        auto it = columnById.find({objectId, columnId});
        if (it != columnById.end()) name = it->second->name;
    };
    for (ForeignKeyRecord& key : foreignKeys) {
        if (const ObjectRecord* o = objectOf(key.referencingTableId)) key.referencingTableName = o->name;
        if (const ObjectRecord* o = objectOf(key.referencedTableId)) key.referencedTableName = o->name;
        if (const ObjectRecord* o = objectOf(key.foreignKeyId)) {
            key.name = o->name;
            key.status = o->status;
        }
        columnName(key.referencingTableId, key.referencingColumnId, key.referencingColumnName);
        columnName(key.referencedTableId, key.referencedColumnId, key.referencedColumnName);
    }
}

void CMetadataCatalog::CollectKeyConstraints(uint32_t tableId) {
    keyConstraints.clear();
    const bool legacy = state_ && state_->legacyCatalog;
    for (const ObjectRecord& object : objects) {
        if (object.parentId != tableId) continue;
        KeyConstraintRecord key;
        key.name = object.name;
        key.type = object.type;
        key.id = legacy ? object.parentId : static_cast<uint32_t>(object.id);
        key.primaryKey = object.type == L"PK";
        key.unique = object.type == L"UQ";
        key.foreignKey = object.type == L"F ";
        keyConstraints.push_back(std::move(key));
    }
}

ObjectRecord CMetadataCatalog::FindTableObject(const std::wstring& name, const std::wstring& type) const {
    for (const ObjectRecord& object : objects) {
        if (object.name != name) continue;
        if (object.type == type || (object.type != L"U " && object.type != L"S ")) return object;
    }
    return ObjectRecord();
}

ObjectRecord CMetadataCatalog::FindUserTable(uint32_t objectId) const {
    for (const ObjectRecord& object : objects)
        if (static_cast<uint32_t>(object.id) == objectId && object.type == L"U ") return object;
    return ObjectRecord();
}

void CMetadataCatalog::CollectTableColumns(uint32_t tableId) {
    tableColumns.clear();
    legacyTableColumns.clear();
    constexpr uint32_t kMask = 0xFCFFFFFF;
    const uint32_t key = tableId & kMask;
    if (state_ && state_->legacyCatalog) {
        for (const LegacyColumnRecord& column : legacyColumns) {
            if ((column.objectId & kMask) != key) continue;
            bool seen = false;
            for (const LegacyColumnRecord& kept : legacyTableColumns)
                seen = seen || static_cast<int16_t>(kept.columnNumber) == static_cast<int16_t>(column.columnNumber);
            if (!seen) legacyTableColumns.push_back(column);
        }
        return;
    }
    for (const ColumnRecord& column : columns) {
        if ((column.objectId & kMask) != key || column.number != 0) continue;
        bool seen = false;
        for (const ColumnRecord& kept : tableColumns) seen = seen || kept.columnId == column.columnId;
        if (!seen) tableColumns.push_back(column);
    }
}

TypeRecord CMetadataCatalog::FindTypeRecord(uint8_t systemTypeId, uint32_t userTypeId) const {
    const TypeRecord* remembered = nullptr;
    for (const TypeRecord& type : types) {
        if (type.typeId != systemTypeId) continue;
        if (!remembered) remembered = &type;
        if (type.typeId == userTypeId && type.systemTypeId == systemTypeId && type.schemaId == 1) return type;
    }
    return remembered ? *remembered : TypeRecord();
}

RowsetRecord CMetadataCatalog::FindTableRowset(uint32_t tableId) {
    const RowsetRecord* best = nullptr;
    const RowsetRecord* last = nullptr;
    for (const RowsetRecord& rowset : rowsets) {
        if (rowset.objectId != tableId) continue;
        last = &rowset;
        if (rowset.indexId < 2 && (!best || rowset.indexId <= best->indexId)) best = &rowset;
    }
    if (last) schemaBuilt = 1;
    if (best) return *best;
    for (const IndexRecord& index : indexes) {
        if (index.objectId == tableId && index.rowsetId != 0) {
            indexRowsetMode = 1;
            break;
        }
    }
    return last ? *last : RowsetRecord();
}

const std::vector<PageRef>* CMetadataCatalog::DataPageList(uint32_t key) const {
    if (!dataFile_) return nullptr;
    const PageMap& pages = dataFile_->DataPages();
    auto it = pages.find(key);
    return it == pages.end() || it->second.empty() ? nullptr : &it->second;
}

const std::vector<PageRef>* CMetadataCatalog::UnitPageList(uint64_t id, uint64_t ownerId, bool retry) const {
    const std::vector<PageRef>* list = DataPageList(AllocationUnitPageKey(id, ownerId));
    if (!list && retry && MayRetryWithoutBase(id)) list = DataPageList(KeyOf(id - kUnitIdBase));
    return list;
}

AllocationUnitRecord CMetadataCatalog::FindAllocationUnit(uint64_t rowsetId) {
    AllocationUnitRecord result;
    for (const AllocationUnitRecord& unit : allocationUnits) {
        if (unit.ownerId == rowsetId && unit.type == 1) result = unit;
    }
    if (!result.HasNoPages()) {
        if (const auto* list = UnitPageList(result.id, result.ownerId, false)) {
            // The last page of the list that is the unit's own (the list may hold other units' pages).
            const bool checkHeaders = KeyShared(result);
            for (auto it = list->rbegin(); it != list->rend(); ++it) {
                if (checkHeaders && !PageBelongsToUnit(*it, result)) continue;
                result.firstFileId = it->fileId;
                result.firstPageId = it->page;
                break;
            }
        }
        return result;
    }
    result.id = result.ownerId = rowsetId;
    if (const auto* list = UnitPageList(rowsetId, rowsetId, true)) {
        indexRowsetMode = 1;
        result.firstFileId = list->back().fileId;
        result.firstPageId = list->back().page;
    }
    return result;
}

void CMetadataCatalog::CollectTableRowsets(uint32_t tableId) {
    tableRowsets.clear();
    for (const RowsetRecord& rowset : rowsets) {
        if (rowset.objectId == tableId) tableRowsets.push_back(rowset);
    }
    if (!tableRowsets.empty()) return;
    for (const IndexRecord& index : indexes) {
        if (index.objectId != tableId || index.rowsetId == 0) continue;
        RowsetRecord rowset;
        rowset.rowsetId = index.rowsetId;
        rowset.objectId = tableId;
        rowset.status = index.status;
        tableRowsets.push_back(rowset);
    }
}

bool CMetadataCatalog::KeyShared(const AllocationUnitRecord& unit) const {
    const uint32_t key = AllocationUnitPageKey(unit.id, unit.ownerId);
    const bool upgraded = unit.id == unit.ownerId;
    for (const AllocationUnitRecord& other : allocationUnits) {
        if (other.id == unit.id || AllocationUnitPageKey(other.id, other.ownerId) != key) continue;
        // Units of one upgraded table share their key and their pages; listing each page once is enough.
        if (upgraded && other.id == other.ownerId) continue;
        return true;
    }
    return false;
}

bool CMetadataCatalog::PageBelongsToUnit(const PageRef& ref, const AllocationUnitRecord& unit) const {
    // The index maps pages by the header's object id alone, which several allocation units may share
    // (a user unit and a system table). The header's index id and object id together give the unit
    // id of the page.
    std::unique_ptr<CPage_Header> header = dataFile_->ReadPageHeader(PageAddress(ref.fileId, ref.page));
    if (!header) return true;
    const uint64_t headerUnit = (uint64_t{header->indexId} << 48) | (uint64_t{header->objectId} << 16);
    if (headerUnit == unit.id) return true;
    // Upgraded files: unit id = partition id, data pages carry the object id and index id 0.
    return unit.id == unit.ownerId && header->indexId == 0 &&
           header->objectId == AllocationUnitPageKey(unit.id, unit.ownerId);
}

void CMetadataCatalog::AppendTablePages(const std::vector<PageRef>* refs, const AllocationUnitRecord* unit) {
    if (!refs) return;
    // Headers are read only for a unit whose key another unit also has; units made up from a rowset
    // id (type 0xFF) name no header to compare with.
    const bool checkHeaders = unit && unit->type != 0xFF && KeyShared(*unit);
    for (const PageRef& ref : *refs) {
        if (ref.pageType != 1) continue;
        if (checkHeaders && !PageBelongsToUnit(ref, *unit)) continue;
        // A page reached through two units of the table is listed once.
        if (!pageKeys.insert(uint64_t{ref.fileId} << 32 | ref.page).second) continue;
        tablePages.emplace_back(ref.fileId, ref.page);
    }
}

void CMetadataCatalog::CollectTableAllocationUnits() {
    tableAllocationUnits.clear();
    tablePages.clear();
    // Page keys guard against listing a page twice for this table; a key kept from an earlier call
    // would hide the pages of a table that is built again.
    pageKeys.clear();
    auto collect = [&](bool byUnitId) {
        for (const RowsetRecord& rowset : tableRowsets) {
            for (const AllocationUnitRecord& unit : allocationUnits) {
                if ((byUnitId ? unit.id : unit.ownerId) == rowset.rowsetId) tableAllocationUnits.push_back(unit);
            }
        }
    };
    collect(false);
    if (indexRowsetMode && tableAllocationUnits.empty()) {
        collect(true);
        if (tableAllocationUnits.empty()) {
            for (const RowsetRecord& rowset : tableRowsets) {
                AllocationUnitRecord unit;
                unit.id = unit.ownerId = rowset.rowsetId;
                tableAllocationUnits.push_back(unit);
            }
        }
    }
    for (const AllocationUnitRecord& unit : tableAllocationUnits) {
        AppendTablePages(UnitPageList(unit.id, unit.ownerId, indexRowsetMode != 0), &unit);
    }
}

void CMetadataCatalog::CollectTablePages(uint32_t objectId) {
    tablePages.clear();
    if (!dataFile_) return;
    auto it = dataFile_->DataPages().find(objectId);
    if (it == dataFile_->DataPages().end()) return;
    for (const PageRef& ref : it->second) {
        if (ref.pageType == 1) tablePages.emplace_back(ref.fileId, ref.page);
    }
}

void CMetadataCatalog::LoadRowsetColumns(uint64_t rowsetId) {
    currentRowsetColumns.clear();
    currentRowsetColumnsAlt.clear();
    currentRowsetColumnOrdinals.clear();
    for (const RowsetColumnRecord& column : rowsetColumns) {
        if (column.rowsetId == rowsetId) currentRowsetColumns.push_back(column);
    }
    if (!currentRowsetColumns.empty()) return;
    for (const RowsetColumnAltRecord& column : rowsetColumnsAlt) {
        if (column.rowsetId == rowsetId) currentRowsetColumnsAlt.push_back(column);
    }
    for (const RowsetColumnOrdinalRecord& ordinal : rowsetColumnOrdinals) {
        if (ordinal.rowsetId != rowsetId) continue;
        for (RowsetColumnAltRecord& column : currentRowsetColumnsAlt) {
            if (column.columnId == ordinal.columnId) column.ordinal = ordinal.ordinal;
        }
        currentRowsetColumnOrdinals.push_back(ordinal);
    }
}

std::vector<IndexColumnRecord> CMetadataCatalog::CollectIndexes(uint32_t tableId) {
    tableIndexes.clear();
    for (const IndexRecord& index : indexes) {
        if (index.objectId == tableId && (index.status & 0x01) && index.indexId > 0) tableIndexes.push_back(index);
    }
    std::vector<IndexColumnRecord> result;
    for (const IndexRecord& index : tableIndexes) {
        for (const IndexColumnRecord& column : indexColumns) {
            if (column.objectId != tableId || column.indexId != index.indexId) continue;
            result.push_back(column);
            result.back().indexStatus = index.status;
        }
    }
    return result;
}

std::vector<IndexColumnRecord> CMetadataCatalog::CollectIndexColumns(uint32_t tableId, uint32_t indexId,
                                                                     uint32_t status) const {
    std::vector<IndexColumnRecord> result;
    for (const IndexColumnRecord& column : indexColumns) {
        if (column.objectId != tableId || column.indexId != indexId) continue;
        result.push_back(column);
        result.back().indexStatus = status;
    }
    return result;
}

const std::vector<StringTriple>& CMetadataCatalog::ObjectDefinitions() {
    if (!objectDefinitionsRead_ && reader_ && state_ && state_->legacyCatalog == 0)
        reader_->ScanObjectDefinitions(objectDefinitions_);
    objectDefinitionsRead_ = true;
    return objectDefinitions_;
}

bool CMetadataCatalog::ScriptUserTypes(const std::function<std::wstring(const std::wstring&)>& bracketName) {
    for (const TypeRecord& type : types) {
        if (type.schemaId != 1) continue;
        const uint32_t code = InternalTypeFromSystemType(type.systemTypeId);
        int32_t length = type.maxLength;
        if ((code == kTypeNChar || code == kTypeNVarChar) && type.maxLength != 0xFFFF) length /= 2;
        const std::wstring lengthText = type.maxLength == 0xFFFF ? L"max" : std::to_wstring(length);
        std::wstring base = TypeNameFromSystemType(type.systemTypeId);
        if (base.empty()) continue;
        switch (code) {
            case kTypeVarChar: case kTypeNVarChar: case kTypeVarBinary: case kTypeBinary: case kTypeChar:
            case kTypeNChar:
                base += L"(" + lengthText + L")";
                break;
            default:
                break;
        }
        typeStatements.push_back(L"Create type " + bracketName(type.name) + L" from " + base);
    }
    return true;
}

CMetadataCatalog* CMdfFile::GetMetadata(CMetadataCatalog* existing) {
    if (existing == nullptr && catalog_ == nullptr) {
        progress_.StatusText(kTextProcessingMetadata);
        catalog_ = new CMetadataCatalog(this);
    }
    return catalog_;
}

CMetadataCatalog* CDbFileHolder::GetCatalog(CMetadataCatalog* fallback) {
    if (catalog_ == nullptr && dataFile_) return dataFile_->GetMetadata(nullptr);
    return fallback;
}

}  // namespace kestrane
