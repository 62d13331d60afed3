#pragma once
// The file and folder names of one script run, made from names in the data file: the database
// script's name and each table's folder name. A name with a character above U+00FF becomes
// "UnicodeDatabase_N" / "Unicodetable_N" (N one counter of the run, from 1); every other name is made a
// safe path component without "$(" (a sqlcmd variable), cut to a length that every file system takes,
// and kept unique within the run ignoring case, so that two tables never share a folder on Windows.
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace kestrane {

class ScriptFolderNames {
public:
    static constexpr size_t kMaxComponent = 100;  // UTF-16 units; leaves room for suffixes and ".sql"

    std::wstring DatabaseScriptName(const std::wstring& databaseName);
    std::wstring TableFolderName(const std::wstring& tableName);
    // The name of the run's database folder: the database name, made safe and cut, not renamed.
    static std::wstring DatabaseFolderName(const std::wstring& databaseName);

private:
    std::wstring Unique(std::wstring name);

    uint32_t unicodeCounter_ = 0;
    std::set<std::wstring> taken_;  // lower-cased table folder names
    std::map<std::wstring, uint32_t> nextSuffix_;  // per lower-cased name: the next suffix to try
};

// True when a UTF-16 unit of the name is above 0xFF.
bool HasCharacterAboveLatin1(const std::wstring& name);

}  // namespace kestrane
