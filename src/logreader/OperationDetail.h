#pragma once
// A click on a row of the operations list: the operation's row images go into the record grid and
// its statement into the status line.
#include <cstdint>
#include <string>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"
#include "logreader/LogByteSource.h"
#include "logreader/OperationPager.h"
#include "logreader/OperationStore.h"
#include "logreader/OperationRebuild.h"
#include "logreader/TableSchemaCache.h"

namespace kestrane {

class CDbFileHolder;
class CMetadataCatalog;
class RunState;

// The record grid below the operations list.
class RecordGridSink {
public:
    virtual ~RecordGridSink() = default;
    // The grid's columns for the clicked table (BuildRecordGridColumns), after the row caption.
    virtual void SetColumns(const ColumnDefList& columns, uint32_t firstColumnIndex) = 0;
    // Inserts a row above all others; its first cell is the row's caption.
    virtual void InsertRowAtTop(const std::vector<std::wstring>& cells) = 0;
};

// Title of the grid's first column, and the captions that say which row an image is.
inline constexpr const wchar_t* kRecordGridRowTitle = L"Row";
inline constexpr const wchar_t* kRowCaptionInserted = L"inserted";
inline constexpr const wchar_t* kRowCaptionDeleted = L"deleted";
inline constexpr const wchar_t* kRowCaptionBefore = L"before";
inline constexpr const wchar_t* kRowCaptionAfter = L"after";

// The caption of image `index` of an operation's images.
std::wstring RecordGridCaption(uint8_t operation, size_t index);

// The cells of one image: its caption, the first shown column's text, then each later stored column's
// text.
std::vector<std::wstring> RecordGridCells(const std::wstring& caption, const ColumnDefList& columns,
                                          const RowValues& image, uint32_t firstColumnIndex);

// The status line of a rebuilt operation: its statement, else why it has none.
std::wstring OperationStatusLine(const RowImages& rebuilt, const std::wstring& tableName, const ColumnDefList& columns,
                                 const RunState& state);

class OperationDetailView {
public:
    // `schemas` keeps the clicked tables' schemas for the listing (null: this view keeps its own).
    OperationDetailView(const OperationStore& store, CDbFileHolder& holder, CMetadataCatalog& catalog, RunState& state,
                        const LogByteSource& log, OperationStatusSink& status, RecordGridSink& grid,
                        TableSchemaCache* schemas = nullptr)
        : store_(store), holder_(holder), catalog_(catalog), state_(state), log_(log), status_(status), grid_(grid),
          schemas_(schemas ? *schemas : ownSchemas_), rebuilder_(holder, catalog, state, log) {
        rebuilder_.UseListing(store);
    }

    // NM_CLICK on the list: `entryIndex` is the clicked row's item data.
    void OnOperationClicked(uint64_t entryIndex);
    // Rebuilds one operation into the status line and the record grid.
    void BuildOperationStatement(uint64_t blockOffset, uint64_t allocationUnitId, TableLayout& layout,
                                 uint32_t slotIndex, const std::wstring& tableName);

private:
    const OperationStore& store_;
    CDbFileHolder& holder_;
    CMetadataCatalog& catalog_;
    RunState& state_;
    const LogByteSource& log_;
    OperationStatusSink& status_;
    RecordGridSink& grid_;
    TableSchemaCache ownSchemas_;
    TableSchemaCache& schemas_;
    const ClickedTableSchema* clicked_ = nullptr;  // the schema of the operation being shown
    OperationRebuilder rebuilder_;                 // keeps the listing's row histories between clicks
};

}  // namespace kestrane
