#pragma once
// The statement text of a rebuilt operation: INSERT of the inserted row, DELETE of the deleted row's
// key, UPDATE that sets the changed columns back to the row with the logged bytes put back.
#include <cstdint>
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"

namespace kestrane {

class RunState;

// The column that names the row in a WHERE clause: the last key-flag column when its text is not
// empty, else the last index-flag-0x08 column when its text is not empty, else column 0 when
// `fallBackToFirst` (DELETE, modify-row); nullptr when there is none.
const ColumnDef* FindStatementKeyColumn(const ColumnDefList& image, bool fallBackToFirst);

// "insert into [T] values( literal,literal)" from image 0.
std::wstring BuildInsertStatement(const std::wstring& table, const ColumnDefList& image, const RunState& state);
// "Delete from [T] where C= V"; empty when the image has no column.
std::wstring BuildDeleteStatement(const std::wstring& table, const ColumnDefList& image);
// "Update [T] SET c = v,... Where C= V" with the columns whose text differs between the images;
// empty when none differs or (modify-columns) when there is no key column.
std::wstring BuildUpdateStatement(const std::wstring& table, const ColumnDefList& present,
                                  const ColumnDefList& rebuilt, uint8_t operation);

// Statement of `images` for an operation code; empty when it yields none.
std::wstring BuildOperationStatementText(uint8_t operation, const std::wstring& table,
                                         const std::vector<ColumnDefList>& images, const RunState& state);

}  // namespace kestrane
