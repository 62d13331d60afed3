#pragma once
// The records of one data page as rows of values. Each record that passes the filter becomes one
// RowValues (a cell per column of the layout, typed by it) kept on the page; both decoders return the
// page's rows decoded so far.
//
// DecodeRowValuesByRowsetColumns: for tables whose rowset-column records are known; understands
//   row-compressed records (NULLs, lengths and the fixed/variable choice from the CD codes).
// DecodeRowValues: for tables without them; a second placement rule for fixed columns under the
//   legacy catalogue, NULL for a nullable column that gives nothing, and no rows whose first column
//   gives nothing.
#include <cstdint>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"
#include "platform/ByteReader.h"

namespace kestrane {

class CDataPage;
class LobPageSource;

// `lobPages` serves the text pages of large values; null means the page's own data file.
const std::vector<RowValues>& DecodeRowValuesByRowsetColumns(CDataPage& page, TableLayout& layout,
                                                             LobPageSource* lobPages = nullptr);
const std::vector<RowValues>& DecodeRowValues(CDataPage& page, TableLayout& layout,
                                              LobPageSource* lobPages = nullptr);

// Bit (index mod 8) of byte (index div 8), least significant first; false for a missing bitmap or a
// bit beyond it.
bool IsNullBitSet(ByteView bitmap, int64_t index);

}  // namespace kestrane
