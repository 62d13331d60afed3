// The column list of one object, built from the catalogue: names and types from the column table,
// physical placement from the rowset-column tables, keys from the index columns, references from the
// foreign keys, and the definition text of columns that have no place in the stored row.
#include <algorithm>
#include <array>
#include <optional>

#include "datafile/MdfFile.h"
#include "datafile/MetadataCatalog.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

// Object types whose "schema" only names the object.
constexpr std::array<const wchar_t*, 12> kNonTableTypes = {L"PK", L"X ", L"P ", L"C ", L"FN", L"IF",
                                                           L"TR", L"V ", L"D ", L"TT", L"F ", L"TF"};

bool IsNonTableType(const std::wstring& type) {
    return std::any_of(kNonTableTypes.begin(), kNonTableTypes.end(), [&](const wchar_t* t) { return type == t; });
}

ColumnDef NamingEntry(const std::wstring& text) {
    ColumnDef def;
    def.definitionText = text;
    return def;
}

std::wstring TypeText(const TypeRecord& type, uint16_t maxLength) {
    return type.name + L"(" + std::to_wstring(static_cast<int16_t>(maxLength)) + L")";
}

// Selection sort by signed column id: the first of the smallest ids goes to each position in turn.
void SortByColumnId(ColumnDefList& list) {
    for (size_t i = 0; i < list.size(); ++i) {
        size_t smallest = i;
        for (size_t j = i + 1; j < list.size(); ++j) {
            if (static_cast<int32_t>(list[j].columnId) < static_cast<int32_t>(list[smallest].columnId)) smallest = j;
        }
        if (smallest != i) std::swap(list[i], list[smallest]);
    }
}

ColumnDef* FirstWithColumnId(ColumnDefList& list, uint32_t columnId) {
    for (ColumnDef& def : list) {
        if (def.columnId == columnId) return &def;
    }
    return nullptr;
}

}  // namespace

void CMetadataCatalog::LookUpDefinition(const std::vector<StringTriple>& definitions, const std::wstring& idText,
                                        const std::wstring& columnKey, std::wstring& definitionText) {
    for (const StringTriple& triple : definitions) {
        if (triple.key != idText || triple.column != columnKey || triple.value.empty()) continue;
        bool wide = false;
        std::vector<uint8_t> bytes = ReadObjectDefinition(triple.value, wide);
        if (bytes.empty()) continue;
        if (wide) {
            definitionText = Utf16LeToWide(ByteView(bytes));
        } else {
            definitionText.clear();
            for (uint8_t b : bytes) definitionText += static_cast<wchar_t>(b);
        }
    }
}

void CMetadataCatalog::BuildTableColumns() {
    // The column with its type text and code; none for a column of system type 0.
    auto typed = [&](const std::wstring& name, uint8_t systemType, uint32_t userType,
                     uint16_t maxLength) -> std::optional<ColumnDef> {
        if (systemType == 0) return std::nullopt;
        const uint32_t code = systemType == 34 ? kTypeImage : InternalTypeFromSystemType(systemType);
        return ColumnDef(name, TypeText(FindTypeRecord(systemType, userType), maxLength), code);
    };
    const bool legacy = state_ && state_->legacyCatalog;
    if (legacy) {
        for (const LegacyColumnRecord& column : legacyTableColumns) {
            const uint32_t userType = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(column.userTypeId)));
            std::optional<ColumnDef> made = typed(column.name, column.systemTypeId, userType, column.maxLength);
            if (!made) continue;
            ColumnDef& def = *made;
            def.columnId = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(column.columnNumber)));
            def.ordinal = static_cast<int32_t>(def.columnId);
            def.nullable = (column.nullability & 0x01) ? 0 : 1;
            def.precision = column.precision;
            def.scale = column.scale;
            def.collationId = static_cast<int32_t>(column.collationId);
            def.leafOffset = static_cast<int16_t>(column.leafOffset);
            def.leafOffset2 = static_cast<int16_t>(column.leafOffset2);
            tableSchema.push_back(std::move(def));
        }
        return;
    }
    for (const ColumnRecord& column : tableColumns) {
        std::optional<ColumnDef> made = typed(column.name, column.systemTypeId, column.userTypeId, column.maxLength);
        if (!made) continue;
        ColumnDef& def = *made;
        if (def.typeCode == kTypeGeography && column.userTypeId == 129) def.typeCode = kTypeGeometry;
        if (def.typeCode == kTypeGeography && column.userTypeId == 128) def.typeCode = kTypeHierarchyId;
        def.columnId = column.columnId;
        def.ordinal = static_cast<int32_t>(column.columnId);
        def.nullable = (column.status & 0x01) ? 0 : 1;
        def.sparse = (column.status & 0x1000000) ? 1 : 0;
        def.status08Flag = (column.status & 0x08) ? 1 : 0;
        def.precision = column.precision;
        def.scale = column.scale;
        def.collationId = static_cast<int32_t>(column.collationId);
        def.identityText = column.identityText;
        def.hasDefault = column.defaultObjectId != 0 && column.defaultObjectId != kAllBits32 ? 1 : 0;
        tableSchema.push_back(std::move(def));
    }
}

