#pragma once
// The statement text of a rebuilt operation: INSERT of the inserted row, DELETE of the deleted row,
// UPDATE that sets the changed columns back to the row with the logged bytes put back. Values are
// written with the literal rules of the INSERT scripts, so that every statement runs as it stands, and
// a WHERE clause names its row by every column of the table's unique key.
#include <cstdint>
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"

namespace kestrane {

class RunState;

// The columns that name one row: every column of the primary key (key flag), else of the unique
// indexes (index flag 0x08), else every stored column whose values can be compared.
std::vector<size_t> StatementKeyColumns(const ColumnDefList& columns);

// "[a]= 1 and [b] IS NULL" over the key columns of `image`; empty when a key value is not available.
std::wstring WhereCondition(const ColumnDefList& columns, const RowValues& image, const RunState& state);

// "insert into [T] values( literal,literal)" from image 0.
std::wstring BuildInsertStatement(const std::wstring& table, const ColumnDefList& columns, const RowValues& image,
                                  const RunState& state);
// "Delete from [T] where <condition>"; empty when the row cannot be named.
std::wstring BuildDeleteStatement(const std::wstring& table, const ColumnDefList& columns, const RowValues& image,
                                  const RunState& state);
// "Update [T] SET [c] = v,... Where <condition>" with the columns whose value differs between the row
// as it stands (`present`, which the condition names) and the row before the change (`before`);
// empty when none differs or the row cannot be named.
std::wstring BuildUpdateStatement(const std::wstring& table, const ColumnDefList& columns, const RowValues& present,
                                  const RowValues& before, const RunState& state);

// Why `images` of an operation give no statement (BuildOperationStatementText is empty): "No statement: "
// and the reason; empty when they give one.
std::wstring NoStatementReason(uint8_t operation, const ColumnDefList& columns, const std::vector<RowValues>& images,
                              const RunState& state);

// The reasons of an update whose row reads the same before and after: nothing stored changed, or only
// bytes that no column of the table reads now (a dropped column, the row's version stamp).
extern const wchar_t kNoStatementReadsTheSame[];
extern const wchar_t kNoStatementChangeNotRead[];

// Statement of `images` for an operation code; empty when it yields none.
std::wstring BuildOperationStatementText(uint8_t operation, const std::wstring& table, const ColumnDefList& columns,
                                         const std::vector<RowValues>& images, const RunState& state);

}  // namespace kestrane
