#pragma once
// The names the tables of one save are created under. The file tells tables apart by schema and name;
// a save creates them by name alone, so another schema's table of a name already saved in the run would
// meet the first one's table (its CREATE refused, its rows put into the wrong columns). Such a table is
// saved under its name with "_2", "_3"... instead, and the run says so.
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace kestrane {

class SavedTableNames {
public:
    static constexpr size_t kMaxName = 128;  // the server's longest table name

    // The name the table of `objectId` is saved under: its stored name while no other table of the run
    // has it (ignoring case, as a server of a case-insensitive collation compares), else a free name
    // made from it. The same id keeps its first answer.
    const std::wstring& NameFor(uint32_t objectId, const std::wstring& storedName);
    // The name given to that table; null for a table never named.
    const std::wstring* Find(uint32_t objectId) const;
    // Free names tried so far with a suffix.
    uint64_t SuffixesTried() const { return suffixesTried_; }

private:
    std::map<uint32_t, std::wstring> byId_;
    std::set<std::wstring> taken_;  // lower-cased
    // Per lower-cased stem (the name cut to leave room for its suffix): the next suffix to try.
    std::map<std::wstring, uint32_t> nextSuffix_;
    uint64_t suffixesTried_ = 0;
};

class SaveLog;
// The name a save creates the table under (empty for a table without a name), with a log line when it
// is not the table's own.
std::wstring TakeSavedName(SavedTableNames& names, uint32_t objectId, const std::wstring& storedName, SaveLog& log);

}  // namespace kestrane