void CMetadataCatalog::AttachStoredDefault(const RowsetColumnRecord& stored, ColumnDef& def) const {
    for (const RowsetColumnValueRecord& value : rowsetColumnValues) {
        // Keyed by the column's place in the rowset: after a dropped column it is not the column id.
        if (value.rowsetId != stored.rowsetId || value.columnId != stored.ordinal) continue;
        def.hasStoredDefault = 1;
        def.storedDefault = value.value;
        return;
    }
}

ColumnDefList CMetadataCatalog::PlaceColumns(const std::wstring& idText, const std::vector<StringTriple>& definitions,
                                             size_t& builtCount) {
    for (const RowsetColumnRecord& stored : currentRowsetColumns) {
        if (ColumnDef* def = FirstWithColumnId(tableSchema, stored.columnId)) {
            def->leafOffset = static_cast<int16_t>(stored.leafOffset & 0xFFFF);
            def->ordinal = static_cast<int32_t>(stored.ordinal);
            // The low half is the bit in leaf rows (the high half the bit in index rows above them).
            def->nullBitmapIndex = static_cast<int32_t>(stored.nullBitIndex & 0xFFFF);
            if (def->typeCode == kTypeBit && stored.bitPosition < 8) def->bitPosition = static_cast<int8_t>(stored.bitPosition);
            def->inLayout = 1;
            AttachStoredDefault(stored, *def);
        }
    }
    if (currentRowsetColumns.empty() && currentRowsetColumnsAlt.empty()) {
        for (ColumnDef& def : tableSchema) def.inLayout = 1;
    }
    const size_t altCount = currentRowsetColumnsAlt.size();
    const bool hadColumns = !tableSchema.empty();
    for (const RowsetColumnAltRecord& stored : currentRowsetColumnsAlt) {
        if (ColumnDef* def = FirstWithColumnId(tableSchema, stored.columnId)) {
            def->leafOffset = static_cast<int16_t>(stored.leafOffset);
            def->nullBitmapIndex = static_cast<int16_t>(stored.nullBitIndex);
            def->ordinal = static_cast<int32_t>(stored.ordinal);
            def->inLayout = 1;
            continue;
        }
        ColumnDef added;
        added.columnId = stored.columnId;
        added.leafOffset = static_cast<int16_t>(stored.leafOffset);
        added.nullBitmapIndex = static_cast<int16_t>(stored.nullBitIndex);
        added.inLayout = 0;
        if (hadColumns) {
            // The new column's ordinal is still 0 when its key is formed.
            LookUpDefinition(definitions, idText, L"0", added.definitionText);
            added.ordinal = kOrdinalNotStored;
            // A stored column that the column table does not name (a uniquifier, a dropped column) and
            // that no definition describes is no column of the table: a nameless entry would only
            // become an empty computed column in the table's definition.
            if (added.definitionText.empty()) continue;
        }
        if (tableSchema.size() != altCount) tableSchema.push_back(std::move(added));
    }
    builtCount = tableSchema.size();

    ColumnDefList result = tableSchema;
    if (altCount == 0) {
        for (ColumnDef& def : result) {
            if (def.inLayout) continue;
            LookUpDefinition(definitions, idText, std::to_wstring(def.ordinal), def.definitionText);
            def.ordinal = kOrdinalNotStored;
        }
    } else {
        for (ColumnDef& def : result) {
            const ColumnDef* placed = nullptr;
            for (const ColumnDef& source : tableSchema) {
                if (static_cast<int32_t>(source.columnId) == def.ordinal) {
                    placed = &source;
                    break;
                }
            }
            if (placed) {
                def.leafOffset = placed->leafOffset;
                def.nullBitmapIndex = placed->nullBitmapIndex;
            } else {
                LookUpDefinition(definitions, idText, std::to_wstring(def.ordinal), def.definitionText);
            }
        }
    }
    return result;
}

