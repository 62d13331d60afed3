#pragma once
// The files of the script folder: UTF-16LE ".sql" files that begin with FF FE, and 8-bit pieces of the
// batch file. Paths are wide texts joined with "/"; names taken from the data file pass through
// SafePathComponent before they become path components.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/BinaryFile.h"

namespace kestrane {

// A wide path as the file system takes it (UTF-8).
std::string NativePath(const std::wstring& path);

// Writes FF FE as two single-byte writes.
bool WriteByteOrderMark(BinaryFile& file);
// Writes the text's UTF-16LE code units (no terminator). Script files are only ever written in
// order (created, or opened for appending), so every write lands at the file's end.
bool WriteScriptText(BinaryFile& file, const std::wstring& text);

// folder/name.sql, the name made safe as one path component.
std::wstring ScriptFilePath(const std::wstring& name, const std::wstring& folder);
// Creates (truncating) ScriptFilePath(name, folder) and closes it; the path, or "" when it cannot be
// created.
std::wstring CreateScriptFile(const std::wstring& name, const std::wstring& folder);

// Writes the drop-and-create text of database `databaseName` into the existing file at `path`; the
// path, or "" when the file is missing or cannot be written.
std::wstring WriteCreateDatabaseScript(const std::wstring& path, const std::wstring& databaseName);

// (path up to its last separator) + "/" + name, created as one folder level when missing; returned
// whether or not the creation succeeded. A path without separator gives `name` itself (relative).
std::wstring EnsureOutputFolder(const std::wstring& path, const std::wstring& name);

// A batch of a "use" line and its GO between sqlcmd's ":on error exit" and ":on error ignore": when the
// database is missing (its script failed) sqlcmd ends the script there, instead of running the rest in
// the login's default database. Errors after it are left to the server, as before.
std::wstring GuardedUseBatch(const std::wstring& useBatch);

// Creates folder/T/T.sql with the table's head (PRINT line, guarded use line) followed by `text`; the
// path, or "" when the file cannot be created.
std::wstring WriteTableScriptHeader(const std::wstring& text, const std::wstring& folder, const std::wstring& tableName,
                                    const std::wstring& databaseName);

// The text in the 8-bit code page, or nothing when the conversion is empty (the caller then writes
// nothing for that piece). Characters that the code page lacks become "?".
std::optional<std::string> CStringToAnsi(const std::wstring& text, int codePage);
// Appends CStringToAnsi(text) at the end of the file; false when nothing was written.
bool WriteAnsiText(BinaryFile& file, const std::wstring& text, int codePage);

}  // namespace kestrane
