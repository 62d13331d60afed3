#pragma once
// The records of one data page as column texts. Each record that passes the filter fills the value
// texts of the layout's column list, and a copy of the whole list is kept on the page as one decoded
// row. Both decoders return a copy of all rows decoded on the page so far.
//
// DecodeRowValuesByRowsetColumns: for tables whose rowset-column records are known; understands
//   row-compressed records (NULLs, lengths and the fixed/variable choice from the CD codes).
// DecodeRowValues: for tables without them; a second placement rule for fixed columns under the
//   legacy catalogue, "NULL" for an empty text of a nullable column, and no rows whose first text is
//   empty.
#include <cstdint>
#include <vector>

#include "datafile/CatalogRecords.h"
#include "datafile/ColumnDef.h"
#include "platform/ByteReader.h"

namespace kestrane {

class CDataPage;
class LobPageSource;

// `lobPages` serves the text pages of large values; null means the page's own data file.
std::vector<ColumnDefList> DecodeRowValuesByRowsetColumns(CDataPage& page, TableLayout& layout,
                                                         LobPageSource* lobPages = nullptr);
std::vector<ColumnDefList> DecodeRowValues(CDataPage& page, TableLayout& layout, LobPageSource* lobPages = nullptr);

// Bit (index mod 8) of byte (index div 8), least significant first; false for a missing bitmap or a
// bit beyond it.
bool IsNullBitSet(ByteView bitmap, int64_t index);

}  // namespace kestrane
