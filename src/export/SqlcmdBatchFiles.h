#pragma once
// "mainsqlscript.bat" and "mainsqlscript.sh": the two batch files that run a script folder's scripts
// with sqlcmd in the order they were written, with Windows (integrated) authentication given a server
// and a database, or SQL Server authentication given a user, a password, a server and a database.
// Scripts are named by their path relative to the folder, with "/" between components.
//
// The .bat is 8-bit text in the database's code page: its head and its label-1 lines are written as
// each script is added, the label-2 lines are kept and written at the end with the usage block. A "%"
// in a path is doubled (cmd would expand it even between quotes). The .sh is UTF-8: it runs from its
// own folder, every path is single-quoted, and the arguments reach sqlcmd as arguments, never as code.
// Both pass the folder as DIR with every "'" doubled (the scripts use it inside N'...'), and both say
// in their usage text that the named database is dropped before it is created. Both take exactly two or
// four arguments (else the usage, status 1) and run from their own folder, wherever they are called
// from. When sqlcmd reports that the database script failed, no table script runs (it would run in the
// login's default database). Any other script that sqlcmd ends with an error, or in which the server
// refused statements (an error message of level 11 or above), is named, the next one runs, and the exit
// status is 1. A table script ends at a refused CREATE TABLE (TableScriptWriter).
#include <string>
#include <vector>

#include "platform/BinaryFile.h"

namespace kestrane {

class SqlcmdBatchFiles {
public:
    SqlcmdBatchFiles(const std::wstring& folder, int codePage);

    // Creates both files and writes their heads; false (and a failure path) when either cannot be made.
    bool Open();
    // The script that creates the database: when sqlcmd reports it failed, no later script runs.
    void AddCreateDatabaseScript(const std::wstring& relativePath);
    // A script run with the database name and the folder as sqlcmd variables (DBNAME, DIR).
    void AddDatabaseScript(const std::wstring& relativePath);
    // A key or module script, run in the database itself.
    void AddKeyScript(const std::wstring& relativePath);
    // The label-2 part, the end and the usage block of the .bat, the exit of the .sh; closes both files.
    void Finish();

    const std::wstring& BatPath() const { return batPath_; }
    const std::wstring& ShellPath() const { return shellPath_; }
    // The one a user of this platform runs.
    const std::wstring& PlatformPath() const;
    // Files that could not be written whole (their paths), to be reported.
    const std::vector<std::wstring>& Failures() const { return failures_; }

    // The texts the files are made of (fixed parts).
    static const wchar_t* const kBatHead;
    static const wchar_t* const kBatEnd;
    static const wchar_t* const kBatUsage;
    static const char* const kShellHead;
    static const char* const kShellEnd;

private:
    enum class Kind { CreateDatabase, Database, Key };
    void AddScript(const std::wstring& relativePath, Kind kind);
    void WriteBat(const std::wstring& text);
    void WriteShell(const std::string& text);

    std::wstring folder_, batPath_, shellPath_;
    int codePage_;
    BinaryFile bat_, shell_;
    std::vector<std::wstring> labelTwo_;
    std::vector<std::wstring> failures_;
    bool batFailed_ = false, shellFailed_ = false;
};

// The path as a quoted .bat argument: "\" between components, every "%" doubled.
std::wstring BatQuotedPath(const std::wstring& relativePath);
// The path as a quoted sh word: '...' with every "'" written as '\''.
std::string ShellQuotedPath(const std::wstring& relativePath);

}  // namespace kestrane
