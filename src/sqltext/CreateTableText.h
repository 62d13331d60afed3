#pragma once
// CREATE TABLE texts of a table, one flavour per export. Both clear and set the run state's
// identity-column-seen flag, which tells the INSERT writers to name the columns. A computed column whose
// definition is not one self-contained expression on one line is left out, as one without a definition.
#include <string>
#include <vector>

#include "datafile/ColumnDef.h"
#include "platform/RunState.h"

namespace kestrane {

// For the database export; the empty text when the table has nothing to create.
std::wstring BuildCreateTableSql(const ColumnDefList& columns, const std::wstring& tableName, RunState& state);
// For the script export; ends with the SET IDENTITY_INSERT ... ON line when an identity was written.
std::wstring BuildCreateTableScript(const ColumnDefList& columns, const std::wstring& tableName, RunState& state);

// The column names that the script CREATE TABLE text gives each column (sanitized, "Repaircln" + index
// for a name with nothing left, "_" appended until unique); "" for a computed column it leaves out.
std::vector<std::wstring> ScriptColumnNames(const ColumnDefList& columns);
// The same for the database export's text, whose INSERT must name the columns exactly so.
std::vector<std::wstring> SqlColumnNames(const ColumnDefList& columns);

}  // namespace kestrane
