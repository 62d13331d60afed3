#include "datafile/SystemTableScanner.h"

#include <algorithm>
#include <unordered_map>

#include "datafile/DataPage.h"
#include "datafile/LargeValue.h"
#include "datafile/MdfFile.h"
#include "platform/RunState.h"
#include "platform/TextCodec.h"

namespace kestrane {

namespace {

// Fills `row` from the record of one slot; false when the slot has no record.
bool RowOfSlot(const CDataPage& page, size_t slot, CatalogRow& row) {
    const CRecord* base = page.RecordAt(slot);
    if (!base) return false;
    const auto* record = dynamic_cast<const CPrimaryRecord*>(base);
    row.recordType = base->recordType;
    row.hasFixed = base->hasFixedData();
    row.fixed = ByteView(base->fixedData);
    row.fixedLength = record ? record->fixedLength : static_cast<int32_t>(base->fixedData.size());
    row.columnCount = base->columnCount;
    row.variable.clear();
    row.complex.clear();
    for (const ColumnValue& value : base->columnValues) {
        row.variable.push_back(value.hasData() ? ByteView(value.data.data(), std::min<size_t>(value.length, value.data.size()))
                                               : ByteView());
        row.complex.push_back(value.complex);
    }
    row.ghost = base->ghost != 0;
    row.pageFileId = page.header() ? page.header()->thisPage.fileId : 0;
    return true;
}

// Runs `decode` on every record of the page, in slot order, up to the header's slot count.
template <typename Decode>
void ForEachRow(CDataPage& page, Decode&& decode) {
    const size_t slots = page.header() ? page.header()->slotCount : 0;
    const size_t limit = std::min(slots, page.RecordCount());
    CatalogRow row;
    for (size_t i = 0; i < limit; ++i) {
        if (RowOfSlot(page, i, row)) decode(row);
    }
}

template <typename Record, typename DecodeRow>
void AppendRows(CDataPage& page, std::vector<Record>& out, DecodeRow&& decodeRow) {
    ForEachRow(page, [&](const CatalogRow& row) {
        Record record;
        if (decodeRow(row, record)) out.push_back(std::move(record));
    });
}

}  // namespace

void DecodeDatabaseFiles(CDataPage& page, std::vector<DataFileEntry>& out) { AppendRows(page, out, DecodeDatabaseFileRow); }

void DecodeObjects(CDataPage& page, bool legacy, RepairCounter& repair, std::vector<ObjectRecord>& out) {
    AppendRows(page, out, [&](const CatalogRow& row, ObjectRecord& r) { return DecodeObjectRow(row, legacy, repair, r); });
}

void DecodeAllocationUnits(CDataPage& page, std::vector<AllocationUnitRecord>& out) {
    AppendRows(page, out, DecodeAllocationUnitRow);
}

void DecodeRowsets(CDataPage& page, std::vector<RowsetRecord>& out) { AppendRows(page, out, DecodeRowsetRow); }

void DecodeColumns(CDataPage& page, RepairCounter& repair, std::vector<ColumnRecord>& out) {
    AppendRows(page, out, [&](const CatalogRow& row, ColumnRecord& r) { return DecodeColumnRow(row, repair, r); });
}

void DecodeTypes(CDataPage& page, std::vector<TypeRecord>& out) { AppendRows(page, out, DecodeTypeRow); }

void DecodeRowsetColumns(CDataPage& page, std::vector<RowsetColumnRecord>& out) {
    AppendRows(page, out, DecodeRowsetColumnRow);
}

void DecodeObjectReferences(CDataPage& page, std::vector<ObjectReferenceRecord>& out) {
    AppendRows(page, out, DecodeObjectReferenceRow);
}

void DecodeIndexes(CDataPage& page, std::vector<IndexRecord>& out) { AppendRows(page, out, DecodeIndexRow); }

void DecodeIndexColumns(CDataPage& page, std::vector<IndexColumnRecord>& out) {
    AppendRows(page, out, DecodeIndexColumnRow);
}

void DecodeRowsetColumnsAlt(CDataPage& page, std::vector<RowsetColumnAltRecord>& out) {
    AppendRows(page, out, DecodeRowsetColumnAltRow);
}

void DecodeRowsetColumnOrdinals(CDataPage& page, std::vector<RowsetColumnOrdinalRecord>& out) {
    AppendRows(page, out, DecodeRowsetColumnOrdinalRow);
}

void DecodeRowsetColumnValues(CDataPage& page, std::vector<RowsetColumnValueRecord>& out) {
    AppendRows(page, out, DecodeRowsetColumnValueRow);
}

void DecodeLegacyIndexes(CDataPage& page, std::map<uint32_t, LegacyIndexEntry>& out) {
    ForEachRow(page, [&](const CatalogRow& row) {
        LegacyIndexEntry entry;
        if (DecodeLegacyIndexRow(row, entry)) out[entry.objectId] = entry;
    });
}

void DecodeLegacyColumns(CDataPage& page, RepairCounter& repair, std::vector<LegacyColumnRecord>& out) {
    AppendRows(page, out,
               [&](const CatalogRow& row, LegacyColumnRecord& r) { return DecodeLegacyColumnRow(row, repair, r); });
}

bool DecodeObjectDefinitionRow(const CatalogRow& row, ObjectDefinitionRow& out) {
    constexpr uint8_t kDefinitionClass = 1;
    if (row.ghost || !row.Reaches(13) || row.variable.size() < 2) return false;
    if (row.fixed.getOr<uint8_t>(0, 0) != kDefinitionClass || row.fixed.getOr<int32_t>(9, -1) != 0) return false;
    out.objectId = row.fixed.getOr<int32_t>(1, 0);
    out.subObjectId = row.fixed.getOr<int32_t>(5, 0);
    out.bytes = row.variable[1];
    out.offRow = row.complex.size() > 1 && row.complex[1] != 0;
    return !out.bytes.empty();
}

template <typename Decode>
void SystemTableScanner::ForEachPage(uint32_t objectId, bool dataPagesOnly, Decode&& decode) {
    const PageMap& pages = file_.SystemPages();
    auto it = pages.find(objectId);
    if (it == pages.end()) return;
    // Decoding never touches the map, but a copy keeps the walk safe whatever a loader does to it.
    const std::vector<PageRef> refs = it->second;
    for (const PageRef& ref : refs) {
        if (state_.stopRequested()) return;  // the catalogue stays partial; the run says so
        if (dataPagesOnly && ref.pageType != 1) continue;
        std::unique_ptr<CDataPage> page = file_.LoadSystemPage(PageAddress(ref.fileId, ref.page));
        if (!page) continue;
        decode(*page);
    }
}

void SystemTableScanner::ScanDatabaseFiles(std::vector<DataFileEntry>& out) {
    ForEachPage(kSysFiles, false, [&](CDataPage& page) { DecodeDatabaseFiles(page, out); });
}

void SystemTableScanner::ScanObjects(std::vector<ObjectRecord>& out) {
    if (file_.SystemPages().empty()) return;
    repair_.value = 0;
    const size_t before = out.size();
    ForEachPage(kSysObjects, false, [&](CDataPage& page) { DecodeObjects(page, false, repair_, out); });
    if (out.size() == before) {
        state_.legacyCatalog = 1;
        ForEachPage(kLegacyObjects, false, [&](CDataPage& page) { DecodeObjects(page, true, repair_, out); });
    } else {
        state_.legacyCatalog = 0;
    }
    repair_.value = 0;
}

void SystemTableScanner::ScanAllocationUnits(std::vector<AllocationUnitRecord>& out) {
    const uint32_t id = state_.legacyCatalog ? kLegacyAllocationUnits : kSysAllocationUnits;
    ForEachPage(id, false, [&](CDataPage& page) { DecodeAllocationUnits(page, out); });
}

void SystemTableScanner::ScanRowsets(std::vector<RowsetRecord>& out) {
    ForEachPage(kSysRowsets, false, [&](CDataPage& page) { DecodeRowsets(page, out); });
}

void SystemTableScanner::ScanColumns(std::vector<ColumnRecord>& out) {
    if (file_.SystemPages().empty()) return;
    repair_.value = 0;
    ForEachPage(kSysColumns, false, [&](CDataPage& page) { DecodeColumns(page, repair_, out); });
    ForEachPage(kSysColumnsMore, false, [&](CDataPage& page) { DecodeColumns(page, repair_, out); });
    repair_.value = 0;
}

void SystemTableScanner::ScanTypes(std::vector<TypeRecord>& out) {
    ForEachPage(kSysTypes, false, [&](CDataPage& page) { DecodeTypes(page, out); });
}

void SystemTableScanner::ScanObjectId3Table(std::vector<RowsetColumnRecord>& out) {
    ForEachPage(kSysRowsetColumns, false, [&](CDataPage& page) { DecodeRowsetColumns(page, out); });
}

void SystemTableScanner::ScanObjectId74Table(std::vector<ObjectReferenceRecord>& out) {
    ForEachPage(kSysObjectReferences, true, [&](CDataPage& page) { DecodeObjectReferences(page, out); });
}

void SystemTableScanner::ScanIndexes(std::vector<IndexRecord>& out) {
    ForEachPage(kSysIndexes, false, [&](CDataPage& page) { DecodeIndexes(page, out); });
}

void SystemTableScanner::ScanObjectId55Table(std::vector<IndexColumnRecord>& out) {
    ForEachPage(kSysIndexColumns, false, [&](CDataPage& page) { DecodeIndexColumns(page, out); });
}

void SystemTableScanner::ScanObjectId13Table(std::vector<RowsetColumnAltRecord>& out) {
    ForEachPage(kSysRowsetColumnsAlt, false, [&](CDataPage& page) { DecodeRowsetColumnsAlt(page, out); });
}

void SystemTableScanner::ScanObjectId4Table(std::vector<RowsetColumnOrdinalRecord>& out) {
    ForEachPage(kSysRowsetColumnOrdinals, false, [&](CDataPage& page) { DecodeRowsetColumnOrdinals(page, out); });
}

void SystemTableScanner::ScanRowsetColumnValues(std::vector<RowsetColumnValueRecord>& out) {
    ForEachPage(kSysRowsetColumnValues, false, [&](CDataPage& page) { DecodeRowsetColumnValues(page, out); });
}

void SystemTableScanner::ScanObjectId2Table(std::map<uint32_t, LegacyIndexEntry>& out) {
    if (file_.SystemPages().empty()) return;
    repair_.value = 0;
    ForEachPage(kLegacyIndexes, false, [&](CDataPage& page) {
        // The page header's own type decides here, not the index entry's.
        if (page.header() && page.header()->pageType == 1) DecodeLegacyIndexes(page, out);
    });
}

void SystemTableScanner::ScanObjectDefinitions(std::vector<StringTriple>& out) {
    MdfLobPageSource lobPages(file_);
    ForEachPage(kSysObjectValues, false, [&](CDataPage& page) {
        ForEachRow(page, [&](const CatalogRow& row) {
            ObjectDefinitionRow definition;
            if (!DecodeObjectDefinitionRow(row, definition)) return;
            std::wstring hex;
            if (!definition.offRow) {
                hex = HexText(definition.bytes);
            } else if (definition.bytes.size() != 16) {  // a max-type root, not a text pointer
                LobContext context(lobPages, state_.codePage);
                LobOptions options;
                options.hex = 1;
                hex = GetLobValue(definition.bytes, context, options, nullptr, false, nullptr);
            }
            if (hex.empty()) return;
            out.push_back({std::to_wstring(definition.objectId), std::to_wstring(definition.subObjectId), L"0x" + hex});
        });
    });
}

void SystemTableScanner::ScanColumnNames(std::vector<LegacyColumnRecord>& out, std::vector<ColumnGroupRecord>& groups) {
    if (file_.SystemPages().empty()) return;
    repair_.value = 0;
    std::unordered_map<uint32_t, std::vector<ColumnGroupRecord*>> groupsById;
    for (ColumnGroupRecord& group : groups) groupsById[group.objectId].push_back(&group);
    ForEachPage(kLegacyColumns, false, [&](CDataPage& page) {
        const size_t first = out.size();
        DecodeLegacyColumns(page, repair_, out);
        for (size_t i = first; i < out.size(); ++i) {
            auto found = groupsById.find(out[i].objectId);
            if (found == groupsById.end()) continue;
            for (ColumnGroupRecord* group : found->second) {
                ColumnGroupEntry entry;
                entry.columnName = out[i].name;
                entry.position = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(out[i].columnPosition)));
                entry.status = out[i].statusBits;
                group->entries.push_back(std::move(entry));
            }
        }
    });
    repair_.value = 0;
}

}  // namespace kestrane