ColumnDefList CMetadataCatalog::BuildObjectLists(const std::wstring& name, const std::wstring& type,
                                                 const std::vector<StringTriple>& definitions, TablePages pages) {
    tableSchema.clear();
    currentObject = FindTableObject(name, type);
    return BuildListsOfCurrentObject(definitions, pages);
}

ColumnDefList CMetadataCatalog::BuildTableLists(uint32_t objectId, const std::vector<StringTriple>& definitions,
                                                TablePages pages) {
    tableSchema.clear();
    currentObject = FindUserTable(objectId);
    return BuildListsOfCurrentObject(definitions, pages);
}

ColumnDefList CMetadataCatalog::BuildListsOfCurrentObject(const std::vector<StringTriple>& definitions,
                                                          TablePages pages) {
    if (currentObject.id == -1) return {};
    const uint32_t objectId = static_cast<uint32_t>(currentObject.id);
    const std::wstring idText = std::to_wstring(currentObject.id);
    CollectKeyConstraints(objectId);
    if (IsNonTableType(currentObject.type)) {
        schemaBuilt = 0;
        return {NamingEntry(idText), NamingEntry(currentObject.type), NamingEntry(currentObject.name)};
    }

    schemaBuilt = 0;
    const bool legacy = state_ && state_->legacyCatalog;
    const bool collect = pages == TablePages::Collect;
    if (!collect) {
        // A page list kept from an earlier table would outlive its use (8 bytes and a set node a page).
        std::vector<PageAddress>().swap(tablePages);
        std::set<uint64_t>().swap(pageKeys);
    }
    if (!legacy) {
        indexRowsetMode = 0;
        currentRowset = FindTableRowset(objectId);
        currentAllocationUnit = FindAllocationUnit(currentRowset.rowsetId);
        CollectTableRowsets(objectId);
        if (collect) {
            CollectTableAllocationUnits();
            if (tablePages.empty()) {
                pageKeys.clear();
                AppendTablePages(DataPageList(objectId));
            }
        }
    } else if (collect) {
        CollectTablePages(objectId);
    }

    CollectTableColumns(objectId);
    if (!legacy) LoadRowsetColumns(currentRowset.rowsetId);
    const std::vector<IndexColumnRecord> keyColumnsOfTable = CollectIndexes(objectId);

    BuildTableColumns();
    SortByColumnId(tableSchema);

    size_t builtCount = 0;
    ColumnDefList result = PlaceColumns(idText, definitions, builtCount);

    // The key-column list holds each table once: building a table again (every click on one of its
    // operations did) replaces its entries instead of adding to them. Tables are told apart by id: two
    // schemas may each hold a table of the same name.
    std::erase_if(keyColumns, [&](const KeyColumnRecord& key) { return key.tableId == objectId; });

    for (size_t i = 0; i < builtCount && i < result.size(); ++i) {
        ColumnDef& def = result[i];
        for (const IndexColumnRecord& key : keyColumnsOfTable) {
            if (key.columnId != def.columnId) continue;
            if (key.indexStatus & 0x20) {
                def.keyFlag = 1;
                keyColumns.push_back(KeyColumnRecord{currentObject.name, def.name, L"", key.keyPosition, objectId});
            }
            if (key.indexStatus & 0x08) def.indexFlag08 = 1;
            if (key.indexStatus & 0x40) {
                def.indexFlag40 = 1;
                def.keyPosition = key.keyPosition;
            }
        }
    }

    for (const ForeignKeyRecord& key : foreignKeys) {
        if (key.referencingTableId != objectId) continue;
        if (key.referencedTableName.empty() || key.referencedColumnName.empty()) continue;
        for (ColumnDef& def : result) {
            if (def.columnId != key.referencingColumnId) continue;
            def.foreignKeyFlag = 1;
            def.referencedTable = key.referencedTableName;
            def.referencedColumn = key.referencedColumnName;
        }
    }

    tableSchema = result;
    firstColumnIndex = 0;
    for (size_t i = 0; i < tableSchema.size(); ++i) {
        if (tableSchema[i].ordinal != kOrdinalNotStored) {
            firstColumnIndex = static_cast<uint32_t>(i);
            break;
        }
    }
    schemaBuilt = 1;
    return tableSchema;
}

}  // namespace kestrane
