#pragma once
// A decoded row as the parameters of the export session's prepared INSERT: one bound value per exported
// column (every column but the computed ones), typed so that the server stores exactly what the file
// holds. NULL only where the file says NULL; texts with every blank and character; binary as bytes;
// numbers, money, decimals, dates and GUIDs as their exact values. No value ever becomes statement text.
#include <vector>

#include "datafile/ColumnDef.h"
#include "datafile/RowValues.h"
#include "export/SqlExportSession.h"
#include "platform/RunState.h"
#include "sqltext/StandInTally.h"

namespace kestrane {

// The names of the exported columns, in column order, as the CREATE TABLE text of the database export
// named them (sanitized, "Repaircln" + index, "_" appended to a repeated name), so that the INSERT
// names the same columns. Empty when the table has no exported column.
std::vector<std::wstring> BuildFieldList(const ColumnDefList& columns);

// One value per exported column of `row` (whose cells follow `columns`): a value's bound parameter, a
// typed NULL for NULL, nothing (the column's default) for a value the row has not got, and a stand-in
// the column accepts for a value the files do not give (counted in `standIns` when given). False, with
// `values` empty, when the table has no exported column.
bool FillRowValues(const ColumnDefList& columns, const RowValues& row, const RunState& state,
                   std::vector<SqlRowValue>& values, StandInTally* standIns = nullptr);

// The bound parameter of one present value (state Value) of `column`. A value longer than its column
// (only damage makes one) is cut to the column's length unless the raw-length option is on.
OdbcValue ValueTextToVariant(const ColumnDef& column, const Cell& cell, const RunState& state);

}  // namespace kestrane
