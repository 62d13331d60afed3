#pragma once
// The user tables the log scan files operations for, keyed by the id that log records carry at
// offset 0x30: the rowset (partition) id of the table's heap or clustered index.
#include <cstdint>
#include <map>
#include <string>

namespace kestrane {

struct UserTableInfo {
    uint32_t objectId = 0;
    std::wstring name;
};

using UserTableMap = std::map<uint64_t, UserTableInfo>;

class CMetadataCatalog;
// Fills `map` from the catalogue: every object of type "U " with a name, keyed by the id of the
// rowset that CMetadataCatalog::FindTableRowset gives for it; a key already present keeps the
// table inserted first.
void BuildUserTableMap(CMetadataCatalog& catalog, UserTableMap& map);

}  // namespace kestrane
