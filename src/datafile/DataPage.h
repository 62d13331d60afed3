#pragma once
// A data or system-table page as the catalogue scanners and the row decoders use it: the records of a
// PrimaryRecordPage, plus the table layouts and decoded rows that the decoders keep with the page.
#include <memory>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/ColumnDef.h"
#include "datafile/PrimaryRecordPage.h"
#include "datafile/RowValues.h"

namespace kestrane {

class CDataPage : public PrimaryRecordPage {
public:
    CDataPage(PageBuffer image, CMdfFile* owner, RunState& state);
    CDataPage(PageBuffer image, ByteView row, CMdfFile* owner, RunState& state);
    ~CDataPage() override;

    std::vector<std::unique_ptr<TableLayout>> tableLayouts;
    // Every row decoded from this page so far.
    std::vector<RowValues> decodedRows;
};

}  // namespace kestrane
